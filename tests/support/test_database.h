#pragma once
// A real database built from the schema in a temporary place, with a session
// on it, for tests that need only the rows they insert.
//
// The engine is SQLite (a file in a temporary folder) unless the environment
// variable ORBA_TEST_POSTGRESQL holds the libpq connection string of a
// PostgreSQL cluster where the tests may create databases (tools/pg-cluster.sh
// starts a private one; CTest runs the database tests a second time on it).

#include <filesystem>
#include <string>
#include <vector>

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

// The connection string of the PostgreSQL cluster under test; empty when the
// tests run on SQLite.
std::string TestServer();
inline bool OnServer() { return !TestServer().empty(); }

// Creates the SQLite file `file` from db/schema.sql (and db/demo.sql when asked).
void CreateDatabaseFile(const std::filesystem::path& file, bool with_demo = false);

// A fresh database of the engine under test, gone on destruction: the file
// ORBA.MDB in `folder`, or a database of its own on the server.
class ScratchDatabase {
 public:
  // Creates it from the schema (and db/demo.sql when asked); nothing at all
  // with `create` false (on a server: a name no database has).
  ScratchDatabase(const std::filesystem::path& folder, bool with_demo, bool create = true);
  ~ScratchDatabase();
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;

  bool OnServer() const { return !connection_.empty(); }
  // Opens a session on it (as the service would).
  bool Open(DatabaseSession& session) const;
  // Runs statements (several separated by ';') through a connection of its
  // own; throws on error.
  void Script(const std::string& sql) const;
  // The BANCO element that points ORBA.INI at it; empty for SQLite.
  std::string ConfigurationElement() const;

  const std::filesystem::path& file() const { return file_; }
  const std::string& connection() const { return connection_; }
  const std::string& name() const { return name_; }

 private:
  std::filesystem::path file_;
  std::string connection_;  // for this database
  std::string name_;
  bool created_ = false;
};

class TestDatabase {
 public:
  explicit TestDatabase(bool with_demo = false);
  // Runs statements (several separated by ';') through the session; fails
  // the test on error.
  void Exec(const std::string& sql);
  // The first column of the first row as text ("" for Null or no row).
  std::string Scalar(const std::string& sql);
  // SQLite: EXPLAIN QUERY PLAN lines; PostgreSQL: EXPLAIN lines, with
  // sequential scans ruled out where an index can serve (small test tables
  // would otherwise always be scanned). Joined by '\n'. `values` are those
  // bound to the statement's markers.
  std::string QueryPlan(const std::string& sql, const std::vector<Value>& values = {});
  // The tables (lower case) that the plan of a statement reads whole.
  std::vector<std::string> TablesReadWhole(const std::string& sql, const std::vector<Value>& values = {});
  // Another connection to the same database, like the back office's.
  bool OpenAnother(DatabaseSession& other) const { return scratch.Open(other); }
  bool OnServer() const { return scratch.OnServer(); }

  RecordingOperator op;
  TempFolder folder;
  ScratchDatabase scratch;
  DatabaseSession session{op};
};

// Splits a script into its statements at the semicolons outside quotes
// (also $$ quotes), comments and, for SQLite, trigger bodies.
std::vector<std::string> SplitStatements(const std::string& sql, bool server);

// SQLite reads "from (select ...)" without a name for the subquery; a server
// before PostgreSQL 16 wants one: the tests' own queries get it here.
std::string NameSubqueries(const std::string& sql);

// Every statement that the session runs while the recorder lives, in order.
class StatementRecorder {
 public:
  explicit StatementRecorder(DatabaseSession& session);
  ~StatementRecorder();
  StatementRecorder(const StatementRecorder&) = delete;
  StatementRecorder& operator=(const StatementRecorder&) = delete;
  std::vector<std::string> statements;
  std::vector<std::vector<Value>> values;  // bound to each statement
  bool paused = false;  // while a test prepares its own rows

 private:
  DatabaseSession& session_;
};

}  // namespace orba::test
