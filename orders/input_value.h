#pragma once
// One input of the sale operations as the caller has it: absent, a number or a
// text (read from a request or a recordset). It is turned into SQL text only
// through the forms below, so a text that is not a number never reaches a
// statement unquoted.

#include <concepts>
#include <string>
#include <string_view>
#include <variant>

#include "common/database.h"

namespace orba {

class InputValue {
 public:
  InputValue() = default;
  template <std::integral T>
    requires(!std::same_as<T, bool>)
  InputValue(T value) : v_(static_cast<long long>(value)) {}
  InputValue(double value) : v_(value) {}
  InputValue(std::string value) : v_(std::move(value)) {}
  InputValue(std::string_view value) : v_(std::string(value)) {}
  InputValue(const char* value) : v_(std::string(value)) {}
  // Null becomes an absent value; numbers and texts keep their kind.
  static InputValue FromField(const Value& field);

  // Absent, or a text of length 0.
  bool Empty() const;
  // The value as text (numbers with "." as decimal mark); "" when absent.
  std::string Text() const;

  // A number written unquoted: integers as they are, decimals with "." as
  // mark. A text must parse as a number (',' or '.' as mark); anything else,
  // an absent value included, throws DatabaseError.
  std::string Raw() const;
  // The number Raw() writes, as a value bound to a statement: an integer
  // where Raw() gives a whole number, a real otherwise. Throws as Raw.
  Value RawValue() const;
  // The value as a number (SqlNumber form); throws DatabaseError as Raw.
  double Number() const;
  // "'" + SqlEscape(text) + "'".
  std::string Quoted() const;

 private:
  std::variant<std::monostate, long long, double, std::string> v_;
};

}  // namespace orba
