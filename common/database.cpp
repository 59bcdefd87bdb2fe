#include "common/database.h"

#include <charconv>
#include <cstdio>
#include <cmath>
#include <limits>

#include "common/database_backend.h"
#include "common/error_report.h"
#include "common/operator.h"
#include "common/postgres_backend.h"
#include "common/sql_text.h"
#include "common/sqlite_backend.h"
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

std::size_t Recordset::FieldCount() const {
  RequireOpen();
  return columns_.size();
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

// ---------------------------------------------------------------- RowInserts

namespace {

enum class Quoting { Array, Json };

// Appends `text` between double quotes. Both forms escape " and \ with a
// backslash; JSON also wants its control characters escaped.
void AppendQuoted(std::string& out, std::string_view text, Quoting quoting) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (quoting == Quoting::Json && static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

void RowInserts::Add(const std::vector<std::pair<const char*, Value>>& row) {
  if (columns_.empty()) {
    for (const auto& [name, value] : row) columns_.emplace_back(name);
  }
  if (row.size() != columns_.size()) throw DatabaseError("Linha com outras colunas em " + table_);
  std::vector<Value> values;
  values.reserve(row.size());
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (columns_[i] != row[i].first) throw DatabaseError("Linha com outras colunas em " + table_);
    values.push_back(row[i].second);
  }
  rows_.push_back(std::move(values));
}

// The rows as one JSON array of objects, keyed by the columns' names as the
// server folds them. Every value is a JSON text: the server hands it to the
// input of its column's type, as it does a bound value, so that the row
// stored is the one a statement per row would store.
Value RowInserts::JsonRows(const std::vector<std::vector<Value>>& rows) const {
  std::vector<std::string> keys;
  for (const std::string& column : columns_) {
    std::string key;
    for (const char c : column) key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    keys.push_back(std::move(key));
  }
  std::string json(1, '[');
  for (const std::vector<Value>& row : rows) {
    json += json.size() > 1 ? ",{" : "{";
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c > 0) json += ',';
      AppendQuoted(json, keys[c], Quoting::Json);
      json += ':';
      if (row[c].IsNull()) {
        json += "null";
      } else {
        AppendQuoted(json, row[c].Text(), Quoting::Json);
      }
    }
    json += '}';
  }
  return Value(json + ']');
}

void RowInserts::Flush(DatabaseSession& db) {
  std::vector<std::vector<Value>> rows;
  rows.swap(rows_);
  std::string names;
  for (const std::string& column : columns_) names += (names.empty() ? "" : ", ") + column;
  if (rows.empty()) return;
  if (db.Engine() == DatabaseEngine::Postgresql) {
    db.ExecuteSql("Insert into " + table_ + " (" + names + ")\rselect " + names +
                      " from json_populate_recordset(cast(null as " + table_ + "), $1)" +
                      (ending_.empty() ? "" : "\r" + ending_),
                  {JsonRows(rows)});
    return;
  }
  for (std::size_t done = 0; done < rows.size();) {
    std::size_t count = 16;
    while (count > rows.size() - done) count /= 2;
    std::string text = "Insert into " + table_ + " (" + names + ")\rvalues ";
    std::vector<Value> values;
    values.reserve(count * columns_.size());
    for (std::size_t r = 0; r < count; ++r) {
      text += r > 0 ? ", (" : "(";
      for (std::size_t c = 0; c < columns_.size(); ++c) {
        values.push_back(std::move(rows[done + r][c]));
        text += (c > 0 ? ", $" : "$") + std::to_string(values.size());
      }
      text += ")";
    }
    if (!ending_.empty()) text += "\r" + ending_;
    db.ExecuteSql(text, values);
    done += count;
  }
}

// ---------------------------------------------------------------- Session

DatabaseSession::DatabaseSession(Operator& op) : op_(op) {}

DatabaseSession::~DatabaseSession() { CloseDatabase(); }

bool DatabaseSession::Opened(std::unique_ptr<DatabaseBackend> backend, DatabaseEngine engine) {
  backend_ = std::move(backend);
  engine_ = engine;
  backend_->SetLockWait(lock_wait_, stop_);
  return true;
}

bool DatabaseSession::OpenDatabase(std::string_view file, std::string_view folder) {
  CloseDatabase();
  const std::string path = std::string(folder) + std::string(file);
  try {
    return Opened(std::make_unique<SqliteBackend>(path), DatabaseEngine::Sqlite);
  } catch (const DatabaseError& e) {
    op_.ShowMessage("Não foi possível abrir o banco de dados " + path + ": " + e.what(), "OrbaPDA",
                    MessageIcon::Exclamation);
    return false;
  }
}

