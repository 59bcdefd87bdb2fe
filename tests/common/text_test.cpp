#include "common/text.h"

#include <gtest/gtest.h>

namespace orba {
namespace {

TEST(Encoding, Latin1RoundTripAndCharactersOutsideLatin1) {
  const std::string latin1 = "A\xE7\xE3o \xC1vila";  // Ação Ávila
  const std::string utf8 = Latin1ToUtf8(latin1);
  EXPECT_EQ(utf8, "Ação Ávila");
  EXPECT_EQ(Utf8ToLatin1(utf8), latin1);
  EXPECT_EQ(Utf8ToLatin1("€5"), "?5");
}

TEST(Encoding, MalformedUtf8IsKeptAsLatin1NotDropped) {
  EXPECT_EQ(Utf8ToLatin1("a\xE7" "b"), "a\xE7" "b");
  EXPECT_EQ(CharacterCount("a\xE7" "b"), 3u);
}

TEST(UpperCase, AccentedLettersButNotDivisionSign) {
  EXPECT_EQ(UpperCase("ação é ü ÿ ÷ straße"), "AÇÃO É Ü ÿ ÷ STRAßE");
}

TEST(Characters, CountAndPrefixByCodePoint) {
  EXPECT_EQ(CharacterCount("Café"), 4u);
  EXPECT_EQ(FirstCharacters("Café au lait", 4), "Café");
  EXPECT_EQ(FirstCharacters("ab", 5), "ab");
}

TEST(ParseDecimal, CommaOrPointNeverThousands) {
  EXPECT_DOUBLE_EQ(*ParseDecimal("2,5"), 2.5);
  EXPECT_DOUBLE_EQ(*ParseDecimal(" 0.25 "), 0.25);
  EXPECT_DOUBLE_EQ(*ParseDecimal("-3"), -3);
  EXPECT_DOUBLE_EQ(*ParseDecimal("+1,50"), 1.5);
  EXPECT_FALSE(ParseDecimal("1.234,5"));
  EXPECT_FALSE(ParseDecimal(""));
  EXPECT_FALSE(ParseDecimal("abc"));
  EXPECT_FALSE(ParseDecimal("1e400"));
  EXPECT_FALSE(ParseDecimal("1-2"));
}

TEST(ParseInteger, WholeTextOnly) {
  EXPECT_EQ(*ParseInteger(" 42 "), 42);
  EXPECT_EQ(*ParseInteger("-7"), -7);
  EXPECT_FALSE(ParseInteger("4 OR 1=1"));
  EXPECT_FALSE(ParseInteger("2.5"));
  EXPECT_FALSE(ParseInteger("99999999999999999999"));
  EXPECT_EQ(*ParseLeadingInteger("3 pessoas"), 3);
  EXPECT_EQ(*ParseLeadingInteger("12abc"), 12);
  EXPECT_FALSE(ParseLeadingInteger("abc"));
  EXPECT_FALSE(ParseLeadingInteger(""));
}

TEST(FormatDecimal, RegionalSeparator) {
  EXPECT_EQ(FormatDecimal(0.25, ','), "0,25");
  EXPECT_EQ(FormatDecimal(2, ','), "2");
  EXPECT_EQ(FormatDecimal(1.5, '.'), "1.5");
}

}  // namespace
}  // namespace orba
