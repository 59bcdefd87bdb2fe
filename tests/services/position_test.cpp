// POM in table mode on the demo establishment: the work file's text to the
// byte, the document that replaces the request, and every way the position
// ends without one.

#include "services/position.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "common/database.h"
#include "common/general_parameters.h"
#include "common/text.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "support/fixed_clock.h"
#include "support/recording_printer.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

const std::string kLongName = "ESPETINHO DE CORAÇÃO COM MANDIOCA FRITA E MOL";  // 45 characters

class PositionTest : public ::testing::Test, protected test::TestContext {
 protected:
  PositionTest() : TestContext({.demo = true, .now = {2026, 12, 8, 9, 5, 7, 2}}) {
    parameters.DecimalSeparator = ',';
    polling.CurrentStem = "POM0001";
    db.Exec("INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) VALUES (50, '150', '" +
            kLongName + "', 'UN', 0, 1);"
            "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
            "VALUES (70, '7', 1, 'A', 'E', 3, 'N'), (71, '71', 1, 'A', 'E', 0, 'N');");
  }

  void AddSale(int sale, int place, int position, const std::string& items, const std::string& discount,
               const std::string& total) {
    db.Exec("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, id_pes_atd, vl_tot_ite, vl_tot_dsc, vl_tot_vnd) VALUES (" +
            std::to_string(sale) + ", 'O', 10, " + items + ", " + discount + ", " + total + ");"
            "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_tp_cta) VALUES (" + std::to_string(place) +
            ", " + std::to_string(sale) + ", " + std::to_string(position) + ", 1)");
  }
  void AddLine(int sale, int sequence, int product, const std::string& quantity, const std::string& price,
               const std::string& parent = "NULL") {
    db.Exec("INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, pr_un_it_atd, qt_pro_atd, vl_dsc, "
            "id_seq_pro_prn) VALUES (" + std::to_string(sale) + ", " + std::to_string(sequence) + ", " +
            std::to_string(product) + ", " + price + ", " + quantity + ", 0, " + parent + ")");
  }
  void AddOption(int sale, int sequence, int option) {
    db.Exec("INSERT INTO ivd_caracteristica_produto (nr_orc_loc, id_seq, id_car_pro) VALUES (" +
            std::to_string(sale) + ", " + std::to_string(sequence) + ", " + std::to_string(option) + ")");
  }

  // Table 7 (3 people): sale 1001 at position 2, sale 1002 at position 1.
  void TwoSales() {
    AddSale(1001, 70, 2, "105", "5", "100");
    AddLine(1001, 1, 1, "1", "100");
    AddLine(1001, 2, 3, "1", "5", "1");
    AddOption(1001, 1, 1);
    AddOption(1001, 1, 99);  // no such option: not shown in table mode
    AddOption(1001, 1, 4);
    AddSale(1002, 70, 1, "50", "0", "50");
    AddLine(1002, 1, 50, "2", "20");
    AddLine(1002, 3, 4, "0.5", "20");
  }

  static std::string Request(const std::string& mesa, const std::string& extra = "ic_tip_tra=\"1\" ") {
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pda><pedido tipo=\"C\" mesa=\"" + mesa + "\" " + extra +
           "operador=\"J&amp;M\" pessoas=\"\" mensagem=\"\"/></pda>";
  }
  // Runs the handler; the answer as the polling cycle would save it.
  std::string Pom(const std::string& request_text) {
    request.reset();
    EXPECT_TRUE(request.load_string(request_text.c_str(), pugi::parse_default | pugi::parse_declaration));
    HandleTablePosition(context, request);
    return Saved(request);
  }
  static std::string Saved(const pugi::xml_document& document) {
    std::ostringstream out;
    document.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_latin1);
    return out.str();
  }
  static std::string SavedText(const std::string& latin1) {
    pugi::xml_document document;
    constexpr unsigned kOptions =
        (pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata) & ~pugi::parse_eol;
    EXPECT_TRUE(document.load_buffer(latin1.data(), latin1.size(), kOptions, pugi::encoding_latin1));
    return Saved(document);
  }
  std::vector<std::string> AnswerFolder() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(parameters.AnswerFolder))) names.push_back(entry.path().filename());
    return names;
  }

  pugi::xml_document request;
};

