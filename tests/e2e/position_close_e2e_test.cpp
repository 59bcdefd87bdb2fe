// POM and FEM through the real service: a table's position as the handheld
// receives it, its close with the pre-bills on the spool printers, the same
// from the handheld simulator, and the position and close of a comanda in
// comanda mode.

#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <sstream>

#include <pugixml.hpp>

#include "e2e_harness.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool LocaleInstalled(const char* name) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const bool found = std::setlocale(LC_NUMERIC, name) != nullptr && *std::localeconv()->decimal_point == ',';
  std::setlocale(LC_NUMERIC, saved.c_str());
  return found;
}

std::string Latin1Request(const std::string& element) {
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + element;
}

// A sale of the demo waiter with its totals; linked to a table when `place`
// is given.
std::string SaleSql(int sale, const std::string& items, const std::string& discount, const std::string& total) {
  return "INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, dt_vnd_dir, hr_vnd_ini, nm_pes_cli, id_pes_atd, "
         "vl_tot_ite, vl_tot_dsc, vl_tot_vnd, vl_tot_frt) VALUES (" + std::to_string(sale) +
         ", 'O', '20261208', '12:00:00', 'CONSUMIDOR FINAL', 10, " + items + ", " + discount + ", " + total + ", 0);";
}
std::string LineSql(int sale, int sequence, int product, const std::string& quantity, const std::string& price,
                    const std::string& parent = "NULL") {
  return "INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, pr_un_it_atd, qt_pro_atd, vl_dsc, "
         "id_seq_pro_prn, id_prt_ite) VALUES (" + std::to_string(sale) + ", " + std::to_string(sequence) + ", " +
         std::to_string(product) + ", " + price + ", " + quantity + ", 0, " + parent + ", 'S');";
}
std::string LinkSql(int place, int sale, int position) {
  return "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_tp_cta) VALUES (" + std::to_string(place) + ", " +
         std::to_string(sale) + ", " + std::to_string(position) + ", 1);";
}

// Table M501 (3 people): sale 5011 at position 2, sale 5012 at position 1;
// table M502: sales 5023, 5021, 5022 at positions 3, 1, 2.
const std::string kTablesSql =
    "INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) "
    "VALUES (60, '160', 'ESPETINHO DE CORAÇÃO COM MANDIOCA FRITA E MOL', 'UN', 0, 1);"
    "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
    "VALUES (501, 'M501', 1, 'A', 'E', 3, 'N'), (502, 'M502', 1, 'A', 'E', 2, 'N');" +
    SaleSql(5011, "105", "5", "100") + LineSql(5011, 1, 1, "1", "100") + LineSql(5011, 2, 3, "1", "5", "1") +
    "INSERT INTO ivd_caracteristica_produto (nr_orc_loc, id_seq, id_car_pro) VALUES (5011, 1, 1);" +
    SaleSql(5012, "50", "0", "50") + LineSql(5012, 1, 60, "2", "20") + LineSql(5012, 2, 4, "0.5", "20") +
    LinkSql(501, 5011, 2) + LinkSql(501, 5012, 1) +
    SaleSql(5021, "10", "0", "10") + LineSql(5021, 1, 1, "1", "10") + LinkSql(502, 5021, 1) +
    SaleSql(5022, "10", "0", "10") + LineSql(5022, 1, 2, "1", "10") + LinkSql(502, 5022, 2) +
    SaleSql(5023, "10", "0", "10") + LineSql(5023, 1, 4, "1", "10") + LinkSql(502, 5023, 3);

class PositionCloseEndToEnd : public SharedService<PositionCloseEndToEnd> {
 protected:
  static void SetUpTestSuite() {
    InstallationOptions options;
    options.printers = {"BAR", "CAIXA", "COZINHA"};
    options.sql = kTablesSql;
    std::vector<std::string> environment;
    if (LocaleInstalled("pt_BR.UTF-8")) environment = {"LC_ALL=pt_BR.UTF-8"};
    StartShared(options, environment,
                [](Installation& installation) { test::WriteFile(installation.spool / "default", "CAIXA\n"); });
  }
  std::string Send(const std::string& name, const std::string& request) {
    inst().DropRequest(name, request);
    const auto answer = inst().WaitForAnswer(name);
    EXPECT_TRUE(answer.has_value()) << name << " not answered\n" << service_->Stderr();
    return answer.value_or("");
  }
  // The pre-bills printed since `mark` documents: their place lines.
  std::vector<std::string> PlaceLinesSince(std::size_t mark) {
    std::vector<std::string> places;
    const auto files = Installation::FilesOf(inst().spool / "CAIXA");
    for (std::size_t i = mark; i < files.size(); ++i) {
      places.push_back(Lines(test::ReadFile(inst().spool / "CAIXA" / files[i])).at(5));
    }
    return places;
  }

};


