#include "common/database.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <limits>

#include "common/error_report.h"
#include "common/operator.h"
#include "common/sql_text.h"
#include "common/text.h"

namespace orba {

// ---------------------------------------------------------------- Value

std::string Value::Text() const {
  if (const auto* i = std::get_if<long long>(&v_)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v_)) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
  }
  if (const auto* s = std::get_if<std::string>(&v_)) return *s;
  return {};
}

long long Value::Int() const {
  if (const auto* i = std::get_if<long long>(&v_)) return *i;
  double d = 0;
  if (const auto* r = std::get_if<double>(&v_)) {
    d = *r;
  } else if (const auto* s = std::get_if<std::string>(&v_)) {
    if (auto whole = ParseInteger(*s)) return *whole;
    auto parsed = ParseDecimal(*s);
    if (!parsed) throw DatabaseError("Tipo incompatível: '" + *s + "' não é um número");
    d = *parsed;
  } else {
    throw DatabaseError("Uso inválido de Null");
  }
  if (!std::isfinite(d) || std::fabs(d) > 9.2e18) throw DatabaseError("Estouro de capacidade");
  return std::llround(d);
}

std::int32_t Value::Int32() const {
  const long long v = Int();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
    throw DatabaseError("Estouro de capacidade");
  }
  return static_cast<std::int32_t>(v);
}

double Value::Real() const {
  if (const auto* i = std::get_if<long long>(&v_)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&v_)) return *d;
  if (const auto* s = std::get_if<std::string>(&v_)) {
    if (auto parsed = ParseDecimal(*s)) return *parsed;
    throw DatabaseError("Tipo incompatível: '" + *s + "' não é um número");
  }
  throw DatabaseError("Uso inválido de Null");
}

// ---------------------------------------------------------------- Recordset

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

void Recordset::RequireOpen() const {
  if (!open_) throw DatabaseError("O objeto de consulta está fechado");
}

void Recordset::RequireRow() const {
  RequireOpen();
  if (position_ >= rows_.size()) throw DatabaseError("Nenhum registro atual (fim da consulta)");
}

bool Recordset::Eof() const {
  RequireOpen();
  return position_ >= rows_.size();
}

void Recordset::MoveNext() {
  RequireRow();
  ++position_;
}

std::size_t Recordset::RecordCount() const {
  RequireOpen();
  return rows_.size();
}

const Value& Recordset::Field(std::string_view name) const {
  RequireRow();
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (SameName(columns_[i], name)) return rows_[position_][i];
  }
  throw DatabaseError("Campo não encontrado na consulta: " + std::string(name));
}

const Value& Recordset::Field(std::size_t index) const {
  RequireRow();
  if (index >= columns_.size()) throw DatabaseError("Campo não encontrado na consulta");
  return rows_[position_][index];
}

void Recordset::Close() {
  open_ = false;
  columns_.clear();
  rows_.clear();
  position_ = 0;
}

// ---------------------------------------------------------------- Session

DatabaseSession::DatabaseSession(Operator& op) : op_(op) {}

DatabaseSession::~DatabaseSession() { CloseDatabase(); }

bool DatabaseSession::OpenDatabase(std::string_view file, std::string_view folder) {
  CloseDatabase();
  const std::string path = std::string(folder) + std::string(file);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  std::string failure;
  if (rc == SQLITE_OK) {
    // The back office writes through its own connection: wait for its locks.
    sqlite3_busy_handler(db, &DatabaseSession::OnBusy, this);
    // Reading the journal mode also proves that the file is a database. A
    // commit waits until it is on the disk (whatever the library's default):
    // an order the handheld was told about survives a power cut.
    char* message = nullptr;
    rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, &message);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      failure = message != nullptr ? message : sqlite3_errstr(rc);
      sqlite3_free(message);
    }
  } else {
    failure = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  }
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    op_.ShowMessage("Não foi possível abrir o banco de dados " + path + ": " + failure, "OrbaPDA",
                    MessageIcon::Exclamation);
    return false;
  }
  db_ = db;
  commits_wait_ = true;
  return true;
}

void DatabaseSession::SetLockWait(std::chrono::milliseconds wait, const std::atomic<bool>* stop) {
  lock_wait_ = wait;
  stop_ = stop;
}

int DatabaseSession::OnBusy(void* session, int attempt) {
  auto* self = static_cast<DatabaseSession*>(session);
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) self->busy_since_ = now;
  if (self->stop_ != nullptr && self->stop_->load()) return 0;
  if (now - self->busy_since_ >= self->lock_wait_) return 0;
  // Short naps: the lock is usually held for milliseconds, and a stop request
  // is noticed quickly.
  sqlite3_sleep(attempt < 10 ? 1 : 10);
  return 1;
}

void DatabaseSession::CloseDatabase() {
  if (db_ == nullptr) return;
  // A statement left prepared would keep the connection (and the file) open.
  ForgetStatements();
  sqlite3_close_v2(db_);
  db_ = nullptr;
  in_transaction_ = false;
}