const char* kTwoSalesText =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\r\n"
    "<POM>\r\n"
    "  <Header datahora=\"20261208090507\" versao=\"1.0\"/>\r\n"
    "  <local mesa=\"7\" ic_tip_tra=\"1\" status=\"E\" ambiente=\"1\" pessoas=\"3\" mensagem=\"\" />\r\n"
    "  <pedido tipo=\"C\" mesa=\"7\" ic_tip_tra=\"1\" operador=\"J&amp;M\" pessoas=\"3\" mensagem=\"\">\r\n"
    "    <item posicao=\"1\" id=\"1\" grupo=\"\" subgrupo=\"\" produto=\"150\" "
    "descricao=\"ESPETINHO DE CORAÇÃO COM MANDI\" qtde=\"2,000\" preco=\"20,00\" ordem=\"1\" >\r\n"
    "    </item>\r\n"
    "    <item posicao=\"1\" id=\"3\" grupo=\"\" subgrupo=\"\" produto=\"201\" "
    "descricao=\"CERVEJA LONG NECK 355ML\" qtde=\"0,500\" preco=\"20,00\" ordem=\"2\" >\r\n"
    "    </item>\r\n"
    "    <item posicao=\"2\" id=\"1\" grupo=\"\" subgrupo=\"\" produto=\"101\" "
    "descricao=\"FILE MIGNON GRELHADO\" qtde=\"1,000\" preco=\"100,00\" ordem=\"1\" >\r\n"
    "      <caract id=\"\" cod=\"1\" descricao=\"MAL PASSADO\" />\r\n"
    "      <caract id=\"\" cod=\"4\" descricao=\"SEM GELO\" />\r\n"
    "      <acomp id=\"2\" cod=\"103\" qtde=\"1,000\" preco=\"5,00\" descricao=\"BATATA FRITA\" />\r\n"
    "    </item>\r\n"
    "  </pedido>\r\n"
    "  <total subtotal=\"155,00\" acrescimos=\"15,00\" descontos=\"5,00\" valortotal=\"165,00\" "
    "totalpercapta=\"55,00\" />\r\n"
    "</POM>\r\n";

TEST_F(PositionTest, TwoSalesInPositionOrderToTheByte) {
  TwoSales();
  PositionPlace place = FindTablePosition(db.session, "7");
  ASSERT_TRUE(place.listed);
  ReadPositionContents(db.session, PositionMode::Table, place);
  const auto text = PositionText(clock.Now(), ',', PositionMode::Table,
                                 PositionRequest{"C", "7", "1", "J&M"}, place);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, Utf8ToLatin1(kTwoSalesText));

  // The handler's answer is that document, lines and all, and no work file
  // stays behind.
  EXPECT_EQ(Pom(Request("7")), SavedText(Utf8ToLatin1(kTwoSalesText)));
  EXPECT_TRUE(AnswerFolder().empty());
  EXPECT_TRUE(db.op.events.empty());
}

TEST_F(PositionTest, TotalsWithAPointAndWithoutServiceCharge) {
  TwoSales();
  parameters.DecimalSeparator = '.';
  std::string answer = Pom(Request("7"));
  EXPECT_NE(answer.find("qtde=\"0.500\" preco=\"20.00\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("<total subtotal=\"155.00\" acrescimos=\"15.00\" descontos=\"5.00\" valortotal=\"165.00\" "
                        "totalpercapta=\"55.00\"/>"),
            std::string::npos)
      << answer;

  for (const char* rate : {"NULL", "0"}) {
    db.Exec(std::string("UPDATE parametro_geral SET tx_srv = ") + rate);
    answer = Pom(Request("7"));
    EXPECT_NE(answer.find("acrescimos=\"0.00\" descontos=\"5.00\" valortotal=\"150.00\" totalpercapta=\"50.00\""),
              std::string::npos)
        << answer;
  }
}

