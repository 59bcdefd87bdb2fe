#pragma once
// The embedded engine: SQLite on the file ORBA.MDB that the back office
// shares on the same machine.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/database_backend.h"

struct sqlite3;
struct sqlite3_stmt;

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
  void Run(const std::string& text, const std::vector<Value>& values, ResultRows* out) override;
  void CommitsWaitForDisk(bool wait) override;
  long long ChangedRows() const override;
  long long TotalChanges() const override;
  // IMMEDIATE takes the write lock now, so a busy back office is waited for
  // here and not halfway through an order.
  const char* BeginStatement() const override { return "BEGIN IMMEDIATE"; }
  TransactionState Transaction() const override;
  void SetLockWait(std::chrono::milliseconds wait, const std::atomic<bool>* stop) override;

 private:
  static int OnBusy(void* backend, int attempt);
  // Keeps `statement` prepared for the next run of `text` when the text is
  // `constant` (its values are bound) or has been run before; true when kept.
  bool KeepStatement(const std::string& text, sqlite3_stmt* statement, bool constant,
                     const std::vector<long long>& markers);
  // The k of each marker $k of the statement, in SQLite's order of its
  // parameters (0 for a marker of another form). Read once per statement:
  // SQLite finds a parameter's name by a walk through all of them, which for
  // a row insert of hundreds of values cost more than the insert.
  static std::vector<long long> MarkerNumbers(sqlite3_stmt* statement);
  // Binds values[k - 1] to each marker $k of the statement.
  void Bind(sqlite3_stmt* statement, const std::vector<long long>& markers, const std::vector<Value>& values);
  void ForgetStatements();
  // PRAGMA synchronous: FULL (a commit waits until its journal is on the
  // disk) or NORMAL. False when it could not be set.
  bool SetCommitsWait(bool wait);

  std::string path_;
  sqlite3* db_ = nullptr;
  std::chrono::milliseconds lock_wait_{DatabaseSession::kDefaultLockWait};
  const std::atomic<bool>* stop_ = nullptr;
  std::chrono::steady_clock::time_point busy_since_;
  bool commits_wait_ = true;
  bool without_disk_wait_ = false;  // set by CommitsWaitForDisk(false)

  // Statements whose values are bound stay prepared for the life of the
  // connection; of those whose text comes back (the counters of
  // parametro_geral, the printer list, BEGIN and COMMIT, ...) the least
  // recently used one gives way. SQLite prepares a kept statement again by
  // itself when the schema changes.
  struct KeptStatement {
    sqlite3_stmt* statement;
    std::uint64_t last_use;
    bool constant;  // its text never carries a value
    std::vector<long long> markers;  // MarkerNumbers
  };
  static constexpr std::size_t kKeptStatements = 64;
  static constexpr std::size_t kRememberedTexts = 1024;
  std::unordered_map<std::string, KeptStatement> statements_;
  std::size_t come_back_ = 0;  // kept statements that are not constant
  std::unordered_set<std::size_t> seen_texts_;  // hashes of texts run once
  std::uint64_t uses_ = 0;
};

}  // namespace orba
