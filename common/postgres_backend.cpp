#include "common/postgres_backend.h"

#include <libpq-fe.h>
#include <poll.h>
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace orba {

bool ConnectionHoldsPassword(const std::string& connection) {
  PQconninfoOption* options = PQconninfoParse(connection.c_str(), nullptr);
  if (options == nullptr) return false;
  bool holds = false;
  for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (std::strcmp(option->keyword, "password") == 0 && option->val != nullptr && *option->val != '\0') holds = true;
  }
  PQconninfoFree(options);
  return holds;
}

namespace {

// Type oids of the values we read (pg_type.h, stable across versions).
constexpr Oid kBool = 16;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kOid = 26;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kNumeric = 1700;

// How often a statement that waits looks at the stop flag, and how long it
// must have waited before the flag cancels it: a statement that is merely
// running is left to finish.
constexpr int kWatchMilliseconds = 50;
constexpr auto kCancelAfter = std::chrono::milliseconds(50);

std::string Trimmed(const char* text) {
  std::string out = text != nullptr ? text : "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ' || out.back() == '\t')) out.pop_back();
  return out;
}

bool Busy(const char* sqlstate) {
  if (sqlstate == nullptr) return false;
  for (const char* code : {"55P03", "40P01", "57014", "40001"}) {
    if (std::strcmp(sqlstate, code) == 0) return true;
  }
  return false;
}

// The server refused a kept plan that the schema no longer fits ("cached plan
// must not change result type"): the text must be prepared afresh, under a
// new name (the old one stays taken until the connection ends).
bool Stale(const PGresult* result) {
  const char* sqlstate = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return sqlstate != nullptr && std::strcmp(sqlstate, "0A000") == 0;
}

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

Value FieldValue(const PGresult* result, int row, int column) {
  if (PQgetisnull(result, row, column) != 0) return Value();
  const char* text = PQgetvalue(result, row, column);
  const std::size_t length = static_cast<std::size_t>(PQgetlength(result, row, column));
  switch (PQftype(result, column)) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid: {
      long long value = 0;
      auto [end, ec] = std::from_chars(text, text + length, value);
      if (ec == std::errc() && end == text + length) return Value(value);
      break;
    }
    case kFloat4:
    case kFloat8:
    case kNumeric: {
      double value = 0;
      auto [end, ec] = std::from_chars(text, text + length, value);
      if (ec == std::errc() && end == text + length) return Value(value);
      break;
    }
    case kBool:
      return Value(static_cast<long long>(text[0] == 't' ? 1 : 0));
    default:
      break;
  }
  return Value(std::string(text, length));
}

}  // namespace

PostgresBackend::PostgresBackend(std::string connection) : connection_(std::move(connection)) { Connect(); }

PostgresBackend::~PostgresBackend() { Disconnect(); }

void PostgresBackend::Disconnect() {
  if (conn_ != nullptr) PQfinish(conn_);
  conn_ = nullptr;
}

bool PostgresBackend::Connected() const { return conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK; }

