#include "support/test_database.h"

#include "common/service_tables.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <set>
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

std::string TestServer() {
  const char* value = std::getenv("ORBA_TEST_POSTGRESQL");
  return value != nullptr ? value : "";
}

namespace {

void SqliteScript(sqlite3* db, const std::string& sql, const std::string& what) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message != nullptr ? message : "?";
    sqlite3_free(message);
    throw std::runtime_error(what + ": " + text);
  }
}

// A libpq connection that runs whole scripts (the simple protocol takes
// several statements in one text).
class ServerConnection {
 public:
  explicit ServerConnection(const std::string& connection) : conn_(PQconnectdb(connection.c_str())) {
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string message = PQerrorMessage(conn_);
      PQfinish(conn_);
      throw std::runtime_error("cannot connect to the test server: " + message);
    }
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
  }
  ~ServerConnection() { PQfinish(conn_); }
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  void Script(const std::string& sql, const std::string& what) const {
    PGresult* result = PQexec(conn_, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    const std::string message = PQresultErrorMessage(result);
    PQclear(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw std::runtime_error(what + ": " + message);
  }

 private:
  PGconn* conn_;
};

// What the tests' own queries take from SQLite, for reading rows back the
// same way on a server: group_concat (in the order of its input), ifnull,
// quote and ||, which write a number as SQLite writes a REAL (8.5, 10.0).
// Never used by the program.
constexpr const char* kServerTestFunctions = R"(
CREATE FUNCTION test_text(value anyelement) RETURNS text LANGUAGE sql IMMUTABLE STRICT AS $$
    SELECT CASE WHEN pg_typeof(value) <> 'numeric'::regtype THEN value::text
                WHEN value::text::numeric = trunc(value::text::numeric)
                THEN trunc(value::text::numeric)::text || '.0'
                ELSE rtrim(value::text, '0') END $$;
CREATE FUNCTION test_cat(a smallint, b text) RETURNS text LANGUAGE sql IMMUTABLE STRICT AS $$ SELECT a::text || b $$;
CREATE FUNCTION test_cat(a text, b smallint) RETURNS text LANGUAGE sql IMMUTABLE STRICT AS $$ SELECT a || b::text $$;
CREATE OPERATOR || (LEFTARG = smallint, RIGHTARG = text, FUNCTION = test_cat);
CREATE OPERATOR || (LEFTARG = text, RIGHTARG = smallint, FUNCTION = test_cat);
CREATE FUNCTION test_cat(a integer, b text) RETURNS text LANGUAGE sql IMMUTABLE STRICT AS $$ SELECT a::text || b $$;
CREATE FUNCTION test_cat(a text, b integer) RETURNS text LANGUAGE sql IMMUTABLE STRICT AS $$ SELECT a || b::text $$;
CREATE OPERATOR || (LEFTARG = integer, RIGHTARG = text, FUNCTION = test_cat);
CREATE OPERATOR || (LEFTARG = text, RIGHTARG = integer, FUNCTION = test_cat);
CREATE FUNCTION test_cat(a bigint, b text) RETURNS text LANGUAGE sql IMMUTABLE STRICT AS $$ SELECT a::text || b $$;
CREATE FUNCTION test_cat(a text, b bigint) RETURNS text LANGUAGE sql IMMUTABLE STRICT AS $$ SELECT a || b::text $$;
CREATE OPERATOR || (LEFTARG = bigint, RIGHTARG = text, FUNCTION = test_cat);
CREATE OPERATOR || (LEFTARG = text, RIGHTARG = bigint, FUNCTION = test_cat);
CREATE FUNCTION test_cat(a numeric, b text) RETURNS text LANGUAGE sql IMMUTABLE STRICT AS $$ SELECT test_text(a) || b $$;
CREATE FUNCTION test_cat(a text, b numeric) RETURNS text LANGUAGE sql IMMUTABLE STRICT AS $$ SELECT a || test_text(b) $$;
CREATE OPERATOR || (LEFTARG = numeric, RIGHTARG = text, FUNCTION = test_cat);
CREATE OPERATOR || (LEFTARG = text, RIGHTARG = numeric, FUNCTION = test_cat);
CREATE FUNCTION test_concat(acc text, value anyelement, separator text) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$
    SELECT CASE WHEN value IS NULL THEN acc WHEN acc IS NULL THEN test_text(value)
                ELSE acc || separator || test_text(value) END $$;
CREATE FUNCTION test_concat(acc text, value anyelement) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$ SELECT test_concat(acc, value, ',') $$;
CREATE AGGREGATE group_concat(anyelement, text) (SFUNC = test_concat, STYPE = text);
CREATE AGGREGATE group_concat(anyelement) (SFUNC = test_concat, STYPE = text);
CREATE FUNCTION ifnull(value anyelement, fallback text) RETURNS text
    LANGUAGE sql IMMUTABLE AS $$ SELECT coalesce(test_text(value), fallback) $$;
CREATE FUNCTION ifnull(value anyelement, fallback anyelement) RETURNS anyelement
    LANGUAGE sql IMMUTABLE AS $$ SELECT coalesce(value, fallback) $$;
CREATE FUNCTION quote(value anyelement) RETURNS text LANGUAGE sql IMMUTABLE AS $$
    SELECT CASE WHEN value IS NULL THEN 'NULL'
                WHEN pg_typeof(value) IN ('text'::regtype, 'character'::regtype, 'character varying'::regtype)
                THEN quote_literal(value) ELSE test_text(value) END $$;
)";

