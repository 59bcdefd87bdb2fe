// FEM in both modes on the demo establishment with printers in memory: what
// the close writes, which pre-bills print, and how every failure answers.

#include "services/close.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/general_parameters.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "services/position.h"
#include "support/fixed_clock.h"
#include "support/recording_printer.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba {
namespace {


class CloseTest : public ::testing::Test, protected test::TestContext {
 protected:
  CloseTest() : TestContext({.demo = true, .now = {2026, 12, 8, 13, 0, 0, 2}}) {
    parameters.DecimalSeparator = ',';
    db.Exec("INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
            "VALUES (80, '8', 1, 'A', 'E', 2, 'N'), (81, '81', 1, 'A', 'E', 5, 'N')");
  }

  void AddSale(int sale, int place, int position, const std::string& account = "1") {
    db.Exec("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, dt_vnd_dir, hr_vnd_ini, nm_pes_cli, id_pes_atd, "
            "vl_tot_ite, vl_tot_dsc, vl_tot_vnd, vl_tot_frt) VALUES (" + std::to_string(sale) +
            ", 'O', '20261208', '12:00:00', 'CONSUMIDOR FINAL', 10, 10, 0, 10, 0);"
            "INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, pr_un_it_atd, qt_pro_atd, vl_dsc) VALUES (" +
            std::to_string(sale) + ", 1, 1, 10, 1, 0)");
    if (place != 0) {
      db.Exec("INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_tp_cta) VALUES (" + std::to_string(place) +
              ", " + std::to_string(sale) + ", " + std::to_string(position) + ", " + account + ")");
    }
  }
  // Table 8 with sales 803, 801, 802 at positions 3, 1, 2.
  void ThreeSales(const std::string& first_account = "1") {
    AddSale(803, 80, 3);
    AddSale(801, 80, 1, first_account);
    AddSale(802, 80, 2);
  }

  struct Answer {
    std::string status;
    std::string message;
    std::string text;
  };
  Answer Close(const std::string& local, bool comanda = false) {
    pugi::xml_document request;
    EXPECT_TRUE(request.load_string(("<pda>" + local + "</pda>").c_str()));
    if (comanda) {
      HandleComandaClose(context, request);
    } else {
      HandleTableClose(context, request);
    }
    std::ostringstream text;
    request.save(text, "", pugi::format_raw | pugi::format_no_declaration);
    const pugi::xml_node node = request.child("pda").child("local");
    return Answer{node.attribute("status").value(), node.attribute("mensagem").value(), text.str()};
  }
  static std::string Local(const std::string& mesa, const std::string& pessoas, const std::string& type) {
    return "<local mesa=\"" + mesa + "\" pessoas=\"" + pessoas + "\" ic_tip_cnt=\"" + type +
           "\" status=\"\" mensagem=\"\"/>";
  }
  std::string Table(int place) {
    return db.Scalar("select ic_stt_loc || qt_loc_ocu || ':' || (select group_concat(ifnull(id_tp_cta, '-'), '') "
                     "from (select * from local_vnd where id_loc = " + std::to_string(place) +
                     " order by nr_pos_com)) from local where id_loc = " + std::to_string(place));
  }
  // The place line of each printed pre-bill.
  std::vector<std::string> PlaceLines() const {
    std::vector<std::string> lines;
    for (const auto& document : printers.documents) lines.push_back(document.lines.at(5));
    return lines;
  }

};

const std::string kFailed = "Erro no fechamento\\nda mesa.";

std::string PlaceLine(const std::string& place, const std::string& right) {
  return place + std::string(37 - place.size() - right.size(), ' ') + right;
}

TEST_F(CloseTest, OneBillPerSaleInPositionOrder) {
  ThreeSales();
  const Answer answer = Close(Local("8", "4", "2"));
  EXPECT_EQ(answer.text, "<pda>" + Local("8", "4", "2") + "</pda>");
  EXPECT_EQ(Table(80), "P4:222");
  EXPECT_EQ(PlaceLines(), (std::vector<std::string>{PlaceLine("LOCAL: 8/1", "801"), PlaceLine("LOCAL: 8/2", "802"),
                                                     PlaceLine("LOCAL: 8/3", "803")}));

  // Closed again (already awaiting payment): printed again.
  printers.documents.clear();
  EXPECT_EQ(Close(Local("8", "", "2")).status, "");
  EXPECT_EQ(Table(80), "P4:222");
  EXPECT_EQ(printers.documents.size(), 3u);
}

TEST_F(CloseTest, OtherTypesPrintOneBillOfTheList) {
  ThreeSales();
  EXPECT_EQ(Close(Local("8", "", "1")).status, "");
  EXPECT_EQ(Table(80), "P2:111");
  EXPECT_EQ(PlaceLines(), std::vector<std::string>{PlaceLine("LOCAL: 8", "MULT.")});
  // Every sale is on it.
  const auto& lines = printers.documents.at(0).lines;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "FILE MIGNON GRELHADO"), 3);
}

