// The comanda-mode order handler on the demo establishment: comanda 150 is
// open for the walk-in customer (person 1), card 9001 for JOAO DA SILVA
// (person 2, establishment 2), comanda 160 without a person.

#include "orders/comanda_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "common/general_parameters.h"
#include "common/text.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "printing/pending_prints.h"
#include "printing/print_layout.h"
#include "support/fixed_clock.h"
#include "support/recording_printer.h"
#include "support/handler_run.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba {
namespace {

class ComandaOrderTest : public ::testing::Test, protected test::TestContext {
 protected:
  ComandaOrderTest() : TestContext({.demo = true, .printers = {"BAR", "COZINHA"}, .default_printer = "COZINHA"}) {
    parameters.ComandaMode = "S";
    db.Exec("UPDATE parametro_geral SET ic_tra_cmd = 'S';"
            "INSERT INTO controle_comanda VALUES (150, '', 1), (9001, 'CRT', 2), (160, '', NULL)");
  }

  std::string Order(const std::string& xml) {
    const std::string answer = test::AnswerOf(&HandleComandaOrder, context, xml);
    EXPECT_FALSE(db.session.InTransaction());
    return answer;
  }
  static std::string Message(const std::string& answer) { return test::PedidoMessage(answer); }
  // A request as the handhelds send it; `stamp` empty: no header at all.
  static std::string Pedido(const std::string& items, const std::string& comanda = "150",
                            const std::string& stamp = "") {
    const std::string header = stamp.empty() ? "" : "<header datahora=\"" + stamp + "\"/>";
    return "<pda>" + header + "<pedido tipo=\"P\" mesa=\"" + comanda + "\" operador=\"10\" mensagem=\"\">" + items +
           "</pedido></pda>";
  }
  static std::string Item(int position, const std::string& product, const std::string& inner = "") {
    return "<item posicao=\"" + std::to_string(position) + "\" produto=\"" + product +
           "\" preco=\"10\" qtde=\"1\">" + inner + "</item>";
  }
  // "sale.line:product" of every line, in order.
  std::string Lines() {
    return db.Scalar("select group_concat(nr_orc_loc || '.' || id_seq || ':' || id_mat_pro, ' ') from "
                     "(select * from item_venda_direta order by nr_orc_loc, id_seq)");
  }
  std::string Links() {
    return db.Scalar("select group_concat(NR_CMD || '>' || NR_ORC_LOC, ' ') from "
                     "(select * from controle_comanda_orcamento order by NR_CMD, NR_ORC_LOC)");
  }
  std::string Count(const std::string& table) { return db.Scalar("select count(*) from " + table); }
  // "printer:sale number" of each printed ticket (the number heads it).
  std::string PrintedSales() {
    std::string sales;
    for (const auto& document : printers.documents) {
      const auto separator = std::find_if(document.lines.begin(), document.lines.end(),
                                          [](const std::string& line) { return line.rfind("=====", 0) == 0; });
      const std::string number = separator + 1 < document.lines.end() ? LastCharacters(*(separator + 1), 5) : "?";
      sales += (sales.empty() ? "" : " ") + document.printer + ":" + number;
    }
    return sales;
  }

};

TEST_F(ComandaOrderTest, FirstOrderOfAFreshComandaGivesEachPositionASaleLinkedAndPrintedOnItsOwn) {
  // Items may carry the table-mode attributes: they are not read.
  const std::string answer = Order(Pedido(
      Item(1, "101", "<caract cod=\"2\"/><acomp cod=\"103\" qtde=\"1\" preco=\"8.5\"/>") +
      "<item posicao=\"2\" idlocalass=\"x\" tpconta=\"?\" produto=\"201\" preco=\"9,90\" qtde=\"2\"/>" +
      Item(1, "202")));
  EXPECT_EQ(Message(answer), "");
  EXPECT_EQ(answer.find("<item"), std::string::npos);

  // The position met again goes on with its sale.
  EXPECT_EQ(Lines(), "1.1:1 1.2:3 1.3:5 2.1:4");
  EXPECT_EQ(db.Scalar("select id_seq_pro_prn || ':' || vl_pr_un_ori || ':' || pr_un_it_atd from item_venda_direta "
                      "where nr_orc_loc = 1 and id_seq = 2"),
            "1:8.5:8.5");
  EXPECT_EQ(db.Scalar("select nr_orc_loc || ':' || id_seq || ':' || id_car_pro from ivd_caracteristica_produto"),
            "1:1:2");
  EXPECT_EQ(db.Scalar("select count(*) from item_venda_direta where ic_inc_pac is not null"), "0");
  EXPECT_EQ(db.Scalar("select group_concat(vl_tot_ite, ' ') from (select * from venda_direta order by nr_orc_loc)"),
            "28.5 19.8");
  EXPECT_EQ(Links(), "150>1 150>2");
  EXPECT_EQ(db.Scalar("select group_concat(dc_cpl_cmd, ',') from LOG_DONE"), "1,2");
  EXPECT_EQ(Count("local_vnd"), "0");
  EXPECT_EQ(db.Scalar("select group_concat(ic_stt_loc, '') from local"), "LLLLLLLLLLL");
  // Each sale printed by itself: sale 1 on the kitchen and the bar, then sale 2,
  // each naming the comanda where a table's name would stand.
  EXPECT_EQ(PrintedSales(), "COZINHA:00001 BAR:00001 BAR:00002");
  EXPECT_EQ(printers.documents.at(2).lines.at(3), "COMANDA: 150                    00002");
}

TEST_F(ComandaOrderTest, LaterOrderAddsEveryLineToTheFirstLinkedSale) {
  Order(Pedido(Item(1, "101") + Item(2, "201")));
  Order(Pedido(Item(3, "102") + Item(4, "202")));
  EXPECT_EQ(Lines(), "1.1:1 1.2:2 1.3:5 2.1:4");
  EXPECT_EQ(Links(), "150>1 150>2");
  EXPECT_EQ(Count("LOG_DONE"), "3");
  EXPECT_EQ(db.Scalar("select vl_tot_ite = 30 from venda_direta where nr_orc_loc = 1"), "1");
}

TEST_F(ComandaOrderTest, NewSaleIsForTheComandasPersonOrTheFirstEstablishmentWithoutOne) {
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101"), "9001"))), "");
  EXPECT_EQ(printers.documents.at(0).lines.at(3).substr(0, 12), "CARTAO: 9001");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101"), "160"))), "");
  EXPECT_EQ(db.Scalar("select group_concat(nr_orc_loc || ':' || nm_pes_cli || ':' || id_etb_cli || ':' || "
                      "id_end_geo_fat, ' ') from (select * from venda_direta order by nr_orc_loc)"),
            "1:JOAO DA SILVA:2:2 2:CONSUMIDOR FINAL:1:1");
  // A later order of the card is still JOAO's.
  EXPECT_EQ(Message(Order(Pedido(Item(2, "201"), "9001"))), "");
  EXPECT_EQ(db.Scalar("select group_concat(distinct id_etb_cli) from forca_vnd_item_vnd where nr_orc_loc = 1"), "2");
}

TEST_F(ComandaOrderTest, StampedResendIsWrittenOnceAndAnOrderWithoutStampEveryTime) {
  const std::string stamped = Pedido(Item(1, "101"), "150", "20261208123000");
  EXPECT_EQ(Message(Order(stamped)), "");
  // Another handheld's order in between does not make the resend new.
  EXPECT_EQ(Message(Order(Pedido(Item(2, "201"), "150", "20261208123100"))), "");
  EXPECT_EQ(Order(stamped), test::Stored(stamped));
  EXPECT_EQ(Count("item_venda_direta"), "2");

  // The same stamp of another comanda, or of the table whose id is 150, is not this comanda's.
  db.Exec("UPDATE controle_pedido_pda SET dc_dth_ped = 'T1' WHERE dc_dth_ped = '20261208123000';"
          "INSERT INTO controle_pedido_pda VALUES ('L', 160, 'T1', '20261208', NULL)");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101"), "160", "T1"))), "");
  EXPECT_EQ(Count("item_venda_direta"), "3");

  const std::string unstamped = Pedido(Item(1, "102"));
  Order(unstamped);
  Order(unstamped);
  // A header without a stamp is no stamp either.
  Order("<pda><header/>" + unstamped.substr(5));
  EXPECT_EQ(db.Scalar("select count(*) from item_venda_direta where id_mat_pro = 2"), "3");
}

TEST_F(ComandaOrderTest, RefusalsWriteNothing) {
  db.Exec("INSERT INTO produto (id_mat_pro, cd_pro, id_gru_fsc, aq_ipi) VALUES (50, '500', 9, 0);"
          "INSERT INTO controle_comanda VALUES (170, '', 999)");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101"), "180"))), "Erro no Pedido.\\nComanda não aberta.");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101") + Item(2, "500")))),
            "Tributação para \\no produto\\ncódigo500\\nnão encontrada     ");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101"), "170"))),
            "Erro ao selecionar os dados do cliente. Transação Inclusao");
  EXPECT_EQ(Count("venda_direta"), "0");
  EXPECT_EQ(db.Scalar("select ifnull(id_vnd_dir, 'null') from parametro_geral"), "null");

  // A sale of the comanda the back office finalized or locked takes no more lines.
  db.Exec("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, nm_comp_lock, id_etb_cli) VALUES (5, 'V', NULL, 1);"
          "INSERT INTO controle_comanda_orcamento VALUES (150, 5)");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101")))), "PEDIDO\\nFINALIZADO.     ");
  db.Exec("UPDATE venda_direta SET ic_tip_ope = 'O', nm_comp_lock = 'CAIXA1'");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101")))), "PEDIDO\\nBLOQUEADO.     ");
  // An open sale whose customer cannot be found.
  db.Exec("UPDATE venda_direta SET nm_comp_lock = NULL, id_etb_cli = 77");
  EXPECT_EQ(Message(Order(Pedido(Item(1, "101")))), "Erro ao selecionar os dados do cliente. Transação Alteracao");
  EXPECT_EQ(Count("item_venda_direta"), "0");
  EXPECT_TRUE(printers.documents.empty());
}

