// The table-mode order handler on the demo establishment, with printers in
// memory: what reaches the database, the answer document and the printers.

#include "orders/table_order.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <sstream>


#include "support/fixed_clock.h"
#include "common/general_parameters.h"
#include "common/service_tables.h"
#include "orders/datahora.h"
#include "support/datahora_reader.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "support/recording_printer.h"
#include "support/handler_run.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba {
namespace {

using test::ReadDataHoraStamp;


class TableOrderTest : public ::testing::Test, protected test::TestContext {
 protected:
  TableOrderTest() : TestContext({.demo = true, .printers = {"BAR", "COZINHA"}, .default_printer = "COZINHA"}) {}

  std::string Order(const std::string& xml) { return test::AnswerOf(&HandleTableOrder, context, xml); }
  static std::string Unchanged(const std::string& xml) { return test::Unchanged(xml); }
  static std::string Message(const std::string& answer) { return test::PedidoMessage(answer); }
  std::string Count(const std::string& table) { return db.Scalar("select count(*) from " + table); }

  static std::string Pedido(const std::string& items, const std::string& mesa = "1",
                            const std::string& stamp = "20261208120000") {
    std::string header = stamp.empty() ? "" : "<header datahora=\"" + stamp + "\"/>";
    return "<pda>" + header + "<pedido tipo=\"P\" mesa=\"" + mesa +
           "\" operador=\"10\" pessoas=\"3\" mensagem=\"\">" + items + "</pedido></pda>";
  }
  static std::string Item(int position, const std::string& product, const std::string& qtde,
                          const std::string& preco, const std::string& inner = "", int associated = 0) {
    return "<item posicao=\"" + std::to_string(position) + "\" idlocalass=\"" + std::to_string(associated) +
           "\" tpconta=\"1\" produto=\"" + product + "\" preco=\"" + preco + "\" qtde=\"" + qtde + "\">" +
           inner + "</item>";
  }
};

TEST_F(TableOrderTest, GroupsLinesOptionsAndAccompanimentsBySeatPosition) {
  const std::string answer =
      Order(Pedido(Item(1, "101", "1", "50,00", "<caract cod=\"2\"/><acomp cod=\"103\" qtde=\"1\" preco=\"8.5\"/>") +
                   Item(1, "201", "2", "9.90") + Item(2, "102", "1", "42")));
  EXPECT_EQ(Message(answer), "");
  EXPECT_EQ(answer.find("<item"), std::string::npos);

  EXPECT_EQ(Count("venda_direta"), "2");
  // Sale 1: the steak (1), its fries as accompaniment of line 1 (2), the beer (3).
  EXPECT_EQ(db.Scalar("select group_concat(id_seq || ':' || id_mat_pro || ':' || ifnull(id_seq_pro_prn, '-') || ':' "
                      "|| pr_un_it_atd || ':' || vl_pr_un_ori, ' ') from (select * from item_venda_direta "
                      "where nr_orc_loc = 1 order by id_seq)"),
            "1:1:-:50.0:50.0 2:3:1:8.5:50.0 3:4:-:9.9:9.9");
  EXPECT_EQ(db.Scalar("select nr_orc_loc || ':' || id_seq || ':' || id_car_pro from ivd_caracteristica_produto"),
            "1:1:2");
  EXPECT_EQ(db.Scalar("select vl_tot_ite from venda_direta where nr_orc_loc = 1"), "78.3");
  EXPECT_EQ(db.Scalar("select group_concat(nr_orc_loc || '@' || nr_pos_com, ' ') from local_vnd where id_loc = 1"),
            "1@1 2@2");
  EXPECT_EQ(db.Scalar("select ic_stt_loc || qt_loc_ocu from local where id_loc = 1"), "E3");
  EXPECT_EQ(db.Scalar("select group_concat(cmd_log || ' ' || dc_cpl_cmd, ',') from LOG_DONE"),
            "ORCAMENTO 1,ORCAMENTO 2");
  EXPECT_EQ(Count("LOG_TO_UP"), "2");
  EXPECT_EQ(db.Scalar("select count(*) from forca_vnd_item_vnd where id_pes_atd = 10"), "4");
  EXPECT_EQ(ReadDataHoraStamp(parameters, "1"), "20261208120000");
  // Printed on the kitchen and the bar, and marked.
  EXPECT_FALSE(printers.DocumentsOf("COZINHA").empty());
  EXPECT_FALSE(printers.DocumentsOf("BAR").empty());
  EXPECT_EQ(db.Scalar("select count(*) from item_venda_direta where id_prt_ite = 'N'"), "0");
}

TEST_F(TableOrderTest, TaxesFollowTheRule) {
  db.Exec("update produto set aq_ipi = 10 where cd_pro = '101';"
          "update tributacao set Ic_Tri_Ipi = 'T', Ic_Ipi_Bas_Icms = 'S', Aq_Rdu_Icms = 50, Ic_Zon_Frc = 'S' "
          "where id_tri = 1");
  Order(Pedido(Item(1, "101", "2", "100") + Item(1, "202", "1", "4")));
  // 200 + 10 % IPI = 220, halved = 110, 18 % ICMS = 19.8 granted as discount.
  EXPECT_EQ(db.Scalar("select vl_ipi || ' ' || aq_ipi || ' ' || vl_bas_icms || ' ' || vl_icms || ' ' || "
                      "vl_dsc_icms || ' ' || aq_icms || ' ' || id_tri from item_venda_direta where id_seq = 1"),
            "20.0 10.0 110.0 19.8 19.8 18.0 1");
  // The water's own rule does not tax ICMS: everything about ICMS is 0.
  EXPECT_EQ(db.Scalar("select vl_ipi || ' ' || vl_bas_icms || ' ' || vl_icms || ' ' || aq_icms || ' ' || id_tri "
                      "from item_venda_direta where id_seq = 2"),
            "0.0 0.0 0.0 0.0 3");
}

TEST_F(TableOrderTest, NextOrderOfAPositionAddsToItsOpenSale) {
  Order(Pedido(Item(1, "101", "1", "50"), "1", "A"));
  Order(Pedido(Item(1, "201", "1", "9") + Item(3, "202", "1", "4"), "1", "B"));
  EXPECT_EQ(db.Scalar("select group_concat(nr_orc_loc || '.' || id_seq, ' ') from (select * from item_venda_direta "
                      "order by nr_orc_loc, id_seq)"),
            "1.1 1.2 2.1");
  EXPECT_EQ(Count("local_vnd"), "2");
  // Every sale of an order is logged, the reused one too.
  EXPECT_EQ(Count("LOG_DONE"), "3");
}

TEST_F(TableOrderTest, PositionMetAgainLaterInTheRequestKeepsItsSale) {
  const std::string answer =
      Order(Pedido(Item(1, "101", "1", "50") + Item(2, "102", "1", "40") + Item(1, "201", "1", "9")));
  EXPECT_EQ(Message(answer), "");
  EXPECT_EQ(db.Scalar("select group_concat(nr_orc_loc || '.' || id_seq, ' ') from (select * from item_venda_direta "
                      "order by nr_orc_loc, id_seq)"),
            "1.1 1.2 2.1");
  EXPECT_EQ(db.Scalar("select group_concat(nr_orc_loc || '@' || nr_pos_com, ' ') from local_vnd"), "1@1 2@2");
  EXPECT_EQ(db.Scalar("select group_concat(dc_cpl_cmd, ',') from LOG_DONE"), "1,2");
  EXPECT_EQ(db.Scalar("select vl_tot_ite = 59 from venda_direta where nr_orc_loc = 1"), "1");
}

TEST_F(TableOrderTest, PositionMovedByTheBackOfficeIsRefusedWithNothingWritten) {
  db.Exec("insert into venda_direta (nr_orc_loc, ic_tip_ope) values (70, 'O'), (71, 'O');"
          "insert into local_vnd (id_loc, nr_orc_loc, nr_pos_com) values (1, 70, 1), (1, 71, 1)");
  const std::string answer = Order(Pedido(Item(1, "101", "1", "50")));
  EXPECT_EQ(Message(answer), "Pedido NÃO gravado:\\nposições da mesa\\nalteradas no caixa.\\nEnvie novamente.");
  EXPECT_EQ(answer.find("<item"), std::string::npos);
  EXPECT_EQ(Count("item_venda_direta"), "0");
  EXPECT_FALSE(db.session.InTransaction());
}

TEST_F(TableOrderTest, RefusalsRollBackEverythingIncludingTheSaleNumber) {
  // The second line has no tax rule: the first line and the sale go too.
  db.Exec("insert into produto (id_mat_pro, cd_pro, id_gru_fsc, aq_ipi) values (50, '500', 9, 0)");
  std::string answer = Order(Pedido(Item(1, "101", "1", "50") + Item(1, "500", "1", "5")));
  EXPECT_EQ(Message(answer), "Tributação para \\no produto\\ncódigo 500\\nnão encontrada     ");
  EXPECT_EQ(answer.find("<item"), std::string::npos);
  EXPECT_EQ(Count("venda_direta"), "0");
  EXPECT_EQ(Count("LOG_DONE"), "0");
  EXPECT_EQ(db.Scalar("select ifnull(id_vnd_dir, 'null') from parametro_geral"), "null");
  EXPECT_TRUE(printers.documents.empty());

  answer = Order(Pedido(Item(1, "999", "1", "5")));
  EXPECT_EQ(Message(answer), "Produto\\ncódigo 999\\nnão cadastrado.     ");
  answer = Order(Pedido(Item(0, "101", "1", "5")));
  EXPECT_EQ(Message(answer), "Erro no Pedido.\\nPosição inválida.");
  answer = Order(Pedido(Item(1, "101", "-1", "5")));
  EXPECT_EQ(Message(answer), "Erro no Pedido.\\nQuantidade inválida\\nno produto 101.");
  answer = Order(Pedido(Item(1, "101", "1", "-5")));
  EXPECT_EQ(Message(answer), "Erro no Pedido.\\nPreço inválido\\nno produto 101.");
  EXPECT_EQ(Count("venda_direta"), "0");
  EXPECT_FALSE(db.session.InTransaction());
}

TEST_F(TableOrderTest, FinishedOrLockedSaleOfTheTableRefusesTheOrder) {
  db.Exec("insert into venda_direta (nr_orc_loc, ic_tip_ope, nm_comp_lock) values (5, 'O', 'CAIXA1');"
          "insert into local_vnd (id_loc, nr_orc_loc, nr_pos_com) values (1, 5, 1)");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101", "1", "50")))), "PEDIDO\\nBLOQUEADO.     ");
  db.Exec("update venda_direta set ic_tip_ope = 'V'");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101", "1", "50")))), "PEDIDO\\nFINALIZADO.     ");
  EXPECT_EQ(Count("item_venda_direta"), "0");
}

TEST_F(TableOrderTest, UnknownTableIsRefusedBeforeItsStampIsRead) {
  const std::string request =
      "<pda><header/><pedido tipo=\"P\" mesa=\"77\" operador=\"10\" pessoas=\"3\" mensagem=\"\">" +
      Item(1, "101", "1", "50") + "</pedido></pda>";
  const std::string answer = Order(request);
  EXPECT_EQ(Message(answer), "Erro no Pedido.\\nLocal não encontrado.");
  EXPECT_EQ(answer.find("<item"), std::string::npos);
}

TEST_F(TableOrderTest, TotalsOverflowIsAnsweredAsNotRecorded) {
  if (db.OnServer()) GTEST_SKIP() << "a server's fixed-point columns never hold such a price";
  db.Exec("insert into venda_direta (nr_orc_loc, ic_tip_ope) values (5, 'O');"
          "insert into local_vnd (id_loc, nr_orc_loc, nr_pos_com) values (1, 5, 1);"
          "insert into item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, qt_pro_atd, pr_un_it_atd, vl_dsc) "
          "values (5, 1, 1, 10, 1e308, 0)");
  const std::string request = Pedido(Item(1, "101", "1", "50"));
  EXPECT_EQ(Order(request), test::NotRecorded(request, "falha no banco de dados."));
  EXPECT_EQ(Count("item_venda_direta"), "1");
  EXPECT_EQ(Count("LOG_DONE"), "0");
  EXPECT_FALSE(db.session.InTransaction());
}

TEST_F(TableOrderTest, TextWhereANumberIsReadChangesNothing) {
  for (const std::string& request :
       {Pedido(Item(1, "101", "1", "50")).replace(Pedido("").find("operador=\"10\""), 13, "operador=\"1 or 1=1\""),
        Pedido(Item(1, "101", "1", "50", "<caract cod=\"2);delete from local;--\"/>")),
        Pedido(Item(1, "101", "um", "50")), Pedido("<item posicao=\"1\" produto=\"101\"/>")}) {
    EXPECT_TRUE(test::IsNotRecorded(Order(request))) << request;
  }
  EXPECT_EQ(Count("venda_direta"), "0");
  EXPECT_EQ(Count("local"), "11");
  EXPECT_FALSE(db.session.InTransaction());
}

TEST_F(TableOrderTest, PrintingFailureKeepsTheOrderAndItsItemsUnprinted) {
  printers.fail_all = true;
  const std::string answer = Order(Pedido(Item(1, "101", "1", "50")));
  EXPECT_EQ(Message(answer), "Erro ao finalizar\\no último orçamento.");
  EXPECT_EQ(answer.find("<item"), std::string::npos);
  EXPECT_EQ(Count("venda_direta"), "1");
  EXPECT_EQ(db.Scalar("select id_prt_ite from item_venda_direta"), "N");
  EXPECT_EQ(db.op.messages.size(), 1u);  // the operator is told once

  // The printer is back: the next order of the table prints both lines.
  printers.fail_all = false;
  Order(Pedido(Item(1, "102", "1", "40"), "1", "20261208120500"));
  EXPECT_EQ(db.Scalar("select count(*) from item_venda_direta where id_prt_ite = 'N'"), "0");
}

TEST_F(TableOrderTest, StampGuardsAgainstResentOrdersButOnlyWhenThereIsOne) {
  const std::string request = Pedido(Item(1, "101", "1", "50"));
  Order(request);
  EXPECT_EQ(Order(request), test::Stored(request));
  EXPECT_EQ(Count("item_venda_direta"), "1");

  // Orders without a stamp cannot be told apart: each one is applied.
  Order(Pedido(Item(1, "201", "1", "9"), "1", ""));
  Order(Pedido(Item(1, "201", "1", "9"), "1", ""));
  EXPECT_EQ(Count("item_venda_direta"), "3");
  EXPECT_EQ(ReadDataHoraStamp(parameters, "1"), "20261208120000");
}

TEST_F(TableOrderTest, OrderWithoutItemsOpensTheTableAndPrintsNothing) {
  const std::string request = Pedido("");
  EXPECT_EQ(Order(request), Unchanged(request));
  EXPECT_EQ(db.Scalar("select ic_stt_loc || qt_loc_ocu from local where id_loc = 1"), "E3");
  EXPECT_EQ(Count("venda_direta"), "0");
  EXPECT_TRUE(printers.documents.empty());
}

}  // namespace
}  // namespace orba

