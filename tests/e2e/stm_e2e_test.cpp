// STM in table mode through the real service: request files dropped into
// xml/Enviar, answers collected from xml/Receber.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <memory>

#include "e2e_harness.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

class StmEndToEnd : public SharedService<StmEndToEnd> {
 protected:
  static void SetUpTestSuite() {
    InstallationOptions options;
    options.sql = "INSERT INTO ambiente_local (id_amb, nm_amb, id_amb_ass, ic_ocu_chk_in) VALUES (3, 'HOTEL', NULL, 'S');";
    StartShared(options);
  }

  static void AddTable(int id, const std::string& name, const std::string& state, const std::string& people,
                       int environment = 1, const std::string& pap = "N", const std::string& active = "A") {
    installation_->Exec(
        "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (" +
        std::to_string(id) + ", '" + name + "', " + std::to_string(environment) + ", '" + active + "', '" + state +
        "', " + people + ", '" + pap + "')");
  }
  static void AddSale(int place, int sale, const std::string& type, const std::string& lock,
                      const std::string& position, const std::string& associated, const std::string& account) {
    installation_->Exec("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, nm_comp_lock) VALUES (" +
                        std::to_string(sale) + ", '" + type + "', " + lock + ");" +
                        "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_loc_ass, id_tp_cta) VALUES (" +
                        std::to_string(place) + ", " + std::to_string(sale) + ", " + position + ", " + associated +
                        ", " + account + ")");
  }

  // Drops an STM request for `mesa` under `name` and returns the answer's
  // `local` attributes.
  std::map<std::string, std::string> Ask(const std::string& name, const std::string& mesa) {
    inst().DropRequest(name, StmRequest(mesa));
    const auto answer = inst().WaitForAnswer(name);
    EXPECT_TRUE(answer.has_value()) << name << " not answered\n" << service_->Stderr();
    return answer ? LocalAttributes(*answer) : std::map<std::string, std::string>{};
  }

};


TEST_F(StmEndToEnd, LowerCaseRequestIsAnsweredUnderItsNameAndLeavesNothingBehind) {
  const auto answer = Ask("stm0001.xml", "1");
  EXPECT_EQ(answer.at("status"), "L");
  EXPECT_EQ(answer.at("mensagem"), "");
  EXPECT_EQ(answer.at("ambiente"), "1");
  EXPECT_EQ(answer.at("posisaoAss"), "");
  EXPECT_EQ(answer.at("tipoConta"), "");
  EXPECT_EQ(answer.at("pessoas"), "1");
  ASSERT_TRUE(inst().WaitForPath(inst().requests / "stm0001.Tmp", false));
  for (const std::string& name : Installation::FilesOf(inst().requests)) {
    EXPECT_EQ(name.rfind("stm0001", 0), std::string::npos) << name;
  }
  const std::string bytes = *inst().WaitForAnswer("stm0001.xml");
  EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", 0), 0u) << bytes;
}

TEST_F(StmEndToEnd, UnknownCodeStaysInWorkWithoutAnswer) {
  inst().DropRequest("XYZ01.Xml", StmRequest("1"));
  ASSERT_TRUE(inst().WaitForPath(inst().requests / "XYZ01.Tmp"));
  // A later request is answered; the unknown one still has none.
  EXPECT_EQ(Ask("STMAFTERXYZ.Xml", "1").at("status"), "L");
  EXPECT_FALSE(fs::exists(inst().answers / "XYZ01.Xml"));
  EXPECT_TRUE(fs::exists(inst().requests / "XYZ01.Tmp"));
}

TEST_F(StmEndToEnd, ThreeRequestsInOneGo) {
  AddTable(310, "T310", "E", "2");
  inst().DropRequest("STM3A.Xml", StmRequest("2"));
  inst().DropRequest("STM3B.Xml", StmRequest("T310"));
  inst().DropRequest("STM3C.Xml", StmRequest("nada"));
  const auto a = inst().WaitForAnswer("STM3A.Xml");
  const auto b = inst().WaitForAnswer("STM3B.Xml");
  const auto c = inst().WaitForAnswer("STM3C.Xml");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(LocalAttributes(*a).at("status"), "L");
  EXPECT_EQ(LocalAttributes(*b).at("status"), "E");
  EXPECT_EQ(LocalAttributes(*c).at("status"), "N");
}