void PostgresBackend::Connect() {
  // The text of ORBA.INI is a connection string (or URI) of its own; the
  // program's name is only a default.
  const char* keywords[] = {"dbname", "fallback_application_name", nullptr};
  const char* values[] = {connection_.c_str(), "orbapda", nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (conn == nullptr) throw DatabaseError("PostgreSQL: sem memória para a conexão");
  if (description_.empty()) {
    const char* host = PQhost(conn);
    const char* port = PQport(conn);
    const char* user = PQuser(conn);
    description_ = std::string(PQdb(conn) != nullptr ? PQdb(conn) : "") + " (PostgreSQL em " +
                   (host != nullptr && *host != '\0' ? host : "localhost") +
                   (port != nullptr && *port != '\0' ? std::string(":") + port : std::string()) +
                   (user != nullptr && *user != '\0' ? std::string(", usuário ") + user : std::string()) + ")";
  }
  if (PQstatus(conn) != CONNECTION_OK) {
    lost_ = Trimmed(PQerrorMessage(conn));
    PQfinish(conn);
    throw DatabaseError(description_ + ": " + lost_);
  }
  // Notices are not for standard error. The server's last word before it
  // ends a connection (a FATAL error while idle) arrives as one: the
  // connection is then as good as lost, whether or not its end is seen yet.
  ending_ = false;
  PQsetNoticeReceiver(
      conn,
      [](void* self, const PGresult* notice) {
        const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
        if (severity != nullptr && (std::strcmp(severity, "FATAL") == 0 || std::strcmp(severity, "PANIC") == 0)) {
          static_cast<PostgresBackend*>(self)->ending_ = true;
        }
      },
      this);
  std::string failure;
  if (PQsetClientEncoding(conn, "UTF8") != 0) failure = Trimmed(PQerrorMessage(conn));
  if (failure.empty()) {
    // Quotes are doubled and backslashes are plain characters in every text
    // we write, whatever the server's default.
    // A kept statement is planned once, not again at every run: its values
    // are keys of small lookups, for which one plan serves them all, and
    // planning a join costs more than running it.
    PGresult* result =
        PQexec(conn, "SET standard_conforming_strings = on; SET plan_cache_mode = force_generic_plan");
    if (PQresultStatus(result) != PGRES_COMMAND_OK) failure = Trimmed(PQresultErrorMessage(result));
    PQclear(result);
  }
  if (!failure.empty()) {
    PQfinish(conn);
    throw DatabaseError(description_ + ": " + failure);
  }
  conn_ = conn;
  lost_.clear();
  prepared_.clear();  // statements prepared on the connection went with it
  sent_.clear();
  applied_lock_wait_ = std::chrono::milliseconds(-1);
  ApplyLockWait();
}

bool PostgresBackend::Revive() {
  if (Connected()) {
    // A server that ended the connection (a restart, an administrator) has
    // said so on the socket by now: its last message, then the end.
    for (int reads = 0; reads < 4 && PQstatus(conn_) == CONNECTION_OK; ++reads) {
      pollfd waiting{PQsocket(conn_), POLLIN, 0};
      if (poll(&waiting, 1, 0) <= 0) break;
      if (PQconsumeInput(conn_) == 0) break;
      PQisBusy(conn_);  // parses what came: the notice receiver hears a FATAL
    }
    if (PQstatus(conn_) == CONNECTION_OK && !ending_) return false;
  }
  Disconnect();
  Connect();
  return true;
}

void PostgresBackend::SetLockWait(std::chrono::milliseconds wait, const std::atomic<bool>* stop) {
  lock_wait_ = wait;
  stop_ = stop;
  ApplyLockWait();
}

void PostgresBackend::ApplyLockWait() {
  // A SET inside a transaction is undone with it: it waits for the next
  // statement outside one.
  if (!Connected() || applied_lock_wait_ == lock_wait_ || PQtransactionStatus(conn_) != PQTRANS_IDLE) return;
  // lock_timeout 0 would wait for ever: no wait is the shortest one.
  const long long milliseconds = lock_wait_.count() > 0 ? lock_wait_.count() : 1;
  PGresult* result = PQexec(conn_, ("SET lock_timeout = " + std::to_string(milliseconds)).c_str());
  if (PQresultStatus(result) == PGRES_COMMAND_OK) applied_lock_wait_ = lock_wait_;
  PQclear(result);
}

DatabaseBackend::TransactionState PostgresBackend::Transaction() const {
  if (!Connected()) return TransactionState::None;  // the server has undone it
  switch (PQtransactionStatus(conn_)) {
    case PQTRANS_INTRANS:
    case PQTRANS_ACTIVE:
      return TransactionState::Open;
    case PQTRANS_INERROR:
      return TransactionState::Failed;
    default:
      return TransactionState::None;
  }
}

bool PostgresBackend::AwaitInput(std::chrono::steady_clock::time_point started, bool& cancelled) {
  while (PQisBusy(conn_) != 0) {
    pollfd waiting{PQsocket(conn_), POLLIN, 0};
    const int ready = poll(&waiting, 1, kWatchMilliseconds);
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && PQconsumeInput(conn_) == 0) return false;  // the result says why
    if (!cancelled && stop_ != nullptr && stop_->load() &&
        std::chrono::steady_clock::now() - started >= kCancelAfter) {
      // The server answers the statement with query_canceled: busy.
      if (PGcancel* cancel = PQgetCancel(conn_)) {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
      }
      cancelled = true;
    }
  }
  return true;
}

PGresult* PostgresBackend::Execute(const std::function<int()>& send) {
  if (send() == 0) return nullptr;
  bool cancelled = false;
  AwaitInput(std::chrono::steady_clock::now(), cancelled);
  // One statement gives one result; a failure may come after rows.
  PGresult* result = nullptr;
  while (PGresult* next = PQgetResult(conn_)) {
    const bool failed = PQresultStatus(next) == PGRES_FATAL_ERROR;
    if (result == nullptr || (failed && PQresultStatus(result) != PGRES_FATAL_ERROR)) {
      PQclear(result);
      result = next;
    } else {
      PQclear(next);
    }
  }
  return result;
}