TEST_F(ComandaOrderTest, NumberThatIsNotAComandaNumberIsAnsweredAsNotRecorded) {
  for (const std::string comanda : {"abc", "-150", "0", "1.5", "99999999999", "150 or 1=1"}) {
    const std::string request = Pedido(Item(1, "101"), comanda);
    EXPECT_EQ(Order(request), test::NotRecorded(request, FirstCharacters("número de comanda inválido: mesa=\"" +
                                                                         comanda + "\"", 60)))
        << comanda;
  }
  EXPECT_EQ(Count("venda_direta"), "0");
  EXPECT_FALSE(db.op.events.empty());
}

TEST_F(ComandaOrderTest, PrintingFailureKeepsTheOrderAndStopsAtTheFirstSale) {
  printers.fail_all = true;
  const std::string answer = Order(Pedido(Item(1, "101") + Item(2, "102")));
  EXPECT_EQ(Message(answer), "Erro ao finalizar\\no último orçamento.");
  EXPECT_EQ(Links(), "150>1 150>2");
  EXPECT_EQ(db.Scalar("select count(*) from item_venda_direta where id_prt_ite = 'N'"), "2");
  EXPECT_EQ(printers.failed_documents.size(), 1u);

  // The printer back: both sales' items print without another order.
  printers.fail_all = false;
  EXPECT_EQ(PrintPendingItems(context).Describe(), "Itens pendentes impressos (vendas 1, 2).");
  EXPECT_EQ(PrintedSales(), "COZINHA:00001 COZINHA:00002");
  EXPECT_EQ(db.Scalar("select count(*) from item_venda_direta where id_prt_ite = 'N'"), "0");
}

}  // namespace
}  // namespace orba