namespace orba {
namespace {

// Room 501 (VARANDA) holds JOAO DA SILVA's stay, with a package (sold on the
// room's sale 900) that includes the beer every day. His company type has
// tax rules of its own (9 food, 10 drinks), so a line's rule tells whose
// customer it was written for.
class GuestOrderTest : public TableOrderTest {
 protected:
  GuestOrderTest() {
    db.Exec(
        "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
        "VALUES (501, '501', 2, 'A', 'E', 2, 'N');"
        "INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, id_gru_fsc, aq_ipi) VALUES (900, '900', 'PACOTE', 1, 0);"
        "INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, nm_pes_cli, id_etb_cli, id_end_geo_fat, id_end_geo_etg,"
        " id_end_geo_cob, id_tip_nf, id_uti_pro) VALUES (900, 'O', 'JOAO DA SILVA', 2, 2, 2, 2, 1, 1);"
        "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com) VALUES (501, 900, 1);"
        "INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, qt_pro_atd) VALUES (900, 1, 900, 1);"
        "INSERT INTO local_reservado VALUES (501, '202612011400', '202612201200');"
        "INSERT INTO local_reservado_hospede_prod VALUES (501, '202612011400', 900, 'S');"
        "INSERT INTO pacote VALUES (60, 900, 'S', 'S', 'S', 'S', 'S', 'S', 'S', 0, 2359, NULL, NULL, 'PF', 5);"
        "INSERT INTO pacote_produto VALUES (60, 4);"
        "UPDATE cliente SET id_tip_emp = 2 WHERE id_pes_cli = 2;"
        "INSERT INTO tributacao (id_tri, id_tip_emp, id_etb_orba, id_tip_nf, id_gru_fsc, id_uti_pro, id_Uf,"
        " Ic_Tri_Ipi, Ic_Ipi_Bas_Icms, Ic_Zon_Frc, ic_tri_icms, Aq_Icms, Aq_Rdu_Icms, cd_nat_ope)"
        " VALUES (9, 2, 1, 1, 1, 1, 35, 'N', 'N', 'N', 'T', 12, 0, 5102),"
        "        (10, 2, 1, 1, 2, 1, 35, 'N', 'N', 'N', 'T', 12, 0, 5102)");
  }
  // "rule@establishment price" of each line of the sale, in line order.
  std::string Lines(int sale) {
    return db.Scalar("select group_concat(i.id_tri || '@' || f.id_etb_cli || ' ' || i.pr_un_it_atd, ', ') from "
                     "(select * from item_venda_direta where nr_orc_loc = " + std::to_string(sale) +
                     " order by id_seq) i join forca_vnd_item_vnd f using (nr_orc_loc, id_seq)");
  }
};

TEST_F(GuestOrderTest, EveryLineOfAGuestSaleIsTheGuestsAlsoInLaterOrders) {
  Order(Pedido(Item(1, "101", "1", "50", "", 501) + Item(1, "201", "2", "9", "", 501), "1", "A"));
  // Sale 1 is new; the beer is included in the package.
  EXPECT_EQ(Lines(1), "9@2 50.0, 10@2 0.0");
  EXPECT_EQ(db.Scalar("select nm_pes_cli from venda_direta where nr_orc_loc = 1"), "JOAO DA SILVA");

  // A later order on the same seat adds to the guest's sale, for the guest.
  Order(Pedido(Item(1, "102", "1", "40"), "1", "B"));
  EXPECT_EQ(Lines(1), "9@2 50.0, 10@2 0.0, 9@2 40.0");
}

TEST_F(GuestOrderTest, UnknownProductForARoomWithAPackageIsRefusedByName) {
  const std::string answer = Order(Pedido(Item(1, "999", "1", "5", "", 501)));
  EXPECT_EQ(Message(answer), "Produto\\ncódigo 999\\nnão cadastrado.     ");
  EXPECT_EQ(Count("venda_direta"), "1");  // the room's own sale only
}

TEST_F(TableOrderTest, DatabaseFailureIsLoggedWithTheRequestAndTheProvidersText) {
  polling.CurrentFile = "PEM0042.Xml";
  db.Exec("DROP TABLE LOG_TO_UP");
  const std::string request = Pedido(Item(1, "101", "1", "50"));
  EXPECT_EQ(Order(request), test::NotRecorded(request, "falha no banco de dados."));
  ASSERT_EQ(db.op.events.size(), 1u);
  EXPECT_NE(db.op.events[0].find("PEM0042.Xml"), std::string::npos) << db.op.events[0];
  std::string event = db.op.events[0];
  for (char& c : event) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(event.find("log_to_up"), std::string::npos) << db.op.events[0];
  EXPECT_EQ(Count("venda_direta"), "0");
}

TEST_F(TableOrderTest, MissingCustomerRefusesWithAMessageTheWaiterCanRead) {
  db.Exec("DELETE FROM consumidor");
  const std::string answer = Order(Pedido(Item(1, "101", "1", "50")));
  EXPECT_EQ(Message(answer), "Erro ao selecionar os dados do cliente.");
  EXPECT_EQ(Count("venda_direta"), "0");
}

TEST_F(TableOrderTest, AccentedNameStoredInLowerCaseIsFound) {
  db.Exec("UPDATE local SET nm_loc = 'Salão 1' WHERE id_loc = 2");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101", "1", "50"), "SALÃO 1"))), "");
  EXPECT_EQ(db.Scalar("select id_loc from local_vnd"), "2");
}

TEST_F(TableOrderTest, ResendIsRecognisedWithoutTheStampFileAndWhateverBlanksTheNameHas) {
  Order(Pedido(Item(1, "101", "1", "50")));
  // As if the service had died between the commit and the stamp file.
  std::filesystem::remove(DataHoraFilePath(parameters, "1"));
  for (const std::string mesa : {"1", " 1 ", "1 "}) {
    const std::string resend = Pedido(Item(1, "101", "1", "50"), mesa);
    EXPECT_EQ(Order(resend), test::Stored(resend)) << '"' << mesa << '"';
  }
  EXPECT_EQ(Count("item_venda_direta"), "1");
}

TEST_F(TableOrderTest, OrderOfMoreLinesThanAHandheldSendsIsRefused) {
  std::string items;
  for (int i = 0; i < 250; ++i) items += Item(1, "101", "1", "5", "<acomp cod=\"103\" qtde=\"1\" preco=\"1\"/>");
  items += Item(1, "201", "1", "5");
  const std::string answer = Order(Pedido(items));
  EXPECT_EQ(Message(answer), "Erro no Pedido.\\nMais de 500 linhas.\\nDivida o pedido.");
  EXPECT_EQ(Count("venda_direta"), "0");
}

TEST_F(TableOrderTest, DatabaseHeldByTheBackOfficeTellsTheWaiterNothingWasRecorded) {
  // The back office writes the general parameters and keeps its transaction open.
  test::RecordingOperator back_office_op;
  DatabaseSession back_office(back_office_op);
  ASSERT_TRUE(db.OpenAnother(back_office));
  ASSERT_TRUE(back_office.BeginTransaction());
  back_office.ExecuteSql("UPDATE parametro_geral SET id_seq_tsa = id_seq_tsa");
  back_office.ChangedRows();  // held once the write has reached the server
  db.session.SetLockWait(std::chrono::milliseconds(50));
  const std::string request = Pedido(Item(1, "101", "1", "50"));
  const std::string answer = Order(request);
  back_office.RollbackTransaction();
  EXPECT_EQ(answer, test::NotRecorded(request, "banco de dados ocupado."));
  EXPECT_EQ(Count("venda_direta"), "0");
  EXPECT_EQ(db.op.events.size(), 1u);
}

// A, B, A on one table stores A once, also on a stamp table of the earlier
// shape; a new business day forgets the stamps.
TEST_F(TableOrderTest, EveryStampOfTheBusinessDayIsRecognisedWhateverCameBetween) {
  db.Exec("DROP TABLE controle_pedido_pda; CREATE TABLE controle_pedido_pda (ic_tip_loc CHAR(1), id_loc BIGINT, "
          "dc_dth_ped VARCHAR(64), dth_grv VARCHAR(17), PRIMARY KEY (ic_tip_loc, id_loc));"
          "INSERT INTO controle_pedido_pda VALUES ('L', 1, 'A', NULL)");
  EnsureServiceTables(db.session);
  const std::string a = Pedido(Item(1, "101", "1", "50"), "1", "A");
  for (const std::string& order : {a, Pedido(Item(2, "201", "1", "9"), "1", "B"), a}) {
    EXPECT_EQ(Order(order), test::Stored(order));
  }
  EXPECT_EQ(Count("item_venda_direta"), "1");
  db.Exec("UPDATE parametro_geral SET dt_dia = '20261209'");
  EnsureServiceTables(db.session);
  Order(a);
  EXPECT_EQ(db.Scalar("select min(dt_dia) || count(*) from controle_pedido_pda"), "202612091");
}

}  // namespace
}  // namespace orba
