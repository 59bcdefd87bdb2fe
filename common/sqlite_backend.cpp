#include "common/sqlite_backend.h"

#include <sqlite3.h>

#include <optional>

#include "common/text.h"

namespace orba {

SqliteBackend::SqliteBackend(const std::string& path) : path_(path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  std::string failure;
  if (rc == SQLITE_OK) {
    // The back office writes through its own connection: wait for its locks.
    sqlite3_busy_handler(db, &SqliteBackend::OnBusy, this);
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
    throw DatabaseError(failure);
  }
  db_ = db;
}

SqliteBackend::~SqliteBackend() {
  // A statement left prepared would keep the connection (and the file) open.
  ForgetStatements();
  sqlite3_close_v2(db_);
}

void SqliteBackend::SetLockWait(std::chrono::milliseconds wait, const std::atomic<bool>* stop) {
  lock_wait_ = wait;
  stop_ = stop;
}

int SqliteBackend::OnBusy(void* backend, int attempt) {
  auto* self = static_cast<SqliteBackend*>(backend);
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) self->busy_since_ = now;
  if (self->stop_ != nullptr && self->stop_->load()) return 0;
  if (now - self->busy_since_ >= self->lock_wait_) return 0;
  // Short naps: the lock is usually held for milliseconds, and a stop request
  // is noticed quickly.
  sqlite3_sleep(attempt < 10 ? 1 : 10);
  return 1;
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

std::vector<long long> SqliteBackend::MarkerNumbers(sqlite3_stmt* statement) {
  const int count = sqlite3_bind_parameter_count(statement);
  std::vector<long long> markers;
  markers.reserve(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) {
    const char* name = sqlite3_bind_parameter_name(statement, i);
    const auto number = name != nullptr && name[0] == '$' ? ParseInteger(name + 1) : std::nullopt;
    markers.push_back(number.value_or(0));
  }
  return markers;
}

void SqliteBackend::Bind(sqlite3_stmt* statement, const std::vector<long long>& markers,
                         const std::vector<Value>& values) {
  for (int i = 1; i <= static_cast<int>(markers.size()); ++i) {
    const long long number = markers[static_cast<std::size_t>(i - 1)];
    if (number < 1 || number > static_cast<long long>(values.size())) {
      const char* name = sqlite3_bind_parameter_name(statement, i);
      throw DatabaseError(std::string("Sem valor para o parâmetro ") + (name != nullptr ? name : "?"));
    }
    const Value& value = values[static_cast<std::size_t>(number - 1)];
    int rc = SQLITE_OK;
    switch (value.GetKind()) {
      case Value::Kind::Null:
        rc = sqlite3_bind_null(statement, i);
        break;
      case Value::Kind::Integer:
        rc = sqlite3_bind_int64(statement, i, value.Int());
        break;
      case Value::Kind::Real:
        rc = sqlite3_bind_double(statement, i, value.Real());
        break;
      case Value::Kind::Text: {
        const std::string text = value.Text();
        rc = sqlite3_bind_text(statement, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
      }
    }
    if (rc != SQLITE_OK) throw DatabaseError(sqlite3_errmsg(db_));
  }
}

void SqliteBackend::Run(const std::string& text, const std::vector<Value>& values, ResultRows* out) {
  // Only a transaction begun after CommitsWaitForDisk(false) commits
  // without waiting; FULL comes back with the first statement after it.
  if (!commits_wait_ && !without_disk_wait_ && !SetCommitsWait(true)) throw DatabaseError(sqlite3_errmsg(db_));
  auto failure = [this]() {
    const int code = sqlite3_extended_errcode(db_) & 0xff;
    return DatabaseError(sqlite3_errmsg(db_), code == SQLITE_BUSY || code == SQLITE_LOCKED);
  };
  sqlite3_stmt* stmt = nullptr;
  bool kept = false;  // the statement stays prepared for the next run of the text
  std::vector<long long> fresh_markers;
  const std::vector<long long>* markers = &fresh_markers;
  if (const auto found = statements_.find(text); found != statements_.end()) {
    stmt = found->second.statement;
    found->second.last_use = ++uses_;
    markers = &found->second.markers;
    kept = true;
  } else {
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size() + 1), &stmt, &tail) != SQLITE_OK) {
      DatabaseError error = failure();
      sqlite3_finalize(stmt);
      throw error;
    }
    if (stmt == nullptr) throw DatabaseError("Comando vazio");
    // One statement per call: a second one hidden in the text never runs.
    if (!OnlyBlanksOrSemicolons(tail)) {
      sqlite3_finalize(stmt);
      throw DatabaseError("Mais de um comando no mesmo texto");
    }
    fresh_markers = MarkerNumbers(stmt);
    kept = KeepStatement(text, stmt, !values.empty(), fresh_markers);
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

