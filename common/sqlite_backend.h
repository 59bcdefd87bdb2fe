#pragma once
// The embedded engine: SQLite on the file ORBA.MDB that the back office
// shares on the same machine.

#include <memory>
#include <string>

#include "common/database_backend.h"

struct sqlite3;

namespace orba {

class SqliteBackend final : public DatabaseBackend {
 public:
  // Opens `path` read/write (never creates it), in WAL mode. Throws
  // DatabaseError with SQLite's text when it cannot.
  explicit SqliteBackend(const std::string& path);
  ~SqliteBackend() override;
  SqliteBackend(const SqliteBackend&) = delete;
  SqliteBackend& operator=(const SqliteBackend&) = delete;

  std::string Description() const override { return path_; }
  void Run(const std::string& text, ResultRows* out) override;
  long long ChangedRows() const override;
  long long TotalChanges() const override;
  // IMMEDIATE takes the write lock now, so a busy back office is waited for
  // here and not halfway through an order.
  const char* BeginStatement() const override { return "BEGIN IMMEDIATE"; }
  TransactionState Transaction() const override;
  std::string NameMatches(std::string_view column, const std::vector<std::string>& spellings) const override;
  void SetLockWait(std::chrono::milliseconds wait, const std::atomic<bool>* stop) override;

 private:
  static int OnBusy(void* backend, int attempt);

  std::string path_;
  sqlite3* db_ = nullptr;
  std::chrono::milliseconds lock_wait_{DatabaseSession::kDefaultLockWait};
  const std::atomic<bool>* stop_ = nullptr;
  std::chrono::steady_clock::time_point busy_since_;
};

}  // namespace orba
