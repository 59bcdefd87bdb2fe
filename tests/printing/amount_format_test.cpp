// Amounts and quantities as people read them on tickets, pre-bills and the
// position: rounded from the decimal value the double stands for.

#include <gtest/gtest.h>

#include "printing/print_layout.h"

namespace orba {
namespace {

TEST(AmountFormat, HalfCentsRoundAwayFromZeroFromTheDecimalValue) {
  // Stored as 1.48499999..., 0.49499999..., 2.67499999...: still half a cent.
  EXPECT_EQ(FormatAmount(1.485, 2, false, '.'), "1.49");
  EXPECT_EQ(FormatAmount(1.5 * 0.99, 2, false, ','), "1,49");
  EXPECT_EQ(FormatAmount(2.675, 2, false, '.'), "2.68");
  EXPECT_EQ(FormatAmount(-1.485, 2, false, '.'), "-1.49");
  EXPECT_EQ(FormatAmount(0.125, 2, false, '.'), "0.13");
  EXPECT_EQ(FormatAmount(1.484, 2, false, '.'), "1.48");
  EXPECT_EQ(FormatAmount(0.0049, 2, false, '.'), "0.00");
  EXPECT_EQ(FormatAmount(0.005, 2, false, '.'), "0.01");
  EXPECT_EQ(FormatAmount(-0.001, 2, false, '.'), "0.00");
  EXPECT_EQ(FormatAmount(9.995, 2, false, '.'), "10.00");
  EXPECT_EQ(FormatAmount(999999.999, 2, true, ','), "1.000.000,00");
  EXPECT_EQ(FormatAmount(0, 3, false, ','), "0,000");
  EXPECT_EQ(FormatAmount(12.5, 0, false, '.'), "13");
  EXPECT_EQ(FormatAmount(1e-300, 2, false, '.'), "0.00");
  EXPECT_EQ(FormatAmount(123456789012.345, 2, false, '.'), "123456789012.35");
}

TEST(AmountFormat, SumsOfManyLinesDoNotDriftOffTheirCent) {
  double sum = 0;
  for (int i = 0; i < 30; ++i) sum += 0.10;
  EXPECT_NE(sum, 3.0);  // what the sum really holds
  EXPECT_EQ(FormatAmount(sum, 2, true, ','), "3,00");
  double many = 0;
  for (int i = 0; i < 10000; ++i) many += 0.01 * 1.5;  // 150.00 exactly on paper
  EXPECT_EQ(FormatAmount(many, 2, false, '.'), "150.00");
  EXPECT_EQ(FormatQuantity(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(FormatQuantity(2.0005, ','), "2,001");
}

}  // namespace
}  // namespace orba
