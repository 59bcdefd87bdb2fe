#include "support/test_database.h"

#include "common/service_tables.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orba::test {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out << content;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orba-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

namespace {

void ExecScript(sqlite3* db, const std::string& sql, const std::string& what) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message != nullptr ? message : "?";
    sqlite3_free(message);
    throw std::runtime_error(what + ": " + text);
  }
}

}  // namespace

void CreateDatabaseFile(const std::filesystem::path& file, bool with_demo) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create database");
  try {
    ExecScript(db, ReadFile(ORBA_SCHEMA_SQL), "schema.sql");
    if (with_demo) ExecScript(db, ReadFile(ORBA_DEMO_SQL), "demo.sql");
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

TestDatabase::TestDatabase(bool with_demo) {
  CreateDatabaseFile(folder.path() / "ORBA.MDB", with_demo);
  if (!session.OpenDatabase("ORBA.MDB", folder.prefix())) {
    throw std::runtime_error("cannot open test database");
  }
  EnsureServiceTables(session);
}

void TestDatabase::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(session.Handle(), sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message != nullptr ? message : "?";
    sqlite3_free(message);
    ADD_FAILURE() << "SQL failed: " << text << "\n" << sql;
  }
}

std::string TestDatabase::Scalar(const std::string& sql) {
  Recordset rs;
  if (session.OpenRecordset(sql, rs)) {
    ADD_FAILURE() << "query failed: " << session.ProviderError() << "\n" << sql;
    return {};
  }
  return rs.Eof() ? std::string() : rs.Field(std::size_t{0}).Text();
}

std::string TestDatabase::QueryPlan(const std::string& sql) {
  Recordset rs;
  if (session.OpenRecordset("EXPLAIN QUERY PLAN " + sql, rs)) {
    ADD_FAILURE() << "plan failed: " << session.ProviderError() << "\n" << sql;
    return {};
  }
  std::string plan;
  for (; !rs.Eof(); rs.MoveNext()) plan += rs.Field("detail").Text() + "\n";
  return plan;
}

}  // namespace orba::test