TEST_F(StmEndToEnd, TableBeingServedWithItsSaleLinks) {
  AddTable(101, "T101", "E", "4");
  AddSale(101, 1001, "O", "NULL", "1", "12", "2");
  AddSale(101, 1002, "O", "''", "2", "NULL", "1");
  AddSale(101, 1003, "O", "NULL", "3", "15", "2");
  const auto answer = Ask("STM0101.Xml", "T101");
  EXPECT_EQ(answer.at("status"), "E");
  EXPECT_EQ(answer.at("mensagem"), "");
  EXPECT_EQ(answer.at("ambiente"), "1");
  EXPECT_EQ(answer.at("posisaoAss"), "1,12,3,15");
  EXPECT_EQ(answer.at("tipoConta"), "2");
  EXPECT_EQ(answer.at("pessoas"), "4");

  AddTable(102, "T102", "E", "0");
  AddSale(102, 1021, "O", "NULL", "1", "NULL", "NULL");
  const auto second = Ask("STM0102.Xml", "T102");
  EXPECT_EQ(second.at("tipoConta"), "1");
  EXPECT_EQ(second.at("posisaoAss"), "");
  EXPECT_EQ(second.at("pessoas"), "1");
}

TEST_F(StmEndToEnd, UnknownAndInactiveTables) {
  const auto unknown = Ask("STMN.Xml", "404");
  EXPECT_EQ(unknown.at("status"), "N");
  EXPECT_EQ(unknown.at("mensagem"), "MESA\\nNÃO ENCONTRADA.");
  EXPECT_EQ(unknown.at("ambiente"), "");
  EXPECT_EQ(unknown.at("pessoas"), "1");
  EXPECT_EQ(unknown.at("tipoConta"), "");

  const auto inactive = Ask("STMI.Xml", "99");
  EXPECT_EQ(inactive.at("status"), "I");
  EXPECT_EQ(inactive.at("mensagem"), "MESA INATIVA.");
  EXPECT_EQ(inactive.at("ambiente"), "");
}

TEST_F(StmEndToEnd, AwaitingPaymentWithAndWithoutItsOwnSalePerOrder) {
  AddTable(120, "T120", "P", "2");
  AddTable(121, "T121", "P", "2", 1, "S");
  const auto paying = Ask("STMP1.Xml", "T120");
  EXPECT_EQ(paying.at("status"), "P");
  EXPECT_EQ(paying.at("mensagem"), "MESA\\nEM PROCESSO\\nDE PAGAMENTO");
  const auto still_ordering = Ask("STMP2.Xml", "T121");
  EXPECT_EQ(still_ordering.at("status"), "E");
  EXPECT_EQ(still_ordering.at("mensagem"), "");
}

TEST_F(StmEndToEnd, FreePlaceThatNeedsCheckIn) {
  AddTable(130, "Q130", "L", "0", 3);
  const auto answer = Ask("STMCHK.Xml", "Q130");
  EXPECT_EQ(answer.at("status"), "L");
  EXPECT_EQ(answer.at("mensagem"), "Local sem Check \\nin, favor \\nverificar com \\na recepção");
  EXPECT_EQ(answer.at("ambiente"), "3");
  const std::string bytes = *inst().WaitForAnswer("STMCHK.Xml");
  EXPECT_NE(bytes.find("recep\xE7\xE3o"), std::string::npos) << "ISO-8859-1 answer";
}

TEST_F(StmEndToEnd, FinalizedAndLockedSales) {
  AddTable(140, "T140", "E", "2");
  AddSale(140, 1401, "V", "NULL", "1", "NULL", "1");
  AddSale(140, 1402, "O", "'CAIXA01'", "2", "NULL", "1");
  const auto finalized = Ask("STMV.Xml", "T140");
  EXPECT_EQ(finalized.at("status"), "V");
  EXPECT_EQ(finalized.at("mensagem"), "PEDIDO\\nFINALIZADO.     ");

  AddTable(141, "T141", "E", "2");
  AddSale(141, 1411, "O", "'CAIXA01'", "1", "NULL", "1");
  const auto locked = Ask("STMB.Xml", "T141");
  EXPECT_EQ(locked.at("status"), "B");
  EXPECT_EQ(locked.at("mensagem"), "PEDIDO\\nBLOQUEADO.     ");
}

