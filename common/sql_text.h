#pragma once
// Helpers that turn values into SQL text and format dates and columns.

#include <optional>
#include <string>
#include <string_view>

namespace orba {

using NullableText = std::optional<std::string>;

// Upper-cases the value (also the caller's variable, which keeps its blanks
// and quotes), replaces the quote characters and trims blanks at both ends.
// The caller writes the single quotes round the result.
std::string SqlEscape(std::string& value);
NullableText SqlEscape(NullableText& value);
// Same, for a value the caller does not keep.
std::string SqlEscapeValue(std::string_view value);

// Apostrophe, double quote and the curly single quotes become the acute accent.
std::string ReplaceQuotes(std::string_view value);
NullableText ReplaceQuotes(const NullableText& value);

// "dd/mm/yyyy" (any case): "yyyymmdd" to "dd/mm/yyyy"; "yyyymmdd": the reverse;
// any other format name: empty text. Nothing is validated.
std::string ConvertDate(std::string_view text, std::string_view format);

// Cuts a longer text to `width` characters (argument unchanged) or pads it with
// blanks to exactly `width`, storing the padded text back in the argument.
std::string PadText(std::string& text, int width, bool pad_left);

// A number for a statement: "." as decimal mark, no thousands separator,
// whatever the locale. Infinity and NaN are refused with a DatabaseError, so
// they never reach a row.
std::string SqlNumber(double value);
std::string SqlNumber(long long value);

}  // namespace orba