TEST_F(PositionCloseEndToEnd, PositionOfTwoSalesWithTheRegionalDecimalComma) {
  if (service_->environment.empty()) GTEST_SKIP() << "pt_BR.UTF-8 is not installed (tools/install-deps.sh)";
  // A work file that a crash left under the same name.
  test::WriteFile(inst().answers / "POM501.prc", "<POM><item/>");
  const std::string answer =
      Send("POM501.Xml", Latin1Request("<pedido tipo=\"C\" mesa=\"m501\" ic_tip_tra=\"1\" operador=\"10\" "
                                       "pessoas=\"\" mensagem=\"\"/>"));

  // Lines as written, in ISO-8859-1, byte for byte.
  EXPECT_EQ(answer.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\r\n<POM>\r\n  <Header datahora=\"", 0), 0u)
      << answer;
  EXPECT_NE(answer.find("\" versao=\"1.0\"/>\r\n  <local mesa=\"m501\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("\" />\r\n  <pedido tipo=\"C\""), std::string::npos) << answer;
  EXPECT_EQ(answer.substr(answer.size() - 8), "</POM>\r\n");
  EXPECT_NE(answer.find("descricao=\"ESPETINHO DE CORA\xC7\xC3O COM MANDI\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("\r\n    </item>\r\n"), std::string::npos);

  pugi::xml_document document;
  ASSERT_TRUE(document.load_buffer(answer.data(), answer.size()));
  const pugi::xml_node pom = document.child("POM");
  EXPECT_EQ(std::string(pom.child("Header").attribute("datahora").value()).size(), 14u);
  EXPECT_STREQ(pom.child("local").attribute("status").value(), "E");
  EXPECT_STREQ(pom.child("local").attribute("pessoas").value(), "3");
  std::vector<std::string> items;
  for (const pugi::xml_node item : pom.child("pedido").children("item")) {
    items.push_back(std::string(item.attribute("posicao").value()) + "/" + item.attribute("ordem").value() + " " +
                    item.attribute("produto").value() + " " + item.attribute("qtde").value() + " x " +
                    item.attribute("preco").value());
  }
  EXPECT_EQ(items, (std::vector<std::string>{"1/1 160 2,000 x 20,00", "1/2 201 0,500 x 20,00",
                                              "2/1 101 1,000 x 100,00"}));
  const pugi::xml_node total = pom.child("total");
  EXPECT_STREQ(total.attribute("subtotal").value(), "155,00");
  EXPECT_STREQ(total.attribute("acrescimos").value(), "15,00");
  EXPECT_STREQ(total.attribute("descontos").value(), "5,00");
  EXPECT_STREQ(total.attribute("valortotal").value(), "165,00");
  EXPECT_STREQ(total.attribute("totalpercapta").value(), "55,00");

  // Nothing but the answer stays in the answer folder.
  EXPECT_EQ(Installation::FilesOf(inst().answers), std::vector<std::string>{"POM501.Xml"});
  fs::remove(inst().answers / "POM501.Xml");
}

TEST_F(PositionCloseEndToEnd, CloseWithOneBillPerSalePrintsThemInPositionOrder) {
  const std::size_t mark = Installation::FilesOf(inst().spool / "CAIXA").size();
  const std::string request = Latin1Request(
      "<local mesa=\"M502\" pessoas=\"4\" ic_tip_cnt=\"2\" status=\"\" mensagem=\"\"/>");
  const std::string answer = Send("FEM502.Xml", request);
  EXPECT_EQ(answer, request);
  EXPECT_EQ(inst().Scalar("select ic_stt_loc || qt_loc_ocu from local where id_loc = 502"), "P4");
  EXPECT_EQ(inst().Scalar("select group_concat(id_tp_cta, '') from local_vnd where id_loc = 502"), "222");
  const auto place = [](const std::string& position, const std::string& sale) {
    const std::string left = "LOCAL: M502/" + position;
    return left + std::string(37 - left.size() - sale.size(), ' ') + sale;
  };
  EXPECT_EQ(PlaceLinesSince(mark), (std::vector<std::string>{place("1", "5021"), place("2", "5022"),
                                                              place("3", "5023")}));
  fs::remove(inst().answers / "FEM502.Xml");
}

TEST_F(PositionCloseEndToEnd, HandheldSimulatorShowsThePositionAndClosesTheTable) {
  inst().Exec("INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
              "VALUES (503, 'M503', 1, 'A', 'L', 0, 'N')");
  const fs::path tool = fs::path(ORBA_BINARY).parent_path() / "orbapda-pda";
  const std::string output_file = (inst().root / "pda-pom.out").string();
  const auto pda = [&](const std::string& arguments) {
    const std::string command = tool.string() + " --system-dir '" + inst().system_dir.string() + "' --timeout 5 " +
                                arguments + " > '" + output_file + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << arguments << "\n" << test::ReadFile(output_file);
    return Lines(test::ReadFile(output_file));
  };
  pda("pem M503 --operador 10 --pessoas 2 --item 1:101:2:25.00 --caract 1 --item 2:201:1:6.50");
  const auto position = pda("pom M503 --operador 10");
  ASSERT_GE(position.size(), 6u);
  EXPECT_EQ(position[0].rfind("MESA M503  situação E  pessoas 2", 0), 0u) << position[0];
  const char sep = service_->environment.empty() ? '.' : ',';
  const auto number = [sep](std::string text) {
    for (char& c : text) {
      if (c == '.') c = sep;
    }
    return text;
  };
  EXPECT_EQ(position[2], number("  1   1 101     FILE MIGNON GRELHADO               2.000      25.00"));
  EXPECT_EQ(position[3], "                (*) 1 MAL PASSADO");
  EXPECT_EQ(position[4], number("  2   1 201     CERVEJA LONG NECK 355ML            1.000       6.50"));
  EXPECT_EQ(position[5],
            number("subtotal 56.50  acréscimos 5.65  descontos 0.00  total 62.15  por pessoa 31.08"));

  const std::size_t mark = Installation::FilesOf(inst().spool / "CAIXA").size();
  EXPECT_EQ(pda("fem M503"), std::vector<std::string>{"FEM OK"});
  EXPECT_EQ(inst().Scalar("select ic_stt_loc || qt_loc_ocu from local where id_loc = 503"), "P2");
  // One pre-bill of both sales, whose total is the position's.
  ASSERT_EQ(PlaceLinesSince(mark).size(), 1u);
  const auto files = Installation::FilesOf(inst().spool / "CAIXA");
  const auto pre_bill = Lines(test::ReadFile(inst().spool / "CAIXA" / files.back()));
  EXPECT_NE(std::find(pre_bill.begin(), pre_bill.end(), "Total     " + std::string(22, ' ') + number("62.15")),
            pre_bill.end());
  EXPECT_EQ(pda("pom M503")[0].rfind("MESA M503  situação P", 0), 0u);
}

// ------------------------------------------------------------ comanda mode

TEST(ComandaPositionEndToEnd, PositionWithEveryItemAtOneAndAPreBillPerSale) {
  InstallationOptions options;
  options.printers = {"CAIXA"};
  options.sql = "UPDATE parametro_geral SET ic_tra_cmd = 'S';"
                "INSERT INTO controle_comanda VALUES (120, '', 1);"
                "INSERT INTO controle_comanda_orcamento (NR_CMD, NR_ORC_LOC) VALUES (120, 7202), (120, 7201);" +
                SaleSql(7201, "10", "0", "10") + LineSql(7201, 1, 1, "1", "10") + SaleSql(7202, "9", "0", "9") +
                LineSql(7202, 1, 4, "1", "9");
  Installation inst(options);
  ServiceProcess service;
  service.environment = {"LC_ALL=C"};  // amounts with a point
  ASSERT_TRUE(service.Start(inst));
  ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();

  inst.DropRequest("POM1.Xml", Latin1Request("<pedido tipo=\"C\" mesa=\"120\" ic_tip_tra=\"1\" operador=\"10\" "
                                             "pessoas=\"\" mensagem=\"\"/>"));
  const auto position = inst.WaitForAnswer("POM1.Xml");
  ASSERT_TRUE(position.has_value()) << service.Stderr();
  pugi::xml_document document;
  ASSERT_TRUE(document.load_buffer(position->data(), position->size()));
  EXPECT_STREQ(document.child("POM").child("local").attribute("status").value(), "L");
  std::vector<std::string> items;
  for (const pugi::xml_node item : document.child("POM").child("pedido").children("item")) {
    items.push_back(std::string(item.attribute("posicao").value()) + "/" + item.attribute("ordem").value() + " " +
                    item.attribute("produto").value());
  }
  EXPECT_EQ(items, (std::vector<std::string>{"1/1 101", "1/1 201"}));
  EXPECT_STREQ(document.child("POM").child("total").attribute("valortotal").value(), "20.90");

  const std::string request = Latin1Request("<local mesa=\"120\" pessoas=\"2\" status=\"\" mensagem=\"\"/>");
  inst.DropRequest("FEM1.Xml", request);
  const auto answer = inst.WaitForAnswer("FEM1.Xml");
  ASSERT_TRUE(answer.has_value()) << service.Stderr();
  EXPECT_EQ(*answer, request);
  const auto files = Installation::FilesOf(inst.spool / "CAIXA");
  ASSERT_EQ(files.size(), 2u);
  // The comanda stands where a table's name would.
  EXPECT_EQ(Lines(test::ReadFile(inst.spool / "CAIXA" / files[0])).at(5), "COMANDA: 120" + std::string(21, ' ') + "7201");
  EXPECT_EQ(Lines(test::ReadFile(inst.spool / "CAIXA" / files[1])).at(5), "COMANDA: 120" + std::string(21, ' ') + "7202");
  EXPECT_EQ(service.Terminate(), 0) << service.Stderr();
}

}  // namespace
}  // namespace orba::e2e