TEST_F(StmEndToEnd, AccentedTableNameTravelsInLatin1) {
  AddTable(150, "MESA AÇÃO", "E", "3");
  const auto answer = Ask("STMACC.Xml", "mesa ação");
  EXPECT_EQ(answer.at("status"), "E");
  EXPECT_EQ(answer.at("mesa"), "mesa ação");
  const std::string bytes = *inst().WaitForAnswer("STMACC.Xml");
  EXPECT_NE(bytes.find("mesa=\"mesa a\xE7\xE3o\""), std::string::npos) << bytes;
}

TEST_F(StmEndToEnd, QuotesAndSqlInTheNameAreJustANameNotFound) {
  const std::string before = inst().Scalar("select count(*) from local");
  EXPECT_EQ(Ask("STMSQL1.Xml", "1' OR '1'='1").at("status"), "N");
  EXPECT_EQ(Ask("STMSQL2.Xml", "1\"; DROP TABLE local; --").at("status"), "N");
  EXPECT_EQ(Ask("STMSQL3.Xml", "../../etc/passwd").at("status"), "N");
  EXPECT_EQ(inst().Scalar("select count(*) from local"), before);
}

TEST_F(StmEndToEnd, MalformedRequestIsAnsweredEmptyAndTheNextOneServed) {
  inst().DropRequest("STMBAD.Xml", "<?xml version=\"1.0\"?><local mesa=\"1\" status=");
  const auto answer = inst().WaitForAnswer("STMBAD.Xml");
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, "");
  EXPECT_TRUE(inst().WaitForPath(inst().requests / "STMBAD.Tmp", false));
  EXPECT_EQ(Ask("STMGOOD.Xml", "1").at("status"), "L");
  EXPECT_NE(service_->Stderr().find("STMBAD.Xml"), std::string::npos) << service_->Stderr();
}

TEST_F(StmEndToEnd, HandheldSimulatorAsksAndPrintsTheAnswer) {
  const fs::path tool = fs::path(ORBA_BINARY).parent_path() / "orbapda-pda";
  ASSERT_TRUE(fs::exists(tool));
  const std::size_t answers_before = Installation::FilesOf(inst().answers).size();
  const std::string output_file = (inst().root / "pda.out").string();
  const auto run = [&](const std::string& arguments) {
    const std::string command = tool.string() + " --system-dir '" + inst().system_dir.string() + "' --timeout 5 " +
                                arguments + " > '" + output_file + "' 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  // An inactive table is a refusal: exit status 1, in words or as it came.
  EXPECT_EQ(run("stm 99"), 1);
  EXPECT_EQ(test::ReadFile(output_file), "STM RECUSADO - status I (mesa inativa)\n  MESA INATIVA.\n");
  EXPECT_EQ(run("--xml stm 99"), 1);
  const std::string output = test::ReadFile(output_file);
  EXPECT_NE(output.find("status=\"I\""), std::string::npos) << output;
  EXPECT_NE(output.find("mensagem=\"MESA INATIVA.\""), std::string::npos) << output;
  EXPECT_EQ(run("stm"), 2);
  // The simulator collected its own answer.
  EXPECT_EQ(Installation::FilesOf(inst().answers).size(), answers_before);
}

TEST(HandheldSimulator, GivesUpWhenNobodyAnswers) {
  InstallationOptions idle_options;
  idle_options.create_database = false;
  Installation idle(idle_options);
  const fs::path tool = fs::path(ORBA_BINARY).parent_path() / "orbapda-pda";
  const std::string output_file = (idle.root / "pda.out").string();
  const std::string command = tool.string() + " --base '" + idle.base.string() + "' --timeout 0.3 stm 1 > '" +
                              output_file + "' 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_NE(test::ReadFile(output_file).find("sem resposta"), std::string::npos) << test::ReadFile(output_file);
  EXPECT_TRUE(Installation::FilesOf(idle.requests).empty());
}

}  // namespace
}  // namespace orba::e2e