  Bind(stmt, *markers, values);
  int rc = sqlite3_step(stmt);
  // Read after the first step: a kept statement is prepared again there when
  // the schema changed meanwhile.
  const int columns = sqlite3_column_count(stmt);
  if (out != nullptr) {
    for (int c = 0; c < columns; ++c) out->columns.emplace_back(sqlite3_column_name(stmt, c));
  }
  for (; rc == SQLITE_ROW; rc = sqlite3_step(stmt)) {
    if (out == nullptr) continue;
    std::vector<Value> row;
    row.reserve(columns);
    for (int c = 0; c < columns; ++c) row.push_back(ColumnValue(stmt, c));
    out->rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    DatabaseError error = failure();
    // A statement that failed is prepared afresh next time.
    if (kept) {
      const auto found = statements_.find(text);
      if (!found->second.constant) --come_back_;
      statements_.erase(found);
      kept = false;
    }
    throw error;
  }
}

bool SqliteBackend::KeepStatement(const std::string& text, sqlite3_stmt* statement, bool constant,
                                  const std::vector<long long>& markers) {
  // Otherwise only a text met before is kept: most texts carry the values of
  // one request and never come back, and must not push out those that do.
  if (!constant) {
    const std::size_t hash = std::hash<std::string>{}(text);
    if (seen_texts_.erase(hash) == 0) {
      if (seen_texts_.size() >= kRememberedTexts) seen_texts_.clear();
      seen_texts_.insert(hash);
      return false;
    }
    if (come_back_ >= kKeptStatements) {
      auto oldest = statements_.end();
      for (auto it = statements_.begin(); it != statements_.end(); ++it) {
        if (!it->second.constant && (oldest == statements_.end() || it->second.last_use < oldest->second.last_use)) {
          oldest = it;
        }
      }
      sqlite3_finalize(oldest->second.statement);
      statements_.erase(oldest);
      --come_back_;
    }
    ++come_back_;
  }
  statements_.emplace(text, KeptStatement{statement, ++uses_, constant, markers});
  return true;
}

void SqliteBackend::ForgetStatements() {
  for (auto& [text, kept] : statements_) sqlite3_finalize(kept.statement);
  statements_.clear();
  seen_texts_.clear();
  come_back_ = 0;
}

bool SqliteBackend::SetCommitsWait(bool wait) {
  if (commits_wait_ == wait) return true;
  if (sqlite3_exec(db_, wait ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL", nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    return false;
  }
  commits_wait_ = wait;
  return true;
}

void SqliteBackend::CommitsWaitForDisk(bool wait) {
  // The level is set outside a transaction: NORMAL now, before the begin
  // (when it cannot be set the commit simply waits), FULL with the next
  // statement, which fails if it cannot be set back.
  without_disk_wait_ = !wait;
  if (!wait && sqlite3_get_autocommit(db_) != 0) SetCommitsWait(false);
}

long long SqliteBackend::ChangedRows() const { return sqlite3_changes64(db_); }

long long SqliteBackend::TotalChanges() const { return sqlite3_total_changes64(db_); }

DatabaseBackend::TransactionState SqliteBackend::Transaction() const {
  // A failed statement leaves SQLite's transaction open; only a failure that
  // undoes all of it (disk full, I/O error) ends it.
  return sqlite3_get_autocommit(db_) != 0 ? TransactionState::None : TransactionState::Open;
}

}  // namespace orba
