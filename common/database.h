#pragma once
// The one database session of the program: statements are built line by line
// in the session's buffer, queries come back as client-side copies whose row
// count is known and whose fields are found by name without regard to case.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orba {

class Operator;
class DatabaseBackend;
struct ResultRows;

// Any failure of the database or of reading a value; handlers catch it on
// their error path.
class DatabaseError : public std::runtime_error {
 public:
  explicit DatabaseError(const std::string& what, bool busy = false, bool earlier = false)
      : std::runtime_error(what), busy_(busy), earlier_(earlier) {}
  // The database stayed locked by another writer (the back office) longer
  // than the session waits: trying again later may work.
  bool Busy() const { return busy_; }
  // The failure of a write sent before the statement that read it (a write
  // of a transaction on a server is not waited for), not of that statement.
  bool Earlier() const { return earlier_; }

 private:
  bool busy_ = false;
  bool earlier_ = false;
};

// A field value, or a value bound to a statement: Null, integer, real or text.
class Value {
 public:
  enum class Kind { Null, Integer, Real, Text };

  Value() = default;
  Value(int v) : v_(static_cast<long long>(v)) {}
  Value(long long v) : v_(v) {}
  Value(double v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}
  Value(std::string_view v) : v_(std::string(v)) {}
  Value(const char* v) : v_(std::string(v)) {}

  Kind GetKind() const { return static_cast<Kind>(v_.index()); }
  bool IsNull() const { return std::holds_alternative<std::monostate>(v_); }
  // Null gives the empty text; numbers their decimal text ("." as mark).
  std::string Text() const;
  // Conversions that fail (Null, text that is not a number, out of range)
  // throw DatabaseError, as a failed conversion in a handler must.
  long long Int() const;
  std::int32_t Int32() const;
  double Real() const;

 private:
  std::variant<std::monostate, long long, double, std::string> v_;
};

class Recordset {
 public:
  bool IsOpen() const { return open_; }
  // The calls below throw DatabaseError on a recordset that is not open, the
  // way the next use of a failed query fails in its caller.
  bool Eof() const;
  void MoveNext();
  std::size_t RecordCount() const;
  std::size_t FieldCount() const;
  const Value& Field(std::string_view name) const;
  const Value& Field(std::size_t index) const;
  void Close();

 private:
  friend class DatabaseSession;
  void RequireOpen() const;
  void RequireRow() const;

  bool open_ = false;
  std::vector<std::string> columns_;
  std::vector<std::vector<Value>> rows_;
  std::size_t position_ = 0;
};

class DatabaseSession;

// Rows of one table, gathered to be written with few statements, in the
// order added. On SQLite each statement inserts 16, 8, 4, 2 or 1 of them,
// under a text kept for that count (at most five texts per table and
// columns); on a server one statement takes them all, as one bound value.
class RowInserts {
 public:
  // `ending` follows the rows in each statement ("on conflict do nothing").
  explicit RowInserts(std::string table, std::string ending = {})
      : table_(std::move(table)), ending_(std::move(ending)) {}
  // A row as column names with their values; every row names the same
  // columns, in the same order.
  void Add(const std::vector<std::pair<const char*, Value>>& row);
  // Writes the rows gathered so far and forgets them.
  void Flush(DatabaseSession& db);
  bool Empty() const { return rows_.empty(); }

 private:
  Value JsonRows(const std::vector<std::vector<Value>>& rows) const;

  std::string table_;
  std::string ending_;
  std::vector<std::string> columns_;
  std::vector<std::vector<Value>> rows_;
};

// The engines the session runs on: SQLite on the file ORBA.MDB (the default),
// or a PostgreSQL server reached through a libpq connection string.
enum class DatabaseEngine { None, Sqlite, Postgresql };

// When a transaction's commit is on the disk: before the commit returns
// (anything a handheld is told is stored), or with the next commit that
// waits - every other commit does, and makes everything before it durable
// too. The second survives a crash of the program but not always a power
// cut: only for records whose loss would repeat a piece of work (a ticket
// printed once more), never for an order.
enum class CommitWait { ForDisk, ForNextCommit };

class DatabaseSession {
 public:
  explicit DatabaseSession(Operator& op);
  ~DatabaseSession();
  DatabaseSession(const DatabaseSession&) = delete;
  DatabaseSession& operator=(const DatabaseSession&) = delete;

  // Opens `folder` + `file` read/write with SQLite (never creates it). On
  // failure shows the error under the program's name and returns false.
  bool OpenDatabase(std::string_view file, std::string_view folder);
  // Connects to a PostgreSQL server with a libpq connection string (empty:
  // libpq's defaults and environment). On failure shows the server's text,
  // the database's name with it, and returns false. A connection lost later
  // is made again before the next statement that runs outside a transaction;
  // inside one, every statement fails until it is rolled back.
  bool OpenServer(std::string_view connection);
  void CloseDatabase();
  bool IsOpen() const { return backend_ != nullptr; }
  DatabaseEngine Engine() const { return engine_; }
  // The file, or the server's database, for messages; empty when closed.
  std::string Description() const;

  // How long a statement waits for a lock that another connection (the back
  // office) holds before it fails as busy. Waiting ends early once `stop` (when
  // given) is set, so that a service told to stop does not sit out the wait.
  void SetLockWait(std::chrono::milliseconds wait, const std::atomic<bool>* stop = nullptr);

