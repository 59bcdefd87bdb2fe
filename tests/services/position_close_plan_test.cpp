// Every statement of the status, the position, the close and the transfer,
// in both modes, pre-bill included, reaches the sale and place tables through
// a key or an index: those tables hold years of sales.

#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <set>
#include <sstream>

#include "common/general_parameters.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "services/close.h"
#include "services/position.h"
#include "services/table_status.h"
#include "services/transfer.h"
#include "support/fixed_clock.h"
#include "support/recording_printer.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba {
namespace {

TEST(PositionClosePlan, EveryLookupUsesAKeyOrAnIndex) {
  test::TestContext test_context({.demo = true});
  test::TestDatabase& db = test_context.db;
  Context& context = test_context.context;
  db.Exec("INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu) VALUES (90, '90', 1, 'A', "
          "'E', 2), (151, '151', 1, 'A', 'L', 0);"
          "INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, id_pes_atd, vl_tot_ite, vl_tot_dsc, vl_tot_vnd) "
          "VALUES (1, 'O', 10, 5, 0, 5), (2, 'O', 10, 5, 0, 5);"
          "INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, pr_un_it_atd, qt_pro_atd, vl_dsc, "
          "id_seq_pro_prn) VALUES (1, 1, 1, 5, 1, 0, NULL), (1, 2, 3, 0, 1, 0, 1), (2, 1, 7, 5, 1, 0, NULL);"
          "INSERT INTO ivd_caracteristica_produto VALUES (1, 1, 1);"
          "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_tp_cta) VALUES (90, 1, 1, 2);"
          "INSERT INTO controle_comanda VALUES (150, '', 1);"
          "INSERT INTO controle_comanda_orcamento VALUES (150, 2)");

  std::vector<std::string> statements;
  std::vector<std::vector<Value>> values;
  db.session.SetStatementObserver([&](const std::string& text, const std::vector<Value>& bound) {
    statements.push_back(text);
    values.push_back(bound);
  });
  const auto run = [&](void (*handler)(Context&, pugi::xml_document&), const std::string& xml) {
    pugi::xml_document request;
    request.load_string(xml.c_str());
    handler(context, request);
  };
  const std::string pedido = "ic_tip_tra=\"1\" operador=\"10\" tipo=\"C\" pessoas=\"\" mensagem=\"\"/>";
  run(&HandleTableStatus,
      "<local mesa=\"90\" status=\"\" mensagem=\"\" ambiente=\"\" posisaoAss=\"\" tipoConta=\"\" pessoas=\"\"/>");
  run(&HandleTablePosition, "<pedido mesa=\"90\" " + pedido);
  run(&HandleComandaPosition, "<pedido mesa=\"150\" " + pedido);
  run(&HandleComandaPosition, "<pedido mesa=\"151\" " + pedido);  // opened on the spot
  run(&HandleTableClose, "<local mesa=\"90\" pessoas=\"37\" ic_tip_cnt=\"0\" status=\"\" mensagem=\"\"/>");
  run(&HandleComandaClose, "<local mesa=\"150\" pessoas=\"\" status=\"\" mensagem=\"\"/>");
  run(&HandleTableTransfer, "<TRM mesaOrigem=\"90\" mesaDestino=\"151\" status=\"\" mensagem=\"\"><x/></TRM>");
  db.session.SetStatementObserver(nullptr);
  EXPECT_TRUE(db.op.events.empty()) << db.op.events.front();
  EXPECT_EQ(test_context.printers.documents.size(), 2u);
  EXPECT_EQ(db.Scalar("select id_loc from local_vnd where nr_orc_loc = 1"), "151");  // transferred

  // Tables of one row, or read whole on purpose; json_each is a bound list.
  const std::set<std::string> whole_tables = {"consumidor", "parametro_geral", "json_each"};
  std::set<std::string> seen;
  int queries = 0;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    const std::string& statement = statements[i];
    if (!seen.insert(statement).second) continue;
    if (statement.rfind("BEGIN", 0) == 0 || statement == "COMMIT" || statement == "ROLLBACK") continue;
    ++queries;
    for (const std::string& table : db.TablesReadWhole(statement, values[i])) {
      EXPECT_TRUE(whole_tables.count(table) > 0) << table << " read whole in\n" << statement << "\n"
                                                 << db.QueryPlan(statement, values[i]);
    }
  }
  EXPECT_GE(queries, 25);
  // What the requests named (tables, comandas, people) is bound, never written into a text.
  const std::regex request_value("(^|[^$\\w])(90|150|151|37)\\b");
  for (const std::string& statement : statements) {
    EXPECT_FALSE(std::regex_search(statement, request_value)) << statement;
  }
}

}  // namespace
}  // namespace orba
