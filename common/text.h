#pragma once
// Text helpers. Inside the program every text is UTF-8; the handhelds and the
// files we write ourselves speak ISO-8859-1, and numbers from a request may use
// either ',' or '.' as decimal mark.

#include <optional>
#include <string>
#include <string_view>

namespace orba {

std::string Latin1ToUtf8(std::string_view latin1);
// Characters outside Latin-1 become '?'.
std::string Utf8ToLatin1(std::string_view utf8);

// Upper case of ASCII and of the accented Latin-1 letters (á -> Á, ç -> Ç).
std::string UpperCase(std::string_view utf8);

// Number of characters (code points) of a UTF-8 text.
std::size_t CharacterCount(std::string_view utf8);
// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(std::string_view utf8, std::size_t count);

// Removes blanks (spaces only) at both ends.
std::string TrimSpaces(std::string_view text);

// A whole decimal number ("12", "-3", "2,5", "0.25"); either ',' or '.' is the
// decimal mark, never a thousands separator. Blanks around it are allowed.
// Anything else (empty, letters, two marks, overflow) gives nothing.
std::optional<double> ParseDecimal(std::string_view text);
// A whole integer in the range of long long, blanks around it allowed.
std::optional<long long> ParseInteger(std::string_view text);
// The integer at the start of the text ("3 pessoas" gives 3); nothing when the
// text does not start with digits.
std::optional<long long> ParseLeadingInteger(std::string_view text);

// A number for people: shortest text that reads back as the same value, with
// the given decimal separator ("regional settings").
std::string FormatDecimal(double value, char decimal_separator);

}  // namespace orba