TEST_F(CloseTest, ZeroTakesTheTypeOfTheFirstSaleByPosition) {
  ThreeSales("2");
  EXPECT_EQ(Close(Local("8", "", "0")).status, "");
  EXPECT_EQ(Table(80), "P2:222");
  EXPECT_EQ(printers.documents.size(), 3u);

  // No type on the first sale: 0 stays, one bill.
  AddSale(811, 81, 1, "NULL");
  AddSale(812, 81, 2, "2");
  printers.documents.clear();
  EXPECT_EQ(Close(Local("81", "", "0")).status, "");
  EXPECT_EQ(Table(81), "P5:00");
  EXPECT_EQ(printers.documents.size(), 1u);
}

TEST_F(CloseTest, NoPreBillWhenTheParametersSaySo) {
  ThreeSales();
  db.Exec("UPDATE parametro_geral SET tp_impr = 1");
  EXPECT_EQ(Close(Local("8", "3", "2")).status, "");
  EXPECT_EQ(Table(80), "P3:222");
  EXPECT_TRUE(printers.documents.empty());
}

TEST_F(CloseTest, FailuresBeforeTheCommitChangeNothing) {
  ThreeSales();
  const std::string before = Table(80) + Table(81);
  struct Case {
    std::string local;
    std::string why;
  };
  const std::vector<Case> cases = {
      {Local("8", "abc", "2"), "pessoas"},
      {Local("8", "2; delete from local", "2"), "pessoas"},
      {Local("8", "-1", "2"), "pessoas"},
      {Local("8", "40000", "2"), "pessoas"},
      {Local("8", "2", ""), "ic_tip_cnt"},
      {Local("8", "2", "1 or 1=1"), "ic_tip_cnt"},
      {Local("8", "2", "abc"), "ic_tip_cnt"},
      {"<local mesa=\"8\" pessoas=\"2\" status=\"\" mensagem=\"\"/>", "ic_tip_cnt"},
      {Local("404", "2", "1"), "404"},
      {Local("8' or '1'='1", "2", "1"), "8' or"},
      {Local("81", "2", "1"), "sem vendas"},  // a table without sales
  };
  for (const Case& c : cases) {
    const Answer answer = Close(c.local);
    EXPECT_EQ(answer.status, "X") << c.local;
    EXPECT_EQ(answer.message, kFailed) << c.local;
    EXPECT_NE(db.op.events.back().find(c.why), std::string::npos) << db.op.events.back();
  }
  EXPECT_EQ(Table(80) + Table(81), before);
  EXPECT_TRUE(printers.documents.empty());
  EXPECT_FALSE(db.session.InTransaction());

  // The answer goes only into the attributes the request carries.
  EXPECT_EQ(Close("<local mesa=\"8\" pessoas=\"x\" ic_tip_cnt=\"1\" mensagem=\"\"/>").text,
            "<pda><local mesa=\"8\" pessoas=\"x\" ic_tip_cnt=\"1\" mensagem=\"" + kFailed + "\"/></pda>");
  EXPECT_EQ(Close("<local mesa=\"8\" pessoas=\"x\" ic_tip_cnt=\"1\"/>").text,
            "<pda><local mesa=\"8\" pessoas=\"x\" ic_tip_cnt=\"1\"/></pda>");
  // No local element: nothing to answer.
  pugi::xml_document other;
  other.load_string("<pedido mesa=\"8\"/>");
  HandleTableClose(context, other);
  EXPECT_EQ(Table(80) + Table(81), before);
}

TEST_F(CloseTest, PrinterFailureAfterTheCommitKeepsTheTableClosed) {
  ThreeSales();
  printers.fail_all = true;
  const Answer answer = Close(Local("8", "3", "2"));
  EXPECT_EQ(answer.status, "X");
  EXPECT_EQ(answer.message, kFailed);
  EXPECT_EQ(Table(80), "P3:222");
  // The operator was shown why, and the next pre-bills were not tried.
  ASSERT_FALSE(db.op.messages.empty());
  EXPECT_EQ(printers.failed_documents.size(), 1u);

  printers.fail_all = false;
  EXPECT_EQ(Close(Local("8", "", "2")).status, "");
  EXPECT_EQ(printers.documents.size(), 3u);
}

