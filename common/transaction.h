#pragma once
// The one transaction of a handler. Begun on construction, rolled back on
// every way out that did not commit: a refusal, a failure, an exception, an
// early return. A commit that fails cannot be mistaken for one that worked.

#include "common/database.h"

namespace orba {

class TransactionGuard {
 public:
  // Begins the transaction (BEGIN IMMEDIATE: the write lock is taken now, so
  // a busy back office is waited for here rather than halfway through).
  // Throws DatabaseError when it cannot be begun; the session has reported it.
  explicit TransactionGuard(DatabaseSession& db, CommitWait wait = CommitWait::ForDisk);
  ~TransactionGuard();
  TransactionGuard(const TransactionGuard&) = delete;
  TransactionGuard& operator=(const TransactionGuard&) = delete;

  // Throws DatabaseError when the commit did not take: the session has
  // reported a failure of the commit itself (not that of a write read with
  // it), and the destructor rolls back.
  void Commit();
  // Commit, then `reads` in the same wait for a server (what the caller
  // reads first once the transaction is stored). True when the reads ran
  // and `results` holds their rows; false when only they failed.
  bool Commit(const std::vector<DatabaseSession::Statement>& reads, std::vector<Recordset>& results);

 private:
  DatabaseSession& db_;
  bool committed_ = false;
};

}  // namespace orba
