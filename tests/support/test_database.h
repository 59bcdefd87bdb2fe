#pragma once
// A real SQLite database built from db/schema.sql in a temporary folder, with
// a session on it, for tests that need only the rows they insert.

#include <filesystem>
#include <string>

#include "common/database.h"
#include "support/recording_operator.h"

namespace orba::test {

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// A fresh temporary folder, removed with everything in it on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The folder as a prefix, ending with '/'.
  std::string prefix() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

// Creates `file` from db/schema.sql (and db/demo.sql when asked).
void CreateDatabaseFile(const std::filesystem::path& file, bool with_demo = false);

class TestDatabase {
 public:
  explicit TestDatabase(bool with_demo = false);
  // Runs statements directly (several separated by ';'); fails the test on error.
  void Exec(const std::string& sql);
  // The first column of the first row as text ("" for Null or no row).
  std::string Scalar(const std::string& sql);
  // EXPLAIN QUERY PLAN lines of a statement, joined by '\n'.
  std::string QueryPlan(const std::string& sql);

  RecordingOperator op;
  TempFolder folder;
  DatabaseSession session{op};
};

}  // namespace orba::test
