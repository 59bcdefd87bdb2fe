#include "common/sql_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/database.h"
#include "common/text.h"

namespace orba {

namespace {

// Left, Mid and Right that never fail on a short text.
std::string Left(std::string_view s, std::size_t n) { return std::string(s.substr(0, n)); }
std::string Right(std::string_view s, std::size_t n) {
  return std::string(s.substr(s.size() > n ? s.size() - n : 0));
}
std::string Mid(std::string_view s, std::size_t start_1based, std::size_t n) {
  if (start_1based == 0 || start_1based > s.size()) return {};
  return std::string(s.substr(start_1based - 1, n));
}

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return out;
}

}  // namespace

std::string ReplaceQuotes(std::string_view value) {
  static constexpr std::string_view kAcute = "\xC2\xB4";  // ´
  std::string out;
  out.reserve(value.size() + 4);
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\'' || c == '"') {
      out += kAcute;
    } else if (value.substr(i, 3) == "\xE2\x80\x98" || value.substr(i, 3) == "\xE2\x80\x99") {
      out += kAcute;  // left and right single quotation marks
      i += 2;
    } else if (value.substr(i, 2) == "\xC2\x91" || value.substr(i, 2) == "\xC2\x92") {
      // The same marks as bytes 145 and 146 of a Windows text that came in
      // declared as ISO-8859-1.
      out += kAcute;
      i += 1;
    } else {
      out += c;
    }
  }
  return out;
}

NullableText ReplaceQuotes(const NullableText& value) {
  if (!value) return std::nullopt;
  return ReplaceQuotes(std::string_view(*value));
}

std::string SqlEscape(std::string& value) {
  value = UpperCase(value);
  return TrimSpaces(ReplaceQuotes(std::string_view(value)));
}

NullableText SqlEscape(NullableText& value) {
  if (!value) return std::nullopt;
  return SqlEscape(*value);
}

std::string SqlEscapeValue(std::string_view value) {
  std::string copy(value);
  return SqlEscape(copy);
}

std::string ConvertDate(std::string_view text, std::string_view format) {
  const std::string name = Lower(format);
  if (name == "dd/mm/yyyy") return Right(text, 2) + "/" + Mid(text, 5, 2) + "/" + Left(text, 4);
  if (name == "yyyymmdd") return Right(text, 4) + Mid(text, 4, 2) + Left(text, 2);
  return {};
}

std::string PadText(std::string& text, int width, bool pad_left) {
  const std::size_t wanted = width < 0 ? 0 : static_cast<std::size_t>(width);
  const std::size_t length = CharacterCount(text);
  if (wanted < length) return FirstCharacters(text, wanted);
  const std::string blanks(wanted - length, ' ');
  text = pad_left ? blanks + text : text + blanks;
  return text;
}

std::string SqlNumber(double value) {
  if (!std::isfinite(value)) throw DatabaseError("Valor numérico inválido (estouro de capacidade)");
  if (value == 0) value = 0;  // no "-0"
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) throw DatabaseError("Valor numérico inválido");
  return std::string(buffer, end);
}

std::string SqlNumber(long long value) { return std::to_string(value); }

}  // namespace orba