// A database name no other test process uses.
std::string UniqueDatabaseName() {
  static std::atomic<int> counter{0};
  std::random_device random;
  return "orba_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" +
         std::to_string(random() % 1000000);
}

}  // namespace

void CreateDatabaseFile(const std::filesystem::path& file, bool with_demo) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create database");
  try {
    SqliteScript(db, ReadFile(ORBA_SCHEMA_SQL), "schema.sql");
    if (with_demo) SqliteScript(db, ReadFile(ORBA_DEMO_SQL), "demo.sql");
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

ScratchDatabase::ScratchDatabase(const std::filesystem::path& folder, bool with_demo, bool create)
    : file_(folder / "ORBA.MDB") {
  const std::string server = TestServer();
  if (server.empty()) {
    if (create) CreateDatabaseFile(file_, with_demo);
    return;
  }
  name_ = UniqueDatabaseName();
  // A later keyword of a connection string wins over an earlier one.
  connection_ = server + " dbname=" + name_;
  if (!create) return;
  ServerConnection(server).Script("CREATE DATABASE " + name_ + " ENCODING 'UTF8' TEMPLATE template0", "create database");
  created_ = true;
  Script(ReadFile(ORBA_SCHEMA_POSTGRESQL_SQL) + (with_demo ? ReadFile(ORBA_DEMO_SQL) : std::string()) +
         kServerTestFunctions);
}

ScratchDatabase::~ScratchDatabase() {
  if (!created_) return;
  try {
    // FORCE: a service that a test killed may still hold a connection.
    ServerConnection(TestServer()).Script("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)", "drop database");
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
}

bool ScratchDatabase::Open(DatabaseSession& session) const {
  return OnServer() ? session.OpenServer(connection_)
                    : session.OpenDatabase(file_.filename().string(), file_.parent_path().string() + "/");
}

void ScratchDatabase::Script(const std::string& sql) const {
  if (OnServer()) {
    ServerConnection(connection_).Script(sql, "script");
    return;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + file_.string());
  }
  sqlite3_busy_timeout(db, 5000);
  try {
    SqliteScript(db, sql, "script");
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

std::string ScratchDatabase::ConfigurationElement() const {
  return OnServer() ? "<BANCO TIPO=\"postgresql\" CONEXAO=\"" + connection_ + "\"/>" : std::string();
}

// Whether the text at `at` names what precedes it (an alias, not a keyword).
static bool Named(const std::string& sql, std::size_t at) {
  while (at < sql.size() && std::isspace(static_cast<unsigned char>(sql[at]))) ++at;
  std::string word;
  while (at < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[at])) || sql[at] == '_')) {
    word += static_cast<char>(std::tolower(static_cast<unsigned char>(sql[at++])));
  }
  static const std::set<std::string> keywords = {"",      "where", "order", "group", "limit", "union", "join",
                                                 "inner", "left",  "right", "cross", "having"};
  return keywords.count(word) == 0;
}

// SQLite reads "from (select ...)" without a name for the subquery; a server
// before PostgreSQL 16 wants one. The tests' own queries get it here.
std::string NameSubqueries(const std::string& sql) {
  std::string out;
  int named = 0;
  std::vector<bool> open;  // per parenthesis: a subquery of a FROM
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    out += c;
    if (c == '(') {
      std::size_t k = out.size() >= 2 ? out.size() - 2 : 0;
      while (k > 0 && (out[k] == ' ' || out[k] == '\r' || out[k] == '\n')) --k;
      const bool after_from = k >= 3 && (out.compare(k - 3, 4, "from") == 0 || out.compare(k - 3, 4, "FROM") == 0);
      open.push_back(after_from);
    } else if (c == ')' && !open.empty()) {
      const bool subquery = open.back();
      open.pop_back();
      if (subquery && !Named(sql, i + 1)) out += " AS test_sub" + std::to_string(++named);
    }
  }
  return out;
}

