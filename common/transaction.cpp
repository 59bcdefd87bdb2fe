#include "common/transaction.h"

namespace orba {

TransactionGuard::TransactionGuard(DatabaseSession& db, CommitWait wait) : db_(db) {
  if (!db_.BeginTransaction(wait)) {
    db_.RollbackTransaction();  // clears the flag of the begin that failed
    throw DatabaseError(db_.ProviderError().empty() ? std::string("A transação não pôde ser iniciada")
                                                    : db_.ProviderError(),
                        db_.LastFailureWasBusy());
  }
}

TransactionGuard::~TransactionGuard() {
  if (!committed_ && db_.InTransaction()) db_.RollbackTransaction();
}

void TransactionGuard::Commit() {
  std::vector<Recordset> none;
  Commit({}, none);
}

bool TransactionGuard::Commit(const std::vector<DatabaseSession::Statement>& reads, std::vector<Recordset>& results) {
  bool ran = false;
  if (reads.empty()) {
    db_.CommitTransaction();
  } else {
    ran = db_.CommitTransaction(reads, results);
  }
  if (db_.InTransaction()) {
    throw DatabaseError(db_.ProviderError().empty() ? std::string("A transação não pôde ser confirmada")
                                                    : db_.ProviderError(),
                        db_.LastFailureWasBusy());
  }
  committed_ = true;
  return ran;
}

}  // namespace orba
