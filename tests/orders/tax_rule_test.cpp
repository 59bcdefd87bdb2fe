#include "orders/tax_rule.h"

#include "common/database.h"
#include "orders/customer.h"
#include "support/test_database.h"

#include <gtest/gtest.h>

namespace orba::test {
namespace {

class TaxRuleTest : public ::testing::Test {
 protected:
  TaxRuleTest() {
    db.Exec("INSERT INTO produto (id_mat_pro, cd_pro, id_gru_fsc) VALUES (10, '101', 7)");
    db.Exec("INSERT INTO produto (id_mat_pro, cd_pro, id_gru_fsc) VALUES (11, '102', NULL)");
    // Rule 1: municipality and product; 2: municipality, any product;
    // 3: any municipality, the product; 4: neither.
    AddRule(1, "3550308", "10");
    AddRule(2, "3550308", "NULL");
    AddRule(3, "NULL", "10");
    AddRule(4, "NULL", "NULL");
    // Near misses that must never be chosen.
    db.Exec("INSERT INTO tributacao (id_tri, id_tip_emp, id_etb_orba, id_tip_nf, id_gru_fsc, id_uti_pro, id_Uf,"
            " id_mun, id_mat_pro) VALUES (90, 1, 2, 1, 7, 1, 35, 3550308, 10),"
            " (91, 1, 1, 1, 7, 1, 33, 3550308, 10), (92, 1, 1, 1, 8, 1, 35, NULL, NULL),"
            " (93, 1, 1, 1, 7, 1, 35, 9999999, 10)");
    customer.state = "35";
    customer.municipality = "3550308";
    customer.company_type = "1";
    customer.invoice_type = "1";
    customer.product_use = "1";
  }

  void AddRule(int id, const std::string& municipality, const std::string& product) {
    const std::string n = std::to_string(id);
    db.Exec("INSERT INTO tributacao VALUES (" + n + ", 1, 1, 1, 7, 1, 35, " + municipality + ", " + product +
            ", 'T', 'S', 'N', 'T', 1" + n + ".5, " + n + ", 510" + n + ")");
  }

  TestDatabase db;
  CustomerRecord customer;
};

TEST_F(TaxRuleTest, MostSpecificRuleWinsInTheFourAttempts) {
  const TaxRuleQuery query = TaxRuleQueryFor(customer, 10, 1);
  for (int expected = 1; expected <= 4; ++expected) {
    TaxRule rule;
    ASSERT_TRUE(FindTaxRule(db.session, query, rule)) << "attempt " << expected;
    EXPECT_EQ(rule.id_tri, expected);
    db.Exec("DELETE FROM tributacao WHERE id_tri = " + std::to_string(expected));
  }
}

TEST_F(TaxRuleTest, CopiesTheRulesFields) {
  TaxRule rule;
  ASSERT_TRUE(FindTaxRule(db.session, TaxRuleQueryFor(customer, "10", 1), rule));
  EXPECT_EQ(rule.id_tri, 1);
  EXPECT_EQ(rule.Ic_Tri_Ipi, "T");
  EXPECT_EQ(rule.Ic_Ipi_Bas_Icms, "S");
  EXPECT_EQ(rule.Ic_Zon_Frc, "N");
  EXPECT_EQ(rule.ic_tri_icms, "T");
  EXPECT_DOUBLE_EQ(rule.Aq_Icms, 11.5);
  EXPECT_DOUBLE_EQ(rule.Aq_Rdu_Icms, 1);
  EXPECT_EQ(rule.cd_nat_ope, 5101);
}

TEST_F(TaxRuleTest, NoRuleLeavesTheOutputsAlone) {
  db.Exec("DELETE FROM tributacao WHERE id_tri < 90");
  TaxRule rule;
  rule.Ic_Tri_Ipi = "untouched";
  EXPECT_FALSE(FindTaxRule(db.session, TaxRuleQueryFor(customer, 10, 1), rule));
  EXPECT_EQ(rule.id_tri, 0);
  EXPECT_EQ(rule.Ic_Tri_Ipi, "untouched");
}

TEST_F(TaxRuleTest, BadProductOrProfileIsAnError) {
  TaxRule rule;
  EXPECT_THROW(FindTaxRule(db.session, TaxRuleQueryFor(customer, 12, 1), rule), DatabaseError);  // no produto row
  EXPECT_THROW(FindTaxRule(db.session, TaxRuleQueryFor(customer, 11, 1), rule), DatabaseError);  // Null group

  CustomerRecord hostile = customer;
  hostile.state = "35 or 1=1";
  EXPECT_THROW(FindTaxRule(db.session, TaxRuleQueryFor(hostile, 10, 1), rule), DatabaseError);
  hostile = customer;
  hostile.municipality = "";
  EXPECT_THROW(FindTaxRule(db.session, TaxRuleQueryFor(hostile, 10, 1), rule), DatabaseError);
  EXPECT_EQ(rule.id_tri, 0);
}

TEST_F(TaxRuleTest, SeveralProductsAtOnceGetWhatTheirOwnLookupsGive) {
  db.Exec("INSERT INTO produto (id_mat_pro, cd_pro, id_gru_fsc) VALUES (13, '103', 8), (14, '104', 7), (15, '105', 9)");
  db.Exec("INSERT INTO tributacao VALUES (5, 1, 1, 1, 7, 1, 35, 3550308, 14, 'T', 'S', 'N', 'T', NULL, 0, 5105),"
          " (6, 1, 1, 1, 7, 1, 35, 3550308, 14, 'T', 'S', 'N', 'T', 6, 0, 5106),"
          " (7, 1, 1, 1, 8, 1, 35, 3550308, NULL, 'T', 'S', 'N', 'T', 7, 0, 5107)");
  // 10: the municipality and the product; 11: Null group; 12: no produto
  // row; 13: another group; 14: the first of two rules of its attempt, which
  // cannot be read; 15: no rule.
  const std::vector<long long> products{10, 11, 12, 13, 14, 15};
  const auto outcomes = FindTaxRules(db.session, TaxRuleQueryFor(customer, InputValue(), 1), products);
  ASSERT_EQ(outcomes.size(), products.size());
  for (const long long product : products) {
    const TaxRuleOutcome& outcome = outcomes.at(product);
    TaxRule rule;
    try {
      EXPECT_EQ(FindTaxRule(db.session, TaxRuleQueryFor(customer, product, 1), rule), outcome.found) << product;
      EXPECT_TRUE(outcome.failure.empty()) << product;
      EXPECT_EQ(rule.id_tri, outcome.rule.id_tri) << product;
    } catch (const DatabaseError& e) {
      EXPECT_EQ(outcome.failure, e.what()) << product;
    }
  }
  EXPECT_EQ(outcomes.at(10).rule.id_tri, 1);
  EXPECT_FALSE(outcomes.at(11).failure.empty());
  EXPECT_FALSE(outcomes.at(12).failure.empty());
  EXPECT_EQ(outcomes.at(13).rule.id_tri, 7);
  EXPECT_FALSE(outcomes.at(14).failure.empty());
  EXPECT_TRUE(!outcomes.at(15).found && outcomes.at(15).failure.empty());
}

}  // namespace
}  // namespace orba::test