std::vector<std::string> SplitStatements(const std::string& sql, bool server) {
  std::vector<std::string> statements;
  std::string current;
  bool quoted = false;
  bool dollar_quoted = false;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (!quoted && !dollar_quoted && c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
      current += '\n';
      continue;
    }
    if (c == '\'' && !dollar_quoted) quoted = !quoted;
    if (server && !quoted && c == '$' && i + 1 < sql.size() && sql[i + 1] == '$') {
      dollar_quoted = !dollar_quoted;
      current += "$$";
      ++i;
      continue;
    }
    current += c;
    // A trigger body holds semicolons of its own: SQLite says where it ends.
    const bool ends = c == ';' && !quoted && !dollar_quoted && (server || sqlite3_complete(current.c_str()) != 0);
    if (ends) {
      current.pop_back();
      statements.push_back(current);
      current.clear();
    }
  }
  statements.push_back(current);
  std::vector<std::string> kept;
  for (std::string& statement : statements) {
    if (statement.find_first_not_of(" \t\r\n") != std::string::npos) kept.push_back(std::move(statement));
  }
  return kept;
}

TestDatabase::TestDatabase(bool with_demo) : scratch(folder.path(), with_demo) {
  if (!scratch.Open(session)) throw std::runtime_error("cannot open test database");
  EnsureServiceTables(session);
}

void TestDatabase::Exec(const std::string& sql) {
  for (const std::string& statement : SplitStatements(sql, OnServer())) {
    try {
      session.ExecuteSql(OnServer() ? NameSubqueries(statement) : statement);
    } catch (const DatabaseError& e) {
      ADD_FAILURE() << "SQL failed: " << e.what() << "\n" << statement;
      return;
    }
  }
}

std::string TestDatabase::Scalar(const std::string& sql) {
  Recordset rs;
  if (session.OpenRecordset(OnServer() ? NameSubqueries(sql) : sql, rs)) {
    ADD_FAILURE() << "query failed: " << session.ProviderError() << "\n" << sql;
    return {};
  }
  return rs.Eof() ? std::string() : rs.Field(std::size_t{0}).Text();
}

// OpenRecordset for a plan of a statement with its values: true when it failed.
static bool FailedPlan(DatabaseSession& session, const std::string& explain, const std::vector<Value>& values,
                       Recordset& rs) {
  try {
    rs = session.Query(explain, values);
    return false;
  } catch (const DatabaseError&) {
    return true;
  }
}

std::string TestDatabase::QueryPlan(const std::string& sql, const std::vector<Value>& values) {
  Recordset rs;
  std::string plan;
  if (OnServer()) {
    // Only these have a plan on a server (SQLite also plans the rest).
    std::string verb;
    for (const char c : sql) {
      if (std::isalpha(static_cast<unsigned char>(c))) verb += static_cast<char>(std::tolower(c));
      else if (!verb.empty()) break;
    }
    static const std::set<std::string> planned = {"select", "insert", "update", "delete", "with"};
    if (planned.count(verb) == 0) return {};
    // Tables of a few rows are cheaper to scan: ask what an index can do.
    session.ExecuteSql("SET enable_seqscan = off");
    const bool failed = FailedPlan(session, "EXPLAIN " + sql, values, rs);
    session.ExecuteSql("SET enable_seqscan = on");
    if (failed) {
      ADD_FAILURE() << "plan failed: " << session.ProviderError() << "\n" << sql;
      return {};
    }
    for (; !rs.Eof(); rs.MoveNext()) plan += rs.Field(std::size_t{0}).Text() + "\n";
    return plan;
  }
  if (FailedPlan(session, "EXPLAIN QUERY PLAN " + sql, values, rs)) {
    ADD_FAILURE() << "plan failed: " << session.ProviderError() << "\n" << sql;
    return {};
  }
  for (; !rs.Eof(); rs.MoveNext()) plan += rs.Field("detail").Text() + "\n";
  return plan;
}

std::vector<std::string> TestDatabase::TablesReadWhole(const std::string& sql, const std::vector<Value>& values) {
  // SQLite: "SCAN table" (without an index); PostgreSQL: "Seq Scan on table".
  static const std::regex sqlite_scan(R"(^\s*[|`-]*\s*SCAN (\w+))");
  static const std::regex server_scan(R"(Seq Scan on (\w+))");
  const std::regex& scan = OnServer() ? server_scan : sqlite_scan;
  std::vector<std::string> tables;
  std::istringstream lines(QueryPlan(sql, values));
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (!std::regex_search(line, match, scan)) continue;
    std::string table = match[1].str();
    for (char& c : table) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Neither a list bound as one value (InList) nor the one row of a select
    // without a table ("SCAN CONSTANT ROW") is a table.
    if (table == "json_each" || table == "constant") continue;
    tables.push_back(table);
  }
  return tables;
}

StatementRecorder::StatementRecorder(DatabaseSession& session) : session_(session) {
  session_.SetStatementObserver([this](const std::string& text, const std::vector<Value>& bound) {
    if (paused) return;
    statements.push_back(text);
    values.push_back(bound);
  });
}

StatementRecorder::~StatementRecorder() { session_.SetStatementObserver(nullptr); }

}  // namespace orba::test