void PostgresBackend::RequireSuccess(PGresult* result, const std::string& text) {
  const ExecStatusType status = result != nullptr ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
  std::string message;
  const char* sqlstate = nullptr;
  if (status == PGRES_EMPTY_QUERY) {
    message = "Comando vazio";
  } else if (result != nullptr && PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) != nullptr) {
    message = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    sqlstate = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  } else {
    message = Trimmed(PQerrorMessage(conn_));  // the connection failed
  }
  const bool busy = Busy(sqlstate);
  if (Stale(result)) prepared_.erase(text);
  PQclear(result);
  if (!Connected()) lost_ = message;
  throw DatabaseError(message, busy);
}

const std::string& PostgresBackend::Prepared(const std::string& text) {
  if (const auto found = prepared_.find(text); found != prepared_.end()) return found->second;
  const std::string name = "orba_" + std::to_string(++prepared_count_);
  PGresult* result = Execute([&] { return PQsendPrepare(conn_, name.c_str(), text.c_str(), 0, nullptr); });
  RequireSuccess(result, text);
  PQclear(result);
  return prepared_.emplace(text, name).first->second;
}

void PostgresBackend::CountChanges(const PGresult* result) {
  const char* command = PQcmdStatus(const_cast<PGresult*>(result));
  if (StartsWith(command, "INSERT") || StartsWith(command, "UPDATE") || StartsWith(command, "DELETE") ||
      StartsWith(command, "MERGE")) {
    changed_ = std::atoll(PQcmdTuples(const_cast<PGresult*>(result)));
    total_changed_ += changed_;
  }
}

namespace {

void CopyRows(const PGresult* result, ResultRows& out) {
  const int columns = PQnfields(result);
  const int rows = PQntuples(result);
  for (int c = 0; c < columns; ++c) out.columns.emplace_back(PQfname(result, c));
  out.rows.reserve(static_cast<std::size_t>(rows));
  for (int r = 0; r < rows; ++r) {
    std::vector<Value> row;
    row.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) row.push_back(FieldValue(result, r, c));
    out.rows.push_back(std::move(row));
  }
}

// The values of a statement as libpq takes them: texts, Null as a null pointer.
struct BoundTexts {
  explicit BoundTexts(const std::vector<Value>& values) {
    texts.reserve(values.size());
    for (const Value& value : values) texts.push_back(value.Text());
    for (std::size_t i = 0; i < values.size(); ++i) pointers.push_back(values[i].IsNull() ? nullptr : texts[i].c_str());
  }
  std::vector<std::string> texts;
  std::vector<const char*> pointers;
};

bool EndsTransaction(const std::string& text) { return text == "COMMIT" || text == "ROLLBACK"; }

// Whether a statement is kept prepared on the connection: every one with
// values, and a query without any too, so that the server neither parses nor
// plans it again at each run. Transaction control, settings and schema
// changes go as they are.
bool KeptPrepared(const std::string& text, const std::vector<Value>& values) {
  if (!values.empty()) return true;
  const std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return false;
  for (const std::string_view word : {"select", "insert", "update", "delete", "with"}) {
    const std::size_t end = start + word.size();
    if (text.size() >= end && strncasecmp(text.c_str() + start, word.data(), word.size()) == 0 &&
        (end == text.size() || std::isspace(static_cast<unsigned char>(text[end])) != 0)) {
      return true;
    }
  }
  return false;
}

}  // namespace