namespace {

// Every spelling of an upper-case text in which the accented Latin letters
// are upper or lower case (ASCII letters are left to the NOCASE collation of
// the column). Only the first few accented letters vary, which covers any
// real place name while keeping the list short.
std::vector<std::string> AccentCaseVariants(const std::string& upper) {
  constexpr int kMaxVarying = 6;
  std::vector<std::string> variants{std::string()};
  int varying = 0;
  for (std::size_t i = 0; i < upper.size();) {
    const auto lead = static_cast<unsigned char>(upper[i]);
    // U+00C0..U+00DE (but not U+00D7) are two bytes: C3 80..C3 9E.
    if (lead == 0xC3 && i + 1 < upper.size()) {
      const auto trail = static_cast<unsigned char>(upper[i + 1]);
      const bool letter = trail >= 0x80 && trail <= 0x9E && trail != 0x97;
      if (letter && varying < kMaxVarying) {
        ++varying;
        const std::size_t count = variants.size();
        for (std::size_t v = 0; v < count; ++v) {
          std::string lower = variants[v];
          lower += static_cast<char>(0xC3);
          lower += static_cast<char>(trail + 0x20);
          variants[v] += upper.substr(i, 2);
          variants.push_back(std::move(lower));
        }
        i += 2;
        continue;
      }
    }
    for (auto& variant : variants) variant += upper[i];
    ++i;
  }
  return variants;
}

}  // namespace

std::string DatabaseSession::NameMatches(std::string_view column, std::string_view name) const {
  const std::vector<std::string> variants = AccentCaseVariants(SqlEscapeValue(name));
  if (variants.size() == 1) return std::string(column) + " = '" + variants.front() + "'";
  std::string condition = std::string(column) + " in (";
  for (std::size_t i = 0; i < variants.size(); ++i) {
    if (i > 0) condition += ", ";
    condition += "'" + variants[i] + "'";
  }
  return condition + ")";
}

void DatabaseSession::SqlClear() { buffer_.assign(1, std::string()); }

void DatabaseSession::SqlAppend(std::string_view line) { buffer_.emplace_back(line); }

std::string DatabaseSession::SqlText() const {
  std::string text;
  for (const auto& line : buffer_) {
    text += line;
    text += '\r';
  }
  return text;
}

namespace {

bool OnlyBlanksOrSemicolons(const char* tail) {
  for (; tail != nullptr && *tail != '\0'; ++tail) {
    const char c = *tail;
    if (c != ' ' && c != '\r' && c != '\n' && c != '\t' && c != ';') return false;
  }
  return true;
}

Value ColumnValue(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
      return Value(static_cast<long long>(sqlite3_column_int64(stmt, column)));
    case SQLITE_FLOAT:
      return Value(sqlite3_column_double(stmt, column));
    case SQLITE_NULL:
      return Value();
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
      return Value(std::string(text != nullptr ? text : "", sqlite3_column_bytes(stmt, column)));
    }
  }
}

}  // namespace

void DatabaseSession::Run(const std::string& text, Recordset* rs) {
  provider_error_.clear();
  busy_ = false;
  if (db_ == nullptr) throw DatabaseError("Não há conexão com o banco de dados");
  // Only ExecuteSqlWithoutDiskWait's own statement commits without waiting.
  if (!commits_wait_ && !without_disk_wait_ && !SetCommitsWait(true)) {
    provider_error_ = sqlite3_errmsg(db_);
    throw DatabaseError(provider_error_);
  }
  sqlite3_stmt* stmt = nullptr;
  bool kept = false;  // the statement stays prepared for the next run of the text
  if (const auto found = statements_.find(text); found != statements_.end()) {
    stmt = found->second.statement;
    found->second.last_use = ++uses_;
    kept = true;
  } else {
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size() + 1), &stmt, &tail);
    if (rc != SQLITE_OK) {
      provider_error_ = sqlite3_errmsg(db_);
      const int code = sqlite3_extended_errcode(db_) & 0xff;
      busy_ = code == SQLITE_BUSY || code == SQLITE_LOCKED;
      sqlite3_finalize(stmt);
      throw DatabaseError(provider_error_, busy_);
    }
    if (stmt == nullptr) throw DatabaseError("Comando vazio");
    // One statement per call: a second one hidden in the text never runs.
    if (!OnlyBlanksOrSemicolons(tail)) {
      sqlite3_finalize(stmt);
      throw DatabaseError("Mais de um comando no mesmo texto");
    }
    kept = KeepStatement(text, stmt);
  }
  // Reset for the next run, or finalized, on every way out.
  struct Release {
    sqlite3_stmt* statement;
    const bool& kept;
    ~Release() {
      if (kept) {
        sqlite3_reset(statement);
      } else {
        sqlite3_finalize(statement);
      }
    }
  } release{stmt, kept};

  Recordset result;
  int rc = sqlite3_step(stmt);
  // Read after the first step: a kept statement is prepared again there when
  // the schema changed meanwhile.
  const int columns = sqlite3_column_count(stmt);
  if (rs != nullptr) {
    for (int c = 0; c < columns; ++c) result.columns_.emplace_back(sqlite3_column_name(stmt, c));
  }
  for (; rc == SQLITE_ROW; rc = sqlite3_step(stmt)) {
    if (rs == nullptr) continue;
    std::vector<Value> row;
    row.reserve(columns);
    for (int c = 0; c < columns; ++c) row.push_back(ColumnValue(stmt, c));
    result.rows_.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    provider_error_ = sqlite3_errmsg(db_);
    const int code = sqlite3_extended_errcode(db_) & 0xff;
    busy_ = code == SQLITE_BUSY || code == SQLITE_LOCKED;
    // A statement that failed is prepared afresh next time.
    if (kept) {
      statements_.erase(text);
      kept = false;
    }
    throw DatabaseError(provider_error_, busy_);
  }
  if (rs != nullptr) {
    result.open_ = true;
    *rs = std::move(result);
  }
}