TEST_F(PositionTest, ManyLinesOfTenCentsTotalExactlyThreeOnTheSaleAndThePosition) {
  // 30 x 0.10 summed as the order does it, stored as it comes out.
  double sum = 0;
  for (int i = 0; i < 30; ++i) sum += 1 * 0.10;
  char total[64];
  std::snprintf(total, sizeof total, "%.17g", sum);
  AddSale(1100, 71, 1, total, "0", total);
  for (int i = 1; i <= 30; ++i) AddLine(1100, i, 7, "1", "0.10");
  db.Exec("UPDATE parametro_geral SET tx_srv = 0");
  parameters.DecimalSeparator = '.';
  const std::string answer = Pom(Request("71"));
  EXPECT_NE(answer.find("<total subtotal=\"3.00\" acrescimos=\"0.00\" descontos=\"0.00\" valortotal=\"3.00\" "
                        "totalpercapta=\"3.00\"/>"),
            std::string::npos)
      << answer;
  // Half a cent in the sale's own figures goes up, as on the pre-bill.
  db.Exec("UPDATE venda_direta SET vl_tot_ite = 1.485, vl_tot_vnd = 1.485 WHERE nr_orc_loc = 1100");
  EXPECT_NE(Pom(Request("71")).find("subtotal=\"1.49\""), std::string::npos);
}

TEST_F(PositionTest, TableNotFoundOrInactiveAnswersOnlyThePeople) {
  db.Exec("INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu) VALUES (72, '72', 1, 'I', "
          "'E', 4)");
  AddSale(1200, 72, 1, "10", "0", "10");
  AddLine(1200, 1, 1, "1", "10");
  for (const std::string mesa : {"404", "72"}) {
    const std::string answer = Pom(Request(mesa));
    EXPECT_EQ(answer, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pda><pedido tipo=\"C\" mesa=\"" + mesa +
                          "\" ic_tip_tra=\"1\" operador=\"J&amp;M\" pessoas=\"1\" mensagem=\"\"/></pda>");
  }
  EXPECT_TRUE(AnswerFolder().empty());
}

TEST_F(PositionTest, TableWithoutSalesHasAnEmptyPedidoAndNoTotal) {
  const std::string expected = Utf8ToLatin1(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\r\n"
      "<POM>\r\n"
      "  <Header datahora=\"20261208090507\" versao=\"1.0\"/>\r\n"
      "  <local mesa=\"71\" ic_tip_tra=\"1\" status=\"E\" ambiente=\"1\" pessoas=\"1\" mensagem=\"\" />\r\n"
      "  <pedido tipo=\"C\" mesa=\"71\" ic_tip_tra=\"1\" operador=\"J&amp;M\" pessoas=\"1\" mensagem=\"\">\r\n"
      "  </pedido>\r\n"
      "</POM>\r\n");
  EXPECT_EQ(Pom(Request("71")), SavedText(expected));
  // A sale with no line left is still totalled.
  AddSale(1300, 71, 1, "0", "0", "0");
  EXPECT_NE(Pom(Request("71")).find("<total subtotal=\"0,00\""), std::string::npos);
}

TEST_F(PositionTest, SalesThatCannotBeTotalledAnswerTheRequestWithoutItems) {
  // Links to sales whose rows are gone.
  db.Exec("INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com) VALUES (71, 1400, 1), (71, 1401, 2)");
  const std::string answer =
      Pom("<pda><pedido tipo=\"C\" mesa=\"71\" ic_tip_tra=\"1\" operador=\"1\" pessoas=\"\" mensagem=\"\">"
          "<item id=\"1\"/><x><item/></x></pedido></pda>");
  EXPECT_EQ(answer, Utf8ToLatin1("<pda><pedido tipo=\"C\" mesa=\"71\" ic_tip_tra=\"1\" operador=\"1\" pessoas=\"1\" "
                                 "mensagem=\"Erro na Totalização.\\ndo(s) orçamento(s).\"><x/></pedido></pda>"));
  ASSERT_FALSE(db.op.events.empty());
  EXPECT_TRUE(AnswerFolder().empty());
}