void PostgresBackend::Send(const std::string& text, const std::vector<Value>& values, ResultRows* out) {
  int sent = 0;
  if (!KeptPrepared(text, values)) {
    sent = PQsendQueryParams(conn_, text.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
  } else {
    auto found = prepared_.find(text);
    if (found == prepared_.end()) {
      const std::string name = "orba_" + std::to_string(++prepared_count_);
      if (PQsendPrepare(conn_, name.c_str(), text.c_str(), 0, nullptr) != 0) {
        sent_.push_back({text, nullptr, true});
        found = prepared_.emplace(text, name).first;
      }
    }
    const BoundTexts bound(values);
    if (found != prepared_.end()) {
      sent = PQsendQueryPrepared(conn_, found->second.c_str(), static_cast<int>(values.size()), bound.pointers.data(),
                                 nullptr, nullptr, 0);
    }
  }
  if (sent == 0) {
    // Nothing more can go out on this connection: what was sent is lost with it.
    const std::string message = Trimmed(PQerrorMessage(conn_));
    sent_.clear();
    if (!Connected()) lost_ = message;
    throw DatabaseError(message);
  }
  sent_.push_back({text, out, false});
}

PGresult* PostgresBackend::NextResult(std::chrono::steady_clock::time_point started, bool& cancelled) {
  if (!AwaitInput(started, cancelled)) return nullptr;
  return PQgetResult(conn_);
}

void PostgresBackend::Collect() {
  std::vector<Sent> sent;
  sent.swap(sent_);
  const auto started = std::chrono::steady_clock::now();
  bool cancelled = false;
  std::string failure;
  std::string failure_state;
  stale_ = false;
  failed_at_ = sent.size();
  auto fail = [&](const PGresult* result, const Sent& failed) {
    const std::string& text = failed.text;
    if (!failure.empty()) return;  // the first failure is the one that counts
    failed_at_ = static_cast<std::size_t>(&failed - sent.data());
    const char* primary = result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    failure = primary != nullptr ? primary : Trimmed(PQerrorMessage(conn_));
    if (failure.empty()) failure = "Falha no banco de dados";
    if (result != nullptr && PQresultErrorField(result, PG_DIAG_SQLSTATE) != nullptr) {
      failure_state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    }
    if (Stale(result)) {
      prepared_.erase(text);
      stale_ = true;
    }
  };
  if (PQpipelineSync(conn_) == 0) {
    failure = Trimmed(PQerrorMessage(conn_));
    if (!Connected()) lost_ = failure;
    throw DatabaseError(failure);
  }
  for (const Sent& each : sent) {
    // A statement's results end with a null; a failure may come after rows.
    bool answered = false;
    while (PGresult* result = NextResult(started, cancelled)) {
      answered = true;
      const ExecStatusType status = PQresultStatus(result);
      if (status == PGRES_FATAL_ERROR) {
        if (each.preparation) prepared_.erase(each.text);
        fail(result, each);
      } else if (status == PGRES_PIPELINE_ABORTED) {
        if (each.preparation) prepared_.erase(each.text);
      } else if (!each.preparation) {
        CountChanges(result);
        if (std::strcmp(PQcmdStatus(result), "ROLLBACK") == 0 && each.text == "COMMIT") {
          // A COMMIT of a transaction that a failed statement spoiled is
          // answered ROLLBACK without an error: it must not pass for a commit.
          if (failure.empty()) {
            failure = "A transação foi desfeita pelo banco de dados e não pôde ser confirmada.";
            failed_at_ = static_cast<std::size_t>(&each - sent.data());
          }
        }
        if (each.out != nullptr && status == PGRES_TUPLES_OK) CopyRows(result, *each.out);
      }
      PQclear(result);
    }
    if (!answered && !Connected()) break;
  }
  // The mark itself, unless the connection went.
  if (Connected()) {
    while (PGresult* result = NextResult(started, cancelled)) {
      const bool mark = PQresultStatus(result) == PGRES_PIPELINE_SYNC;
      PQclear(result);
      if (mark) break;
    }
  }
  if (!Connected()) {
    if (failure.empty()) failure = Trimmed(PQerrorMessage(conn_));
    lost_ = failure;
    throw DatabaseError(failure.empty() ? "Conexão perdida" : failure);
  }
  if (!failure.empty()) {
    // A failure before the last statement is a write's, read with it.
    throw DatabaseError(failure, Busy(failure_state.empty() ? nullptr : failure_state.c_str()),
                        failed_at_ + 1 < sent.size());
  }
}

void PostgresBackend::LeavePipeline() {
  if (conn_ != nullptr && PQpipelineStatus(conn_) != PQ_PIPELINE_OFF && sent_.empty() &&
      PQtransactionStatus(conn_) == PQTRANS_IDLE) {
    PQexitPipelineMode(conn_);
  }
}

bool PostgresBackend::CommitThenRunAll(const std::vector<DatabaseSession::Statement>& reads,
                                       std::vector<ResultRows>& out) {
  if (conn_ == nullptr || PQpipelineStatus(conn_) == PQ_PIPELINE_OFF) return DatabaseBackend::CommitThenRunAll(reads, out);
  // The reads go after the commit, in the same wait; a commit that failed
  // leaves them unrun.
  out.assign(reads.size(), ResultRows());
  const std::size_t commit_at = sent_.size();
  struct Leave {
    PostgresBackend& backend;
    ~Leave() { backend.LeavePipeline(); }
  } leave{*this};
  Send("COMMIT", {}, nullptr);
  for (std::size_t i = 0; i < reads.size(); ++i) Send(reads[i].text, reads[i].values, &out[i]);
  try {
    Collect();
    return true;
  } catch (const DatabaseError& e) {
    if (failed_at_ > commit_at && Connected()) return false;
    // The commit's own failure, or that of a write read with it.
    throw DatabaseError(e.what(), e.Busy(), failed_at_ < commit_at);
  }
}

void PostgresBackend::Settle() {
  if (conn_ != nullptr && !sent_.empty()) Collect();
}

void PostgresBackend::RunAll(const std::vector<DatabaseSession::Statement>& statements, std::vector<ResultRows>& out) {
  if (conn_ == nullptr) throw DatabaseError("Não há conexão com o banco de dados " + description_ + ": " + lost_);
  out.assign(statements.size(), ResultRows());
  if (statements.empty()) return;
  const bool own_pipeline = PQpipelineStatus(conn_) == PQ_PIPELINE_OFF;
  if (own_pipeline) {
    ApplyLockWait();
    if (PQenterPipelineMode(conn_) == 0) throw DatabaseError(Trimmed(PQerrorMessage(conn_)));
  }
  struct Leave {
    PostgresBackend& backend;
    bool own;
    ~Leave() {
      if (own) backend.LeavePipeline();
    }
  } leave{*this, own_pipeline};
  for (bool again = own_pipeline;; again = false) {
    for (std::size_t i = 0; i < statements.size(); ++i) Send(statements[i].text, statements[i].values, &out[i]);
    try {
      Collect();
      return;
    } catch (const DatabaseError&) {
      // Plans the schema no longer fits are prepared afresh, and the queries
      // run once more, as Run does; not inside a transaction, which failed.
      if (!again || !stale_ || PQtransactionStatus(conn_) != PQTRANS_IDLE) throw;
      out.assign(statements.size(), ResultRows());
    }
  }
}

void PostgresBackend::Run(const std::string& text, const std::vector<Value>& values, ResultRows* out) {
  if (conn_ == nullptr) throw DatabaseError("Não há conexão com o banco de dados " + description_ + ": " + lost_);
  if (PQpipelineStatus(conn_) != PQ_PIPELINE_OFF) {
    // Inside a transaction: a write waits for the next query or the end.
    if (text == "ROLLBACK") {
      try {
        Settle();  // what failed is why the transaction is undone
      } catch (const DatabaseError&) {
      }
    }
    Send(text, values, out);
    if (out == nullptr && !EndsTransaction(text)) return;
    struct Leave {
      PostgresBackend& backend;
      bool ends;
      ~Leave() {
        if (ends) backend.LeavePipeline();
      }
    } leave{*this, EndsTransaction(text)};
    Collect();
    return;
  }
  ApplyLockWait();
  if (text == BeginStatement() && values.empty()) {
    if (PQenterPipelineMode(conn_) == 0) throw DatabaseError(Trimmed(PQerrorMessage(conn_)));
    Send(text, values, out);
    // The server's own setting, for this transaction only.
    if (!commits_wait_) Send("SET LOCAL synchronous_commit = off", {}, nullptr);
    return;
  }
  PGresult* result = nullptr;
  if (!KeptPrepared(text, values)) {
    result = Execute([&] { return PQsendQueryParams(conn_, text.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0); });
  } else {
    const BoundTexts bound(values);
    for (bool again = true;; again = false) {
      const std::string& name = Prepared(text);
      result = Execute([&] {
        return PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(values.size()), bound.pointers.data(), nullptr,
                                   nullptr, 0);
      });
      // A plan the schema no longer fits is prepared afresh and run once
      // more, unless a transaction already failed with it.
      if (!again || !Stale(result) || PQtransactionStatus(conn_) != PQTRANS_IDLE) break;
      PQclear(result);
      prepared_.erase(text);
    }
  }
  RequireSuccess(result, text);
  if (std::strcmp(PQcmdStatus(result), "ROLLBACK") == 0 && StartsWith(text.c_str(), "COMMIT")) {
    PQclear(result);
    throw DatabaseError("A transação foi desfeita pelo banco de dados e não pôde ser confirmada.");
  }
  CountChanges(result);
  if (out != nullptr) CopyRows(result, *out);
  PQclear(result);
}

}  // namespace orba
