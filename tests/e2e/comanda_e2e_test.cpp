// Comanda mode through the real service: the demo establishment working by
// comanda, comanda numbers 100 to 199, the walk-in customer ANA MARIA SOUZA
// LIMA, card 9001 of JOAO DA SILVA.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <memory>

#include <pugixml.hpp>

#include "e2e_harness.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

class ComandaEndToEnd : public SharedService<ComandaEndToEnd> {
 protected:
  static void SetUpTestSuite() {
    InstallationOptions options;
    options.sql =
        "UPDATE parametro_geral SET ic_tra_cmd = 'S';"
        "UPDATE COMANDA_RANGE_NUMERACAO SET NR_CMD_INI = 100, NR_CMD_FIM = 199;"
        "UPDATE consumidor SET nm_pes_cpl = 'ANA MARIA SOUZA LIMA';";
    StartShared(options);
  }

  // Runs the handheld simulator and returns what it printed: the raw answer,
  // or with `xml` false its readable verdict; `status` is the exit status
  // expected (0 done, 1 refused).
  std::string Pda(const std::string& arguments, int status = 0, bool xml = true) {
    const fs::path tool = fs::path(ORBA_BINARY).parent_path() / "orbapda-pda";
    const std::string output_file = (inst().root / "pda.out").string();
    const std::string command = tool.string() + " --system-dir '" + inst().system_dir.string() + "' --timeout 5 " +
                                (xml ? "--xml " : "") + arguments + " > '" + output_file + "' 2>&1";
    const int result = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(result) && WEXITSTATUS(result) == status) << arguments << "\n" << test::ReadFile(output_file);
    return test::ReadFile(output_file);
  }
  static std::map<std::string, std::string> Attributes(const std::string& answer, const char* element) {
    pugi::xml_document document;
    document.load_string(answer.c_str());
    std::map<std::string, std::string> result;
    for (pugi::xml_attribute a : document.select_node((std::string("//") + element).c_str()).node().attributes()) {
      result[a.name()] = a.value();
    }
    return result;
  }
  std::string Ticket(const std::string& printer, const std::string& file) {
    return test::ReadFile(inst().spool / printer / file);
  }

};


TEST_F(ComandaEndToEnd, StatusOpensAComandaInItsRangeAndACardAndRefusesTheRest) {
  auto answer = Attributes(Pda("stm 150"), "local");
  EXPECT_EQ(answer["status"], "L");
  EXPECT_EQ(answer["mensagem"], "");
  EXPECT_EQ(answer["retornoOK"], "COMANDA\\nANA MARIA SOUZA\\n ABERTA");
  EXPECT_EQ(answer["pessoas"], "1");
  EXPECT_EQ(answer["ambiente"], "");
  EXPECT_EQ(inst().Scalar("select NR_CMD || ':' || IC_TIP_CMD || ':' || ID_PES_CLI from controle_comanda"),
            "150::1");

  // In words: retornoOK's "\\n" as line breaks.
  EXPECT_EQ(Pda("stm 9001", 0, false), "STM OK - status L (livre)\n  CARTAO\n  JOAO DA SILVA\n  ABERTO\n");

  answer = Attributes(Pda("stm 250", 1), "local");
  EXPECT_EQ(answer["status"], "N");
  EXPECT_EQ(answer["mensagem"], "O número digitado não está entre o range de comandas. ");
  answer = Attributes(Pda("stm 15O", 1), "local");
  EXPECT_EQ(answer["status"], "X");
  EXPECT_EQ(answer["mensagem"], "Erro na leitura");
  EXPECT_EQ(inst().Scalar("select count(*) from controle_comanda"), "2");

  // There is no place lookup by comanda: the request is never answered.
  inst().DropRequest("SLA0001.Xml", StmRequest("1"));
  EXPECT_TRUE(inst().WaitForPath(inst().requests / "SLA0001.Tmp"));
  EXPECT_FALSE(inst().WaitForAnswer("SLA0001.Xml", std::chrono::milliseconds(300)).has_value());
  // The simulator reads the mode from ORBA.MDB and says so at once.
  if (!inst().OnServer()) {
    EXPECT_NE(Pda("sla 1 1", 1, false).find("sla (consulta de local) só existe no modo mesa"), std::string::npos);
  }
}

TEST_F(ComandaEndToEnd, OrderGivesEachPositionOfAFreshComandaASaleAndAResendIsWrittenOnce) {
  ASSERT_EQ(Attributes(Pda("stm 151"), "local")["status"], "L");
  const std::string order = "pem 151 --operador 10 --datahora 20261208200000 --item 1:101:1:50,00 "
                            "--item 2:102:1:42 --item 2:201:2:9.90";
  auto answer = Attributes(Pda(order), "pedido");
  EXPECT_EQ(answer["mensagem"], "");
  const auto sales = inst().Rows("select NR_ORC_LOC from controle_comanda_orcamento where NR_CMD = 151 "
                                 "order by NR_ORC_LOC");
  ASSERT_EQ(sales.size(), 2u);
  const std::string first = sales[0][0];
  const std::string second = sales[1][0];
  EXPECT_EQ(inst().Scalar("select group_concat(nr_orc_loc || ':' || id_mat_pro, ' ') from (select * from "
                          "item_venda_direta order by nr_orc_loc, id_seq)"),
            first + ":1 " + second + ":2 " + second + ":4");
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where id_prt_ite = 'N'"), "0");
  // Printed sale by sale: the kitchen ticket of each sale, then the bar's of the second.
  EXPECT_EQ(Installation::FilesOf(inst().spool / "COZINHA"), (std::vector<std::string>{"000001.txt", "000002.txt"}));
  EXPECT_NE(Ticket("COZINHA", "000001.txt").find(std::string(5 - first.size(), '0') + first + "\n"),
            std::string::npos);
  EXPECT_NE(Ticket("COZINHA", "000002.txt").find(std::string(5 - second.size(), '0') + second + "\n"),
            std::string::npos);
  EXPECT_EQ(Installation::FilesOf(inst().spool / "BAR"), std::vector<std::string>{"000001.txt"});

  // Sent again after a timeout: answered as the stored order it is, not cooked twice.
  EXPECT_EQ(Pda(order, 0, false), "PEM OK\n");
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta"), "3");
  EXPECT_EQ(Installation::FilesOf(inst().spool / "COZINHA").size(), 2u);

  // A comanda never opened is refused by name.
  answer = Attributes(Pda("pem 152 --operador 10 --item 1:101:1:50", 1), "pedido");
  EXPECT_EQ(answer["mensagem"], "Erro no Pedido.\\nComanda não aberta.");
}

}  // namespace
}  // namespace orba::e2e
