#include "orders/input_value.h"

#include "common/sql_text.h"
#include "common/text.h"

namespace orba {

InputValue InputValue::FromField(const Value& field) {
  if (field.IsNull()) return {};
  // Value keeps its kind private; its text of a number reads back exactly.
  const std::string text = field.Text();
  return InputValue(text);
}

bool InputValue::Empty() const {
  if (std::holds_alternative<std::monostate>(v_)) return true;
  if (const auto* s = std::get_if<std::string>(&v_)) return s->empty();
  return false;
}

std::string InputValue::Text() const {
  if (const auto* i = std::get_if<long long>(&v_)) return SqlNumber(*i);
  if (const auto* d = std::get_if<double>(&v_)) return SqlNumber(*d);
  if (const auto* s = std::get_if<std::string>(&v_)) return *s;
  return {};
}

std::string InputValue::Raw() const {
  if (const auto* i = std::get_if<long long>(&v_)) return SqlNumber(*i);
  if (const auto* d = std::get_if<double>(&v_)) return SqlNumber(*d);
  if (const auto* s = std::get_if<std::string>(&v_)) {
    if (auto whole = ParseInteger(*s)) return SqlNumber(*whole);
    if (auto decimal = ParseDecimal(*s)) return SqlNumber(*decimal);
    throw DatabaseError("Tipo incompatível: '" + *s + "' não é um número");
  }
  throw DatabaseError("Valor numérico não informado");
}

Value InputValue::RawValue() const {
  const std::string raw = Raw();
  if (const auto whole = ParseInteger(raw)) return Value(*whole);
  return Value(*ParseDecimal(raw));
}

double InputValue::Number() const {
  if (const auto* i = std::get_if<long long>(&v_)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&v_)) return *d;
  if (const auto* s = std::get_if<std::string>(&v_)) {
    if (auto decimal = ParseDecimal(*s)) return *decimal;
    throw DatabaseError("Tipo incompatível: '" + *s + "' não é um número");
  }
  throw DatabaseError("Valor numérico não informado");
}

std::string InputValue::Quoted() const { return "'" + SqlEscapeValue(Text()) + "'"; }

}  // namespace orba