TEST_F(PositionTest, FailuresLeaveTheRequestAsItStandsAndNoWorkFile) {
  TwoSales();
  const std::string unchanged = Request("7");
  // No ic_tip_tra: nothing is written.
  pugi::xml_document incomplete;
  incomplete.load_string(Request("7", "").c_str(), pugi::parse_default | pugi::parse_declaration);
  std::string answer = Pom(Request("7", ""));
  EXPECT_EQ(answer, Saved(incomplete));

  // A database failure after the people were written.
  db.Exec("DROP TABLE caracteristica_produto");
  answer = Pom(unchanged);
  EXPECT_NE(answer.find("<pda><pedido tipo=\"C\" mesa=\"7\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("pessoas=\"3\""), std::string::npos) << answer;
  EXPECT_EQ(answer.find("<POM>"), std::string::npos);
  ASSERT_FALSE(db.op.events.empty());
  EXPECT_NE(db.op.events.back().find("caracteristica_produto"), std::string::npos) << db.op.events.back();
  EXPECT_TRUE(AnswerFolder().empty());
  EXPECT_FALSE(db.session.InTransaction());

  // No answer folder to write the work file into.
  db.Exec("CREATE TABLE caracteristica_produto (id_car_pro INTEGER PRIMARY KEY, dc_car_pro TEXT)");
  parameters.AnswerFolder = (fs::path(parameters.AnswerFolder) / "missing").string();
  answer = Pom(unchanged);
  EXPECT_EQ(answer.find("<POM>"), std::string::npos);
  EXPECT_NE(db.op.events.back().find("missing"), std::string::npos) << db.op.events.back();

  // No pedido: the document goes back as it came.
  pugi::xml_document other;
  other.load_string("<pda><local mesa=\"7\"/></pda>");
  HandleTablePosition(context, other);
  EXPECT_EQ(Saved(other), "<pda><local mesa=\"7\"/></pda>");
}

TEST_F(PositionTest, LeftoverWorkFilesNeverStopAPosition) {
  TwoSales();
  TempFolder elsewhere;
  const fs::path target = elsewhere.path() / "precious";
  test::WriteFile(target, "keep me");
  // A work file a crash left behind, and one that is a link somewhere else.
  test::WriteFile(fs::path(parameters.AnswerFolder) / "POM0001.prc", "<POM><item/>half a document");
  fs::create_symlink(target, fs::path(parameters.AnswerFolder) / "POM0002.prc");

  EXPECT_NE(Pom(Request("7")).find("<total "), std::string::npos);
  polling.CurrentStem = "POM0002";
  EXPECT_NE(Pom(Request("7")).find("<total "), std::string::npos);
  EXPECT_TRUE(AnswerFolder().empty());
  EXPECT_EQ(test::ReadFile(target), "keep me");

  // Names that are no work file of this folder.
  EXPECT_EQ(PositionWorkFileName("POM7.Xml"), "POM7.Xml.prc");
  EXPECT_EQ(PositionWorkFileName(""), "POM.prc");
  EXPECT_THROW(PositionWorkFileName("../x"), std::exception);
}

TEST_F(PositionTest, PositionChangesNothingInTheDatabase) {
  TwoSales();
  const long long before = db.session.TotalChanges();
  Pom(Request("7"));
  Pom(Request("404"));
  EXPECT_EQ(db.session.TotalChanges(), before);
}

// ------------------------------------------------------------ comanda mode

class ComandaPositionTest : public PositionTest {
 protected:
  std::string Pom(const std::string& request_text) {
    request.reset();
    EXPECT_TRUE(request.load_string(request_text.c_str(), pugi::parse_default | pugi::parse_declaration));
    HandleComandaPosition(context, request);
    return Saved(request);
  }
  // Comanda 150 with sales 1502 and 1501.
  void TwoSales() {
    db.Exec("INSERT INTO controle_comanda VALUES (150, '', 1);"
            "INSERT INTO controle_comanda_orcamento (NR_CMD, NR_ORC_LOC) VALUES (150, 1502), (150, 1501);"
            "INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, vl_tot_ite, vl_tot_dsc, vl_tot_vnd) "
            "VALUES (1501, 'O', 30, 0, 30), (1502, 'O', 12.5, 0, 12.5)");
    AddLine(1501, 1, 1, "1", "30");
    AddLine(1501, 2, 3, "2", "0", "1");
    AddOption(1501, 1, 2);
    AddOption(1501, 1, 99);  // by code only: shown even without a description
    AddLine(1502, 1, 7, "2.5", "5");
  }
};