  // A condition that `column` holds the place name bound to `marker` (a
  // value made by NameValue) the way the back office compares names: blanks
  // around it ignored, without regard to case, accented letters included
  // ("SALÃO 1" finds "Salão 1"). The condition keeps to the column's index.
  std::string NameMatches(std::string_view column, std::string_view marker) const;
  // The value bound to NameMatches' marker for the name `name` (it goes in
  // through SqlEscape's rules: upper case, quotes replaced, trimmed).
  Value NameValue(std::string_view name) const;

  // A condition that `column` is one of the list bound to `marker` as one
  // value (made by ListOf): the text stays the same whatever the list's
  // length, so that it is prepared once. `kind` is the column's: Integer or
  // Text.
  std::string InList(std::string_view column, std::string_view marker, Value::Kind kind) const;
  Value ListOf(const std::vector<long long>& numbers) const;
  Value ListOf(const std::vector<std::string>& texts) const;

  // The clause that ends a select reading rows whose check decides a write
  // of the same transaction: " for update" on PostgreSQL, where a plain read
  // holds nothing and another connection could change the rows before the
  // write; empty on SQLite, whose BEGIN IMMEDIATE holds every writer off.
  const char* ForUpdate() const { return engine_ == DatabaseEngine::Postgresql ? " for update" : ""; }

  void SqlClear();
  void SqlAppend(std::string_view line);
  // Every line of the buffer, the first (empty) one included, each followed
  // by a carriage return.
  std::string SqlText() const;

  // Runs a query and returns every row of it. A failure throws DatabaseError
  // with the provider's text: a failed query can never be read as rows, nor
  // as "no rows". This is how the program queries.
  Recordset Query(const std::string& text);
  // The same with `values` bound to the markers $1, $2, ... of a text that
  // never changes (a marker may come back; a text without values may still
  // hold constants). The statement is prepared once and kept for the life
  // of the connection: prepared again after a reconnect, and on a change of
  // the schema. Write markers where the engine cannot tell the value's type
  // from its place with a cast: "cast($1 as integer)".
  Recordset Query(const std::string& text, const std::vector<Value>& values);
  // Queries that do not depend on one another, each run as Query runs it;
  // their rows come back in the same order. On a server they go out together
  // and wait for it once.
  struct Statement {
    std::string text;
    std::vector<Value> values;
  };
  std::vector<Recordset> Queries(const std::vector<Statement>& statements);
  // The same for callers that test the result: true when the query failed,
  // and the recordset is then closed, so any use of it fails too. Nothing is
  // shown.
  bool OpenRecordset(const std::string& text, Recordset& rs);
  // Runs one statement without result; throws DatabaseError on failure.
  // Inside a transaction on a server, a statement without result is sent at
  // once but its outcome is read with the next query or the commit, which
  // then fail in its place: the writes of a transaction wait for the server
  // together.
  void ExecuteSql(const std::string& text);
  // The same with `values` bound, the statement kept as for Query.
  void ExecuteSql(const std::string& text, const std::vector<Value>& values);

  // The transaction brackets report their own failures (ReportError) and go
  // on; a failed begin, commit or rollback leaves the flag set. Begin tells
  // whether a transaction is open, for callers that must not write without.
  bool BeginTransaction(CommitWait wait = CommitWait::ForDisk);
  void CommitTransaction();
  // CommitTransaction, then `reads` as Queries runs them, in the same wait
  // for a server. True when the commit took and the reads ran (`results`
  // then holds their rows); a failure of the reads alone is not reported.
  bool CommitTransaction(const std::vector<Statement>& reads, std::vector<Recordset>& results);
  void RollbackTransaction();
  bool InTransaction() const { return in_transaction_; }

  // The provider's text of the last failed operation; empty when the last
  // operation succeeded or there is no session.
  const std::string& ProviderError() const { return provider_error_; }
  // The last failure was a lock held by another connection.
  bool LastFailureWasBusy() const { return busy_; }

  // Rows changed by the last INSERT, UPDATE or DELETE; by all of them since
  // the database was opened. Waits for the writes sent before.
  long long ChangedRows();
  long long TotalChanges() const;

  // Sees the text of every statement, with the values bound to it, before
  // it runs (tests and benchmarks list what a handler sends); an empty
  // function removes it.
  using StatementObserver = std::function<void(const std::string& text, const std::vector<Value>& values)>;
  void SetStatementObserver(StatementObserver observer);

 private:
  void Run(const std::string& text, const std::vector<Value>& values, Recordset* rs);
  // Reads sent with a commit, and their rows when they ran.
  struct ThenReads {
    const std::vector<Statement>& reads;
    std::vector<Recordset>& results;
    bool ran = false;
  };
  void Finish(const char* statement, ThenReads* then = nullptr);
  // Sends COMMIT and then `then.reads`; throws DatabaseError when the commit failed.
  void CommitThenRead(ThenReads& then);
  static std::vector<Recordset> Recordsets(std::vector<ResultRows> rows);
  bool Opened(std::unique_ptr<DatabaseBackend> backend, DatabaseEngine engine);

  Operator& op_;
  std::unique_ptr<DatabaseBackend> backend_;
  DatabaseEngine engine_ = DatabaseEngine::None;
  std::vector<std::string> buffer_{std::string()};
  bool in_transaction_ = false;
  bool begun_ = false;  // the last begin opened a transaction
  std::string provider_error_;
  bool busy_ = false;
  std::chrono::milliseconds lock_wait_{kDefaultLockWait};
  const std::atomic<bool>* stop_ = nullptr;
  StatementObserver observer_;

 public:
  // A handheld gives up on its answer after about 30 s; waiting up to 15 s for
  // the back office leaves time to write the order and answer within that.
  static constexpr std::chrono::milliseconds kDefaultLockWait{15000};
};

}  // namespace orba
