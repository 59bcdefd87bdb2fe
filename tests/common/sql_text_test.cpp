#include "common/sql_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>

#include "common/database.h"

namespace orba {
namespace {

TEST(SqlEscape, UpperCasesReplacesQuotesAndTrimsButKeepsCallerBlanks) {
  std::string value = "  d'Ávila ";
  EXPECT_EQ(SqlEscape(value), "D\xC2\xB4\xC3\x81VILA");  // D´ÁVILA
  EXPECT_EQ(value, "  D'ÁVILA ");
}

TEST(SqlEscape, NullStaysNull) {
  NullableText value;
  EXPECT_FALSE(SqlEscape(value).has_value());
}

TEST(SqlEscape, NoQuoteOfAnyKindSurvives) {
  const std::string escaped = SqlEscapeValue("a'b\"c\xE2\x80\x98" "d\xE2\x80\x99" "e' OR '1'='1");
  EXPECT_EQ(escaped.find('\''), std::string::npos);
  EXPECT_EQ(escaped.find('"'), std::string::npos);
  EXPECT_EQ(escaped, "A´B´C´D´E´ OR ´1´=´1");
  // Bytes 145 and 146 of a Windows text read as ISO-8859-1.
  EXPECT_EQ(SqlEscapeValue("o\xC2\x92" "brien \xC2\x91x"), "O´BRIEN ´X");
}

TEST(ReplaceQuotes, KeepsCaseAndOtherCharacters) {
  EXPECT_EQ(ReplaceQuotes(std::string_view("it's ç")), "it\xC2\xB4s ç");
  EXPECT_FALSE(ReplaceQuotes(NullableText()).has_value());
}

TEST(ConvertDate, BothDirectionsAndUnknownFormat) {
  EXPECT_EQ(ConvertDate("20261208", "DD/MM/YYYY"), "08/12/2026");
  EXPECT_EQ(ConvertDate("08/12/2026", "yyyymmdd"), "20261208");
  EXPECT_EQ(ConvertDate("20261208", "mm/dd/yyyy"), "");
  // Nothing is validated, and a short text never fails.
  EXPECT_EQ(ConvertDate("2026", "dd/mm/yyyy"), "26//2026");
}

TEST(PadText, PadsInPlaceOrCutsWithoutTouchingArgument) {
  std::string address = "10.0.0.7";
  EXPECT_EQ(PadText(address, 15, false), "10.0.0.7       ");
  EXPECT_EQ(address, "10.0.0.7       ");

  std::string longer = "1234567890123456";
  EXPECT_EQ(PadText(longer, 15, false), "123456789012345");
  EXPECT_EQ(longer, "1234567890123456");

  std::string accented = "Café";
  EXPECT_EQ(PadText(accented, 6, true), "  Café");
}

TEST(SqlNumber, PointWhateverTheLocaleAndNoInfinity) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  // Any installed locale with a decimal comma shows the point is not taken
  // from the locale; without one the check still runs under "C".
  for (const char* name : {"pt_BR.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) break;
  }
  EXPECT_EQ(SqlNumber(2.5), "2.5");
  EXPECT_EQ(SqlNumber(-0.25), "-0.25");
  EXPECT_EQ(SqlNumber(23.0), "23");
  EXPECT_EQ(SqlNumber(1234567.75), "1234567.75");
  EXPECT_EQ(SqlNumber(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(SqlNumber(-0.0), "0");
  std::setlocale(LC_NUMERIC, saved.c_str());

  EXPECT_THROW(SqlNumber(std::numeric_limits<double>::infinity()), DatabaseError);
  EXPECT_THROW(SqlNumber(std::numeric_limits<double>::quiet_NaN()), DatabaseError);
  EXPECT_THROW(SqlNumber(std::numeric_limits<double>::max() * 2), DatabaseError);
}

}  // namespace
}  // namespace orba