bool DatabaseSession::OpenServer(std::string_view connection) {
  CloseDatabase();
  try {
    return Opened(std::make_unique<PostgresBackend>(std::string(connection)), DatabaseEngine::Postgresql);
  } catch (const DatabaseError& e) {
    // The text names the database and the server, then gives libpq's reason.
    op_.ShowMessage("Não foi possível abrir o banco de dados " + std::string(e.what()), "OrbaPDA",
                    MessageIcon::Exclamation);
    return false;
  }
}

std::string DatabaseSession::Description() const { return backend_ ? backend_->Description() : std::string(); }

void DatabaseSession::SetLockWait(std::chrono::milliseconds wait, const std::atomic<bool>* stop) {
  lock_wait_ = wait;
  stop_ = stop;
  if (backend_) backend_->SetLockWait(wait, stop);
}

void DatabaseSession::SetStatementObserver(StatementObserver observer) {
  observer_ = std::move(observer);
}

void DatabaseSession::CloseDatabase() {
  if (!backend_) return;
  backend_.reset();
  engine_ = DatabaseEngine::None;
  in_transaction_ = false;
  begun_ = false;
}

namespace {

// Every spelling of an upper-case text in which the accented Latin letters
// are upper or lower case (ASCII letters are left to the engine: the NOCASE
// collation of the column, or upper()). Only the first few accented letters
// vary, which covers any real place name while keeping the list short.
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

std::string DatabaseSession::NameMatches(std::string_view column, std::string_view marker) const {
  // On the server upper() folds the ASCII letters whatever the database's
  // locale, and an index on upper(column) serves the condition; in SQLite the
  // column's NOCASE collation folds them and keeps to its index. The list of
  // spellings covers the accented letters.
  if (engine_ == DatabaseEngine::Postgresql) return "upper(" + std::string(column) + ") = any(cast(" + std::string(marker) + " as text[]))";
  return InList(column, marker, Value::Kind::Text);
}

Value DatabaseSession::NameValue(std::string_view name) const {
  return ListOf(AccentCaseVariants(SqlEscapeValue(name)));
}

std::string DatabaseSession::InList(std::string_view column, std::string_view marker, Value::Kind kind) const {
  // The server takes an array, and its planner keeps "= any" to the index;
  // SQLite reads the elements of a JSON array, and the comparison takes the
  // collation of the column.
  if (engine_ == DatabaseEngine::Postgresql) {
    return std::string(column) + " = any(cast(" + std::string(marker) +
           (kind == Value::Kind::Integer ? " as bigint[]))" : " as text[]))");
  }
  return std::string(column) + " in (select value from json_each(" + std::string(marker) + "))";
}

Value DatabaseSession::ListOf(const std::vector<long long>& numbers) const {
  const bool server = engine_ == DatabaseEngine::Postgresql;
  std::string list(1, server ? '{' : '[');
  for (std::size_t i = 0; i < numbers.size(); ++i) list += (i > 0 ? "," : "") + std::to_string(numbers[i]);
  return Value(list + (server ? '}' : ']'));
}

Value DatabaseSession::ListOf(const std::vector<std::string>& texts) const {
  const bool server = engine_ == DatabaseEngine::Postgresql;
  std::string list(1, server ? '{' : '[');
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) list += ',';
    AppendQuoted(list, texts[i], server ? Quoting::Array : Quoting::Json);
  }
  return Value(list + (server ? '}' : ']'));
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

void DatabaseSession::Run(const std::string& text, const std::vector<Value>& values, Recordset* rs) {
  provider_error_.clear();
  busy_ = false;
  if (!backend_) throw DatabaseError("Não há conexão com o banco de dados");
  try {
    // Outside a transaction of ours a lost connection may be made again;
    // inside one it may not: the rest of the transaction would run without
    // what the server already undid.
    if (!begun_ && backend_->Revive()) {
      op_.LogEvent("Conexão com o banco de dados restabelecida: " + backend_->Description());
    }
    if (observer_) observer_(text, values);
    if (rs == nullptr) {
      backend_->Run(text, values, nullptr);
      return;
    }
    ResultRows rows;
    backend_->Run(text, values, &rows);
    Recordset result;
    result.columns_ = std::move(rows.columns);
    result.rows_ = std::move(rows.rows);
    result.open_ = true;
    *rs = std::move(result);
  } catch (const DatabaseError& e) {
    provider_error_ = e.what();
    busy_ = e.Busy();
    throw;
  }
}

Recordset DatabaseSession::Query(const std::string& text) { return Query(text, {}); }

Recordset DatabaseSession::Query(const std::string& text, const std::vector<Value>& values) {
  Recordset rs;
  Run(text, values, &rs);
  return rs;
}

