#pragma once
// What differs between the database engines behind the one DatabaseSession:
// how a statement runs and its values come back, how statements are sent
// together, how a transaction that writes begins, and how a lock held by
// another connection is waited for. The statements themselves are the
// handlers'; the few words of dialect they need (a list, a place name, a row
// lock) come from the session.

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "common/database.h"

namespace orba {

// The rows of one statement, as the session hands them to a Recordset.
struct ResultRows {
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;
};

class DatabaseBackend {
 public:
  virtual ~DatabaseBackend() = default;

  // Where the data lives, for messages: the file, or the server's database.
  virtual std::string Description() const = 0;

  // Runs exactly one statement (a second one in the text is refused, never
  // run) and, when `out` is given, returns every row. A failure throws
  // DatabaseError with the engine's text, Busy() when it was a lock held by
  // another connection (or a wait ended by the stop flag).
  //
  // With `values` (bound to the markers $1, $2, ...) the text is constant:
  // its statement is prepared once and kept until the connection ends,
  // prepared again when the schema changed under it. A text without values
  // usually carries the values of one request and is kept only when the
  // engine sees it come back.
  virtual void Run(const std::string& text, const std::vector<Value>& values, ResultRows* out) = 0;
  // Runs queries that do not depend on one another and fills `out` with
  // their rows, one entry per statement, in order. Engines that talk to a
  // server send them together.
  virtual void RunAll(const std::vector<DatabaseSession::Statement>& statements, std::vector<ResultRows>& out) {
    out.assign(statements.size(), ResultRows());
    for (std::size_t i = 0; i < statements.size(); ++i) Run(statements[i].text, statements[i].values, &out[i]);
  }
  // Commits the open transaction, then runs `reads` as RunAll does. Throws
  // DatabaseError when the commit failed; false when it took but the reads
  // failed. Engines that talk to a server send it all together.
  virtual bool CommitThenRunAll(const std::vector<DatabaseSession::Statement>& reads, std::vector<ResultRows>& out) {
    Run("COMMIT", {}, nullptr);
    try {
      RunAll(reads, out);
      return true;
    } catch (const DatabaseError&) {
      return false;
    }
  }
  // Waits for the outcome of every statement sent and not yet answered,
  // throwing the first failure among them.
  virtual void Settle() {}
  // Whether the commit of the transactions begun from now on waits until it
  // is on the disk (the default; see CommitWait). Set before the begin.
  virtual void CommitsWaitForDisk(bool wait) = 0;

  // Rows changed by the last INSERT, UPDATE or DELETE, and by all of them
  // since the connection was made.
  virtual long long ChangedRows() const = 0;
  virtual long long TotalChanges() const = 0;

  // The statement that begins a transaction that writes.
  virtual const char* BeginStatement() const = 0;

  // The engine's view of the transaction: none (also when the engine undid
  // it by itself or the connection is gone), open, or failed (a statement of
  // it failed: only a rollback is accepted).
  enum class TransactionState { None, Open, Failed };
  virtual TransactionState Transaction() const = 0;

  virtual void SetLockWait(std::chrono::milliseconds wait, const std::atomic<bool>* stop) = 0;

  // Called before a statement when no transaction is open: a connection that
  // was lost is made again. True when it was; throws DatabaseError with the
  // connection's text when it cannot be.
  virtual bool Revive() { return false; }
};

}  // namespace orba
