#include "common/text.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace orba {

namespace {

// Decodes one UTF-8 sequence at `i`; a malformed byte is taken as Latin-1 so
// that no input is ever lost or rejected here.
char32_t DecodeAt(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) {
    ++i;
    return c;
  }
  const int extra = (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
  if (extra < 0) {
    ++i;
    return c;
  }
  char32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    if (i + k >= s.size() || (byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return c;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  i += extra + 1;
  return cp;
}

void Encode(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (unsigned char c : latin1) Encode(c, out);
  return out;
}

std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeAt(utf8, i);
    out += cp <= 0xFF ? static_cast<char>(cp) : '?';
  }
  return out;
}

std::string UpperCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeAt(utf8, i);
    if (cp >= 'a' && cp <= 'z') {
      cp -= 0x20;
    } else if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) {
      cp -= 0x20;  // à..þ except ÷
    }
    Encode(cp, out);
  }
  return out;
}

std::size_t CharacterCount(std::string_view utf8) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < utf8.size(); ++count) DecodeAt(utf8, i);
  return count;
}

std::string FirstCharacters(std::string_view utf8, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < utf8.size(); ++n) DecodeAt(utf8, i);
  return std::string(utf8.substr(0, i));
}

std::string TrimSpaces(std::string_view text) { return std::string(TrimView(text)); }

std::optional<double> ParseDecimal(std::string_view text) {
  text = TrimView(text);
  if (text.empty()) return std::nullopt;
  std::string normal(text);
  bool seen_mark = false;
  for (char& c : normal) {
    if (c == ',' || c == '.') {
      if (seen_mark) return std::nullopt;
      seen_mark = true;
      c = '.';
    } else if (!(c >= '0' && c <= '9') && !(&c == &normal.front() && (c == '-' || c == '+'))) {
      return std::nullopt;
    }
  }
  const char* first = normal.data();
  if (*first == '+') ++first;
  double value = 0;
  auto [end, ec] = std::from_chars(first, normal.data() + normal.size(), value);
  if (ec != std::errc() || end != normal.data() + normal.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<long long> ParseInteger(std::string_view text) {
  text = TrimView(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<long long> ParseLeadingInteger(std::string_view text) {
  text = TrimView(text);
  std::size_t digits = 0;
  std::size_t start = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  while (start + digits < text.size() && text[start + digits] >= '0' && text[start + digits] <= '9') {
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return ParseInteger(text.substr(0, start + digits));
}

std::string FormatDecimal(double value, char decimal_separator) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return "0";
  std::string out(buffer, end);
  for (char& c : out) {
    if (c == '.') c = decimal_separator;
  }
  return out;
}

}  // namespace orba