std::vector<Recordset> DatabaseSession::Queries(const std::vector<Statement>& statements) {
  provider_error_.clear();
  busy_ = false;
  if (!backend_) throw DatabaseError("Não há conexão com o banco de dados");
  std::vector<ResultRows> rows;
  try {
    if (!begun_ && backend_->Revive()) {
      op_.LogEvent("Conexão com o banco de dados restabelecida: " + backend_->Description());
    }
    if (observer_) {
      for (const Statement& statement : statements) observer_(statement.text, statement.values);
    }
    backend_->RunAll(statements, rows);
  } catch (const DatabaseError& e) {
    provider_error_ = e.what();
    busy_ = e.Busy();
    throw;
  }
  return Recordsets(std::move(rows));
}

std::vector<Recordset> DatabaseSession::Recordsets(std::vector<ResultRows> rows) {
  std::vector<Recordset> results(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    results[i].columns_ = std::move(rows[i].columns);
    results[i].rows_ = std::move(rows[i].rows);
    results[i].open_ = true;
  }
  return results;
}

void DatabaseSession::CommitThenRead(ThenReads& then) {
  provider_error_.clear();
  busy_ = false;
  if (observer_) {
    observer_("COMMIT", {});
    for (const Statement& read : then.reads) observer_(read.text, read.values);
  }
  std::vector<ResultRows> rows;
  try {
    then.ran = backend_->CommitThenRunAll(then.reads, rows);
  } catch (const DatabaseError& e) {
    provider_error_ = e.what();
    busy_ = e.Busy();
    throw;
  }
  if (then.ran) then.results = Recordsets(std::move(rows));
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

void DatabaseSession::ExecuteSql(const std::string& text) { Run(text, {}, nullptr); }

void DatabaseSession::ExecuteSql(const std::string& text, const std::vector<Value>& values) {
  Run(text, values, nullptr);
}

long long DatabaseSession::ChangedRows() {
  if (!backend_) return 0;
  try {
    backend_->Settle();
  } catch (const DatabaseError& e) {
    provider_error_ = e.what();
    busy_ = e.Busy();
    throw;
  }
  return backend_->ChangedRows();
}

long long DatabaseSession::TotalChanges() const { return backend_ ? backend_->TotalChanges() : 0; }

bool DatabaseSession::BeginTransaction(CommitWait wait) {
  in_transaction_ = true;
  try {
    if (!backend_) throw DatabaseError("Não há conexão com o banco de dados");
    // Set back when the transaction ends (Finish).
    if (wait == CommitWait::ForNextCommit) backend_->CommitsWaitForDisk(false);
    ExecuteSql(backend_->BeginStatement());
    begun_ = true;
    return true;
  } catch (const DatabaseError& e) {
    ReportError(op_, this, e.what());
    return false;
  }
}

void DatabaseSession::CommitTransaction() { Finish("COMMIT"); }

bool DatabaseSession::CommitTransaction(const std::vector<Statement>& reads, std::vector<Recordset>& results) {
  ThenReads then{reads, results};
  Finish("COMMIT", &then);
  return then.ran;
}

void DatabaseSession::RollbackTransaction() { Finish("ROLLBACK"); }

void DatabaseSession::Finish(const char* statement, ThenReads* then) {
  if (!in_transaction_) return;
  // Whatever way the transaction ends, the next one waits for the disk
  // unless it asks otherwise; a commit that failed keeps it for the rollback.
  struct WaitAgain {
    DatabaseSession& session;
    ~WaitAgain() {
      if (!session.in_transaction_ && session.backend_) session.backend_->CommitsWaitForDisk(true);
    }
  } wait_again{*this};
  using State = DatabaseBackend::TransactionState;
  const State state = backend_ ? backend_->Transaction() : State::None;
  const bool commit = std::string_view(statement) == "COMMIT";
  if (state == State::None || (commit && state == State::Failed)) {
    // The database itself undid an open transaction (disk full, I/O error, a
    // failed statement on a server, a lost connection): a commit must not
    // pass for done. The flag stays set, as after any failed commit, and the
    // caller's rollback clears it.
    if (begun_ && commit) {
      begun_ = false;
      ReportError(op_, this, "A transação foi desfeita pelo banco de dados e não pôde ser confirmada.");
      return;
    }
    // A begin that failed left nothing to finish, and reporting "no
    // transaction is active" would only hide the real error. A failed
    // transaction still needs its rollback on the server.
    if (state == State::None) {
      in_transaction_ = false;
      begun_ = false;
      return;
    }
  }
  try {
    if (then != nullptr && backend_) {
      CommitThenRead(*then);
    } else {
      ExecuteSql(statement);
    }
    in_transaction_ = false;
    begun_ = false;
  } catch (const DatabaseError& e) {
    // A write of the transaction that failed, read with the commit, is told
    // to the caller as its own statement's failure would have been: the
    // commit did not take, and the caller reports why.
    if (!e.Earlier()) ReportError(op_, this, e.what());
  }
}

}  // namespace orba
