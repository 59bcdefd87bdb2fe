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
//   - a lost connection is made again before the next statement outside a
//     transaction.

#include <functional>
#include <string>
#include <unordered_map>

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
  long long ChangedRows() const override { return changed_; }
  long long TotalChanges() const override { return total_changed_; }
  const char* BeginStatement() const override { return "BEGIN"; }
  TransactionState Transaction() const override;
  std::string NameMatches(std::string_view column, const std::vector<std::string>& spellings) const override;
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