const char* kComandaText =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\r\n"
    "<POM>\r\n"
    "  <Header datahora=\"20261208090507\" versao=\"1.0\"/>\r\n"
    "  <local mesa=\"150\" ic_tip_tra=\"1\" status=\"L\" mensagem=\"\" />\r\n"
    "  <pedido tipo=\"C\" mesa=\"150\" ic_tip_tra=\"1\" operador=\"J&amp;M\" pessoas=\"1\" mensagem=\"\">\r\n"
    "    <item posicao=\"1\" id=\"1\" grupo=\"\" subgrupo=\"\" produto=\"101\" "
    "descricao=\"FILE MIGNON GRELHADO\" qtde=\"1,000\" preco=\"30,00\" ordem=\"1\" >\r\n"
    "      <caract id=\"\" cod=\"2\" />\r\n"
    "      <caract id=\"\" cod=\"99\" />\r\n"
    "      <acomp id=\"2\" cod=\"103\" qtde=\"2,000\" preco=\"0,00\" descricao=\"BATATA FRITA\" />\r\n"
    "    </item>\r\n"
    "    <item posicao=\"1\" id=\"1\" grupo=\"\" subgrupo=\"\" produto=\"301\" "
    "descricao=\"CAFE EXPRESSO\" qtde=\"2,500\" preco=\"5,00\" ordem=\"1\" >\r\n"
    "    </item>\r\n"
    "  </pedido>\r\n"
    "  <total subtotal=\"42,50\" acrescimos=\"4,25\" descontos=\"0,00\" valortotal=\"46,75\" "
    "totalpercapta=\"46,75\" />\r\n"
    "</POM>\r\n";

TEST_F(ComandaPositionTest, EveryItemAtPositionOneAndOptionsByCode) {
  TwoSales();
  PositionPlace place = FindComandaPosition(db.session, "150");
  ASSERT_TRUE(place.listed);
  ReadPositionContents(db.session, PositionMode::Comanda, place);
  const auto text = PositionText(clock.Now(), ',', PositionMode::Comanda,
                                 PositionRequest{"C", "150", "1", "J&M"}, place);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, Utf8ToLatin1(kComandaText));
  EXPECT_EQ(Pom(Request("150")), SavedText(Utf8ToLatin1(kComandaText)));
  EXPECT_TRUE(AnswerFolder().empty());
}

TEST_F(ComandaPositionTest, UnknownComandaIsOpenedByThePositionRequest) {
  const std::string answer = Pom(Request("160"));
  EXPECT_NE(answer.find("<local mesa=\"160\" ic_tip_tra=\"1\" status=\"L\" mensagem=\"\"/>"), std::string::npos)
      << answer;
  EXPECT_NE(answer.find("pessoas=\"1\" mensagem=\"\">\r\n  </pedido>\r\n</POM>"), std::string::npos) << answer;
  EXPECT_EQ(db.Scalar("select count(*) from controle_comanda where NR_CMD = 160"), "1");

  // One that may not be opened is answered with its state and nothing in it.
  db.Exec("UPDATE parametro_geral SET ic_abr_comanda = 'N', ic_abr_cartao = 'N'");
  const std::string refused = Pom(Request("161"));
  EXPECT_NE(refused.find(Utf8ToLatin1("status=\"N\" mensagem=\"COMANDA\\nNÃO ENCONTRADA.\"")), std::string::npos)
      << refused;
  EXPECT_EQ(refused.find("<total"), std::string::npos);
  EXPECT_EQ(db.Scalar("select count(*) from controle_comanda where NR_CMD = 161"), "0");
}

TEST_F(ComandaPositionTest, NumberThatIsNoComandaLeavesTheRequest) {
  for (const std::string mesa : {"abc", "0", "150 or 1=1", ""}) {
    pugi::xml_document unchanged;
    unchanged.load_string(Request(mesa).c_str(), pugi::parse_default | pugi::parse_declaration);
    EXPECT_EQ(Pom(Request(mesa)), Saved(unchanged)) << mesa;
  }
  EXPECT_EQ(db.Scalar("select count(*) from controle_comanda"), "0");
  EXPECT_TRUE(AnswerFolder().empty());
}

}  // namespace
}  // namespace orba