TEST_F(CloseTest, PositionAndPreBillAgreeWithTheSaleToTheCent) {
  // 30 lines of 0.10 in one sale, totalled the way the order does it.
  double sum = 0;
  for (int i = 0; i < 30; ++i) sum += 1 * 0.10;
  char total[64];
  std::snprintf(total, sizeof total, "%.17g", sum);
  db.Exec(std::string("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, dt_vnd_dir, hr_vnd_ini, id_pes_atd, "
                      "vl_tot_ite, vl_tot_dsc, vl_tot_vnd, vl_tot_frt) VALUES (900, 'O', '20261208', '12:00:00', 10, ") +
          total + ", 0, " + total + ", 0);"
          "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_tp_cta) VALUES (81, 900, 1, 1);"
          "UPDATE parametro_geral SET tx_srv = 0");
  for (int i = 1; i <= 30; ++i) {
    db.Exec("INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, pr_un_it_atd, qt_pro_atd, vl_dsc) "
            "VALUES (900, " + std::to_string(i) + ", 7, 0.10, 1, 0)");
  }
  EXPECT_NE(db.Scalar("select vl_tot_ite from venda_direta where nr_orc_loc = 900"), "3.0");

  pugi::xml_document position;
  position.load_string("<pedido tipo=\"C\" mesa=\"81\" ic_tip_tra=\"1\" operador=\"10\" pessoas=\"\" mensagem=\"\"/>");
  HandleTablePosition(context, position);
  const pugi::xml_node totals = position.child("POM").child("total");
  EXPECT_STREQ(totals.attribute("subtotal").value(), "3,00");
  EXPECT_STREQ(totals.attribute("valortotal").value(), "3,00");

  EXPECT_EQ(Close(Local("81", "1", "1")).status, "");
  ASSERT_EQ(printers.documents.size(), 1u);
  const auto& lines = printers.documents[0].lines;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Valor da Venda " + std::string(13, ' ') + "     3,00"),
            lines.end());
}

TEST_F(CloseTest, ComandaPrintsOneBillPerSaleAndWritesNothing) {
  db.Exec("INSERT INTO controle_comanda VALUES (150, '', 1), (151, '', 1);"
          "INSERT INTO controle_comanda_orcamento (NR_CMD, NR_ORC_LOC) VALUES (150, 902), (150, 901), (150, 999)");
  AddSale(901, 0, 0);
  AddSale(902, 0, 0);
  const long long before = db.session.TotalChanges();
  const std::string request = "<local mesa=\"150\" pessoas=\"3\" status=\"\" mensagem=\"\"/>";
  EXPECT_EQ(Close(request, true).text, "<pda>" + request + "</pda>");
  ASSERT_EQ(printers.documents.size(), 2u);
  EXPECT_EQ(printers.documents[0].lines.at(5), PlaceLine("", "901"));
  EXPECT_EQ(printers.documents[1].lines.at(5), PlaceLine("", "902"));
  EXPECT_EQ(db.session.TotalChanges(), before);

  // Without sales, unknown, or printing switched off: nothing printed, no failure.
  printers.documents.clear();
  EXPECT_EQ(Close("<local mesa=\"151\" status=\"\" mensagem=\"\"/>", true).status, "");
  EXPECT_EQ(Close("<local mesa=\"404\" status=\"\" mensagem=\"\"/>", true).status, "");
  db.Exec("UPDATE parametro_geral SET tp_impr = 1");
  EXPECT_EQ(Close(request, true).status, "");
  EXPECT_TRUE(printers.documents.empty());

  // Not a number, or the printer fails: the close answer.
  for (const char* mesa : {"abc", "150 or 1=1", ""}) {
    const Answer answer = Close("<local mesa=\"" + std::string(mesa) + "\" status=\"\" mensagem=\"\"/>", true);
    EXPECT_EQ(answer.status, "X") << mesa;
    EXPECT_EQ(answer.message, kFailed);
  }
  db.Exec("UPDATE parametro_geral SET tp_impr = 0");
  printers.fail_all = true;
  EXPECT_EQ(Close(request, true).status, "X");
}

}  // namespace
}  // namespace orba
