#pragma once
// The server engine: a PostgreSQL database reached through libpq, for
// installations whose back office runs on other machines.
//
// Dialect, decided here and nowhere else:
//   - a transaction begins with a plain BEGIN (READ COMMITTED); the first
//     UPDATE of a row takes its lock until the end, so two writers that draw
//     a number with "set n = n + 1" never read the same one;
//   - lock waits: lock_timeout; the stop flag cancels a statement that is
//     waiting (PQcancel), so a stopping service does not sit out the wait;
//     busy = lock_not_available, deadlock_detected, query_canceled,
//     serialization_failure;
//   - names: upper(column) against the spellings (an index on upper(nm_loc));
//   - values by type: integers as integers, numeric and float as reals (the
//     numeric's text parsed), NULL as Null, anything else as text;
//   - one statement per text: the extended protocol refuses a second one;
//   - values bound as text (Null as NULL), their types the server's to infer
//     from where the markers stand; each text with values is prepared once
//     under a name of its own, kept until the connection ends, and prepared
//     afresh under a new name when the server refuses the kept plan because
//     the schema changed;
//   - kept statements run with the server's generic plan (plan_cache_mode):
//     planned once per connection, not again at every run;
//   - a transaction runs in pipeline mode: its statements without result
//     are sent at once and their outcomes read with the next query or the
//     commit (the first failure among them is that call's failure), so the
//     writes of a transaction wait for the server together; independent
//     queries (RunAll) go out together too;
//   - a lost connection is made again before the next statement outside a
//     transaction.

#include <functional>
#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/database_backend.h"

struct pg_conn;
struct pg_result;

namespace orba {

// True when a libpq connection string (key=value or URI) carries a password,
// which belongs in ~/.pgpass or a peer login, not in a readable file.
bool ConnectionHoldsPassword(const std::string& connection);

class PostgresBackend final : public DatabaseBackend {
 public:
  // Connects. Throws DatabaseError naming the database and the server,
  // followed by libpq's text, when it cannot.
  explicit PostgresBackend(std::string connection);
  ~PostgresBackend() override;
  PostgresBackend(const PostgresBackend&) = delete;
  PostgresBackend& operator=(const PostgresBackend&) = delete;

  std::string Description() const override { return description_; }
  void Run(const std::string& text, const std::vector<Value>& values, ResultRows* out) override;
  void RunAll(const std::vector<DatabaseSession::Statement>& statements, std::vector<ResultRows>& out) override;
  bool CommitThenRunAll(const std::vector<DatabaseSession::Statement>& reads, std::vector<ResultRows>& out) override;
  void Settle() override;
  long long ChangedRows() const override { return changed_; }
  long long TotalChanges() const override { return total_changed_; }
  const char* BeginStatement() const override { return "BEGIN"; }
  void CommitsWaitForDisk(bool wait) override { commits_wait_ = wait; }
  TransactionState Transaction() const override;
  void SetLockWait(std::chrono::milliseconds wait, const std::atomic<bool>* stop) override;
  bool Revive() override;

 private:
  void Connect();
  void Disconnect();
  bool Connected() const;
  void ApplyLockWait();
  // Sends a statement (`send` is one of libpq's PQsend... calls) and waits for
  // its result, cancelling it when the stop flag is set while it waits. Null
  // when it could not be sent.
  pg_result* Execute(const std::function<int()>& send);
  // The name of the statement prepared for `text`, prepared now when needed;
  // throws DatabaseError when the server refuses it.
  const std::string& Prepared(const std::string& text);
  // Throws DatabaseError with the server's text when `result` is a failure;
  // clears it then.
  void RequireSuccess(pg_result* result, const std::string& text);
  // Reads the changed-row count of a statement's result.
  void CountChanges(const pg_result* result);

  // Pipeline mode. Each statement sent (and each preparation) gives one
  // result, read in the order sent.
  struct Sent {
    std::string text;
    ResultRows* out = nullptr;  // where its rows go, when wanted
    bool preparation = false;
  };
  // Sends a statement in pipeline mode, preparing it first when it has
  // values and is not prepared on this connection yet.
  void Send(const std::string& text, const std::vector<Value>& values, ResultRows* out);
  // Marks the end of what was sent, waits for the server and reads every
  // result up to that mark; throws the first failure among them.
  void Collect();
  // The next result, waiting for it the way Execute does.
  pg_result* NextResult(std::chrono::steady_clock::time_point started, bool& cancelled);
  // Waits until libpq has a whole result, cancelling the statement once the
  // stop flag is set and it has waited kCancelAfter. False when the
  // connection failed meanwhile.
  bool AwaitInput(std::chrono::steady_clock::time_point started, bool& cancelled);
  void LeavePipeline();
  std::vector<Sent> sent_;
  bool commits_wait_ = true;
  bool stale_ = false;  // the last Collect met a plan the schema no longer fits
  std::size_t failed_at_ = 0;  // the last Collect's first failure: its place among what was sent

  std::string connection_;
  std::string description_;
  pg_conn* conn_ = nullptr;
  std::string lost_;  // why there is no connection
  bool ending_ = false;  // the server said it ends the connection
  std::unordered_map<std::string, std::string> prepared_;  // text -> name, on this connection
  long long prepared_count_ = 0;
  long long changed_ = 0;
  long long total_changed_ = 0;
  std::chrono::milliseconds lock_wait_{DatabaseSession::kDefaultLockWait};
  std::chrono::milliseconds applied_lock_wait_{-1};
  const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace orba
