#pragma once
// The one database session of the program: statements are built line by line
// in the session's buffer, queries come back as client-side copies whose row
// count is known and whose fields are found by name without regard to case.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;

namespace orba {

class Operator;

// Any failure of the database or of reading a value; handlers catch it on
// their error path.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A field value: Null, integer, real or text.
class Value {
 public:
  Value() = default;
  Value(long long v) : v_(v) {}
  Value(double v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}

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

class DatabaseSession {
 public:
  explicit DatabaseSession(Operator& op);
  ~DatabaseSession();
  DatabaseSession(const DatabaseSession&) = delete;
  DatabaseSession& operator=(const DatabaseSession&) = delete;

  // Opens `folder` + `file` read/write (never creates it). On failure shows
  // the error under the program's name and returns false.
  bool OpenDatabase(std::string_view file, std::string_view folder);
  void CloseDatabase();
  bool IsOpen() const { return db_ != nullptr; }

  void SqlClear();
  void SqlAppend(std::string_view line);
  // Every line of the buffer, the first (empty) one included, each followed
  // by a carriage return.
  std::string SqlText() const;

  // Runs a query and returns every row of it. A failure throws DatabaseError
  // with the provider's text: a failed query can never be read as rows, nor
  // as "no rows". This is how the program queries.
  Recordset Query(const std::string& text);
  // The same for callers that test the result: true when the query failed,
  // and the recordset is then closed, so any use of it fails too. Nothing is
  // shown.
  bool OpenRecordset(const std::string& text, Recordset& rs);
  // Runs one statement without result; throws DatabaseError on failure.
  void ExecuteSql(const std::string& text);

  // The transaction brackets report their own failures (ReportError) and go
  // on; a failed begin, commit or rollback leaves the flag set. Begin tells
  // whether a transaction is open, for callers that must not write without.
  bool BeginTransaction();
  void CommitTransaction();
  void RollbackTransaction();
  bool InTransaction() const { return in_transaction_; }

  // The provider's text of the last failed operation; empty when the last
  // operation succeeded or there is no session.
  const std::string& ProviderError() const { return provider_error_; }

  // Rows changed by the last statement.
  long long ChangedRows() const;

  sqlite3* Handle() const { return db_; }

 private:
  void Run(const std::string& text, Recordset* rs);
  void Finish(const char* statement);

  Operator& op_;
  sqlite3* db_ = nullptr;
  std::vector<std::string> buffer_{std::string()};
  bool in_transaction_ = false;
  bool begun_ = false;  // the last begin opened a transaction
  std::string provider_error_;
};

}  // namespace orba