bool DatabaseSession::KeepStatement(const std::string& text, sqlite3_stmt* statement) {
  // Only a text met before is kept: most texts carry the values of one
  // request and never come back, and must not push out those that do.
  const std::size_t hash = std::hash<std::string>{}(text);
  if (seen_texts_.erase(hash) == 0) {
    if (seen_texts_.size() >= kRememberedTexts) seen_texts_.clear();
    seen_texts_.insert(hash);
    return false;
  }
  if (statements_.size() >= kKeptStatements) {
    auto oldest = statements_.begin();
    for (auto it = statements_.begin(); it != statements_.end(); ++it) {
      if (it->second.last_use < oldest->second.last_use) oldest = it;
    }
    sqlite3_finalize(oldest->second.statement);
    statements_.erase(oldest);
  }
  statements_.emplace(text, KeptStatement{statement, ++uses_});
  return true;
}

void DatabaseSession::ForgetStatements() {
  for (auto& [text, kept] : statements_) sqlite3_finalize(kept.statement);
  statements_.clear();
  seen_texts_.clear();
}

Recordset DatabaseSession::Query(const std::string& text) {
  Recordset rs;
  Run(text, &rs);
  return rs;
}

bool DatabaseSession::OpenRecordset(const std::string& text, Recordset& rs) {
  try {
    rs = Query(text);
    return false;
  } catch (const DatabaseError&) {
    rs.Close();
    return true;
  }
}

void DatabaseSession::ExecuteSql(const std::string& text) { Run(text, nullptr); }

bool DatabaseSession::SetCommitsWait(bool wait) {
  if (commits_wait_ == wait) return true;
  if (sqlite3_exec(db_, wait ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL", nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    return false;
  }
  commits_wait_ = wait;
  return true;
}

void DatabaseSession::ExecuteSqlWithoutDiskWait(const std::string& text) {
  if (db_ == nullptr || in_transaction_ || sqlite3_get_autocommit(db_) == 0) {
    ExecuteSql(text);
    return;
  }
  // When NORMAL cannot be set the statement simply waits; when FULL cannot
  // be set back, the next statement tries again and fails if it cannot.
  SetCommitsWait(false);
  without_disk_wait_ = true;
  try {
    Run(text, nullptr);
  } catch (...) {
    without_disk_wait_ = false;
    SetCommitsWait(true);
    throw;
  }
  without_disk_wait_ = false;
  SetCommitsWait(true);
}

long long DatabaseSession::ChangedRows() const {
  return db_ != nullptr ? sqlite3_changes64(db_) : 0;
}

bool DatabaseSession::BeginTransaction() {
  in_transaction_ = true;
  try {
    // IMMEDIATE takes the write lock now, so a busy back office is waited for
    // here and not halfway through an order.
    ExecuteSql("BEGIN IMMEDIATE");
    begun_ = true;
    return true;
  } catch (const DatabaseError& e) {
    ReportError(op_, this, e.what());
    return false;
  }
}

void DatabaseSession::CommitTransaction() { Finish("COMMIT"); }

void DatabaseSession::RollbackTransaction() { Finish("ROLLBACK"); }

void DatabaseSession::Finish(const char* statement) {
  if (!in_transaction_) return;
  if (db_ == nullptr || sqlite3_get_autocommit(db_) != 0) {
    // The database itself undid an open transaction (disk full, I/O error):
    // a commit must not pass for done. The flag stays set, as after any
    // failed commit, and the caller's rollback clears it.
    if (begun_ && std::string_view(statement) == "COMMIT") {
      begun_ = false;
      ReportError(op_, this, "A transação foi desfeita pelo banco de dados e não pôde ser confirmada.");
      return;
    }
    // A begin that failed left nothing to finish, and reporting "no
    // transaction is active" would only hide the real error.
    in_transaction_ = false;
    begun_ = false;
    return;
  }
  try {
    ExecuteSql(statement);
    in_transaction_ = false;
    begun_ = false;
  } catch (const DatabaseError& e) {
    ReportError(op_, this, e.what());
  }
}

}  // namespace orba
