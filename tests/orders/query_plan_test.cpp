// Every statement of the sale building blocks must reach the sale, place,
// tax and package tables through a key or an index: these tables grow for
// years and a scan would slow every order down with them.

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "orders/customer.h"
#include "orders/package_rules.h"
#include "orders/sale.h"
#include "orders/tax_rule.h"
#include "sale_fixture.h"

namespace orba::test {
namespace {

using QueryPlanTest = SaleFixture;

TEST_F(QueryPlanTest, LookupsUseIndexes) {
  db.Exec(
      "INSERT INTO municipio VALUES (3550308, 'SAO PAULO', 35);"
      "INSERT INTO pessoa VALUES (1, 'CONSUMIDOR FINAL');"
      "INSERT INTO cliente (id_pes_cli, id_tip_emp) VALUES (1, 1);"
      "INSERT INTO estabelecimento VALUES (1, 1);"
      "INSERT INTO endereco_geo (id_end_geo, id_etb, id_mun) VALUES (1, 1, 3550308);"
      "INSERT INTO consumidor VALUES (1, 'CONSUMIDOR FINAL', 35, 3550308, 1, 1, 1, 1, 1, 'N');"
      "INSERT INTO produto (id_mat_pro, cd_pro, id_gru_fsc) VALUES (10, 'CAFE', 1), (900, 'PACOTE', 1);"
      "INSERT INTO ambiente_local (id_amb, nm_amb, id_amb_ass) VALUES (1, 'HOTEL', NULL), (2, 'APTOS', 1);"
      "INSERT INTO local (id_loc, nm_loc, id_amb, qt_loc_ocu) VALUES (101, '101', 1, 2);"
      "INSERT INTO local_reservado VALUES (101, '202403101400', '202403201200');"
      "INSERT INTO local_reservado_hospede_prod VALUES (101, '202403101400', 900, 'S');"
      "INSERT INTO pacote VALUES (50, 900, 'S', 'S', 'S', 'S', 'S', 'S', 'S', 0, 2359, 0, 2359, 'DP', 5);"
      "INSERT INTO pacote_produto VALUES (50, 10);");

  StatementRecorder recorder(db.session);
  CustomerRecord customer;
  ASSERT_TRUE(LoadConsumerCustomer(db.session, db.op, customer));
  std::int32_t sale = 0;
  ASSERT_TRUE(NextSaleNumber(db.session, sale));
  SaleInput header = RequiredSale(sale);
  ASSERT_TRUE(InsertSale(db.session, parameters, clock, header));
  ASSERT_TRUE(InsertSaleItem(db.session, parameters, clock, Line(sale, 1, 10, 1)));
  recorder.paused = true;
  db.Exec("UPDATE item_venda_direta SET id_mat_pro = 900;"
          "INSERT INTO local_vnd (id_loc, nr_orc_loc, id_loc_ass) VALUES (101, 1, NULL)");
  recorder.paused = false;
  WriteSaleTotals(db.session, clock, {sale}, db.session.Queries({SaleLinesRead(db.session, {sale})})[0], "10");
  TaxRule rule;
  EXPECT_FALSE(FindTaxRule(db.session, TaxRuleQueryFor(customer, 10, 1), rule));  // all four attempts
  EXPECT_TRUE(LoadPlaceCustomer(db.session, db.op, customer, 101));
  EXPECT_TRUE(LoadComandaCustomer(db.session, db.op, customer, sale, ""));
  EXPECT_TRUE(LoadComandaCustomer(db.session, db.op, customer, "", "1"));
  clock.Set(LocalTime{2024, 3, 15, 8, 0, 0, 5});
  EXPECT_TRUE(CheckPackageCoverage(db.session, parameters, clock, 101, 1, 1, "CAFE"));
  EXPECT_TRUE(CheckPackageCoverage(db.session, parameters, clock, 0, 101, 1, "CAFE"));

  // Tables that hold one row, or that a statement reads whole on purpose.
  const std::set<std::string> whole_tables = {"consumidor", "parametro_geral"};
  std::set<std::string> seen;
  int queries = 0;
  // Planning runs statements too: they are not recorded.
  recorder.paused = true;
  for (std::size_t i = 0; i < recorder.statements.size(); ++i) {
    const std::string& statement = recorder.statements[i];
    if (!seen.insert(statement).second) continue;
    if (statement.rfind("BEGIN", 0) == 0 || statement == "COMMIT" || statement == "ROLLBACK" ||
        statement.find("PRAGMA") != std::string::npos) {
      continue;
    }
    ++queries;
    for (const std::string& table : db.TablesReadWhole(statement, recorder.values[i])) {
      EXPECT_TRUE(whole_tables.count(table) > 0) << table << " read whole in\n" << statement << "\n"
                                                 << db.QueryPlan(statement, recorder.values[i]);
    }
  }
  EXPECT_GE(queries, 12) << "every lookup of the building blocks must have been planned";
}

}  // namespace
}  // namespace orba::test
