// Comanda and card numbers on the demo establishment (walk-in customer 1, card
// 9001 of JOAO DA SILVA, both may be opened by a handheld), with the comanda
// range narrowed to 100-199.

#include "services/comanda_status.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "common/general_parameters.h"
#include "common/transaction.h"
#include "exchange/polling_state.h"
#include "orders/comanda_order.h"
#include "orders/customer.h"
#include "orders/sale_fixture.h"
#include "support/fixed_clock.h"
#include "support/recording_printer.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba {
namespace {

class ComandaStatusTest : public ::testing::Test, protected test::TestContext {
 protected:
  ComandaStatusTest() : TestContext({.demo = true}) {
    db.Exec("UPDATE COMANDA_RANGE_NUMERACAO SET NR_CMD_INI = 100, NR_CMD_FIM = 199;"
            "UPDATE consumidor SET nm_pes_cpl = 'ANA MARIA SOUZA LIMA'");
  }

  ComandaStatus Check(const std::string& number) {
    ComandaStatus status;
    CheckComanda(db.session, number, status);
    EXPECT_FALSE(db.session.InTransaction());
    return status;
  }
  // Runs the STM handler and returns the attributes of the answer's `local`.
  std::map<std::string, std::string> Stm(const std::string& mesa) {
    pugi::xml_document request;
    request.load_string(("<local mesa=\"" + mesa +
                         "\" status=\"\" mensagem=\"\" retornoOK=\"\" ambiente=\"7\" posisaoAss=\"x\" "
                         "tipoConta=\"x\" pessoas=\"\"/>")
                            .c_str());
    HandleComandaStatus(context, request);
    std::map<std::string, std::string> result;
    for (pugi::xml_attribute a : request.child("local").attributes()) result[a.name()] = a.value();
    return result;
  }
  std::string Row(const std::string& number) {
    return db.Scalar("select NR_CMD || ':' || IC_TIP_CMD || ':' || ID_PES_CLI from controle_comanda where NR_CMD = " +
                     number);
  }
  std::string Rows() { return db.Scalar("select count(*) from controle_comanda"); }

};

TEST_F(ComandaStatusTest, ComandaInsideARangeIsOpenedOnceAndAnsweredWithTheConsumersName) {
  auto answer = Stm("150");
  EXPECT_EQ(answer.at("status"), "L");
  EXPECT_EQ(answer.at("mensagem"), "");
  EXPECT_EQ(answer.at("retornoOK"), "COMANDA\\nANA MARIA SOUZA\\n ABERTA");
  EXPECT_EQ(answer.at("posisaoAss"), "");
  EXPECT_EQ(answer.at("tipoConta"), "");
  EXPECT_EQ(answer.at("pessoas"), "1");
  EXPECT_EQ(answer.at("ambiente"), "7");  // never written
  EXPECT_EQ(Row("150"), "150::1");

  // Asked again (a second handheld in the same cycle): open, nothing added.
  answer = Stm(" 150 ");
  EXPECT_EQ(answer.at("status"), "L");
  EXPECT_EQ(answer.at("retornoOK"), "");
  EXPECT_EQ(Rows(), "1");

  // The bounds of a range are inside it; a short name is shown whole.
  db.Exec("UPDATE consumidor SET nm_pes_cpl = 'ANA'");
  EXPECT_EQ(Check("100").retorno_ok, "COMANDA\\nANA\\n ABERTA");
  EXPECT_EQ(Check("199").status, "L");
}

TEST_F(ComandaStatusTest, BlockedNumbersAndNumbersOutsideEveryRangeAreRefused) {
  db.Exec("INSERT INTO COMANDA_BLOQUEADA VALUES (120, 10, '20261201', 'PERDIDA'), (130, 10, '20261201', NULL)");
  ComandaStatus status = Check("250");
  EXPECT_EQ(status.status, "N");
  EXPECT_EQ(status.message, "O número digitado não está entre o range de comandas. ");
  status = Check("120");
  EXPECT_EQ(status.status, "N");
  EXPECT_EQ(status.message, "Comanda bloqueada.\\nMotivo:\\nPERDIDA");
  EXPECT_EQ(Check("130").message, "Comanda bloqueada.\\nMotivo:\\n");
  EXPECT_EQ(Check("200").status, "N");
  EXPECT_EQ(Rows(), "0");

  EXPECT_EQ(CheckComandaNumber(db.session, 150), "");
  db.Exec("DROP TABLE COMANDA_RANGE_NUMERACAO");
  EXPECT_EQ(CheckComandaNumber(db.session, 150), "Ocorreu um erro no Carrega Comanda Aberta.");
  status = Check("150");
  EXPECT_EQ(status.status, "N");
  EXPECT_EQ(status.message, "Ocorreu um erro no Carrega Comanda Aberta.");
  EXPECT_EQ(Rows(), "0");
}

TEST_F(ComandaStatusTest, CardsAreOpenedForTheirCustomerWhateverTheRanges) {
  // 9001 lies outside every range; 150 is also a card, and blocked as a comanda.
  db.Exec("INSERT INTO pessoa (id_pes, nm_pes_cpl) VALUES (3, 'MARIA'), (4, 'PEDRO BLOQUEADO');"
          "INSERT INTO cliente (id_pes_cli, CD_EXT, id_tip_emp) VALUES (3, '150', 1), (4, '9004', 1);"
          "INSERT INTO CLIENTE_BLOQUEADO VALUES (4);"
          "INSERT INTO COMANDA_BLOQUEADA VALUES (150, 10, '20261201', 'PERDIDA')");
  ComandaStatus status = Check("9001");
  EXPECT_EQ(status.status, "L");
  EXPECT_EQ(status.message, "");
  EXPECT_EQ(status.retorno_ok, "CARTAO\\nJOAO DA SILVA\\nABERTO");
  EXPECT_EQ(Row("9001"), "9001:CRT:2");
  EXPECT_EQ(Check("150").retorno_ok, "CARTAO\\nMARIA\\nABERTO");
  EXPECT_EQ(Row("150"), "150:CRT:3");

  status = Check("9004");
  EXPECT_EQ(status.status, "N");
  EXPECT_EQ(status.message, "CLIENTE\\nBLOQUEADO.");
  EXPECT_EQ(Row("9004"), "");
}

TEST_F(ComandaStatusTest, WhatTheEstablishmentAllowsDecidesForUnknownNumbersOnly) {
  db.Exec("INSERT INTO controle_comanda VALUES (110, '', 1)");
  db.Exec("UPDATE parametro_geral SET ic_abr_comanda = 'N'");
  EXPECT_EQ(Check("150").message, "COMANDA\\nFECHADA.\\nABRIR NO CAIXA");
  EXPECT_EQ(Check("110").status, "L");
  EXPECT_EQ(Check("9001").status, "L");  // cards still open

  db.Exec("UPDATE parametro_geral SET ic_abr_comanda = 'S', ic_abr_cartao = 'N'");
  EXPECT_EQ(Check("9001").status, "L");  // open already
  db.Exec("INSERT INTO cliente (id_pes_cli, CD_EXT, id_tip_emp) VALUES (10, '9010', 1)");
  EXPECT_EQ(Check("9010").message, "CARTAO\\nFECHADO.\\nABRIR NO CAIXA");

  db.Exec("UPDATE parametro_geral SET ic_abr_comanda = NULL");
  const ComandaStatus none = Check("150");
  EXPECT_EQ(none.status, "N");
  EXPECT_EQ(none.message, "COMANDA\\nNÃO ENCONTRADA.");

  db.Exec("UPDATE parametro_geral SET ic_abr_comanda = 'S'; DELETE FROM consumidor");
  EXPECT_EQ(Check("150").message, "ERRO CONSUMIDOR\\nFINAL VERIFICAR.");
  EXPECT_EQ(Rows(), "2");
}

TEST_F(ComandaStatusTest, FinalizedOrLockedSaleOfAnOpenComandaDecides) {
  db.Exec("INSERT INTO controle_comanda VALUES (110, '', 1);"
          "INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, nm_comp_lock) VALUES (5, 'O', NULL), (6, 'O', 'CAIXA1');"
          "INSERT INTO controle_comanda_orcamento VALUES (110, 5), (110, 6)");
  ComandaStatus status = Check("110");
  EXPECT_EQ(status.status, "B");
  EXPECT_EQ(status.message, "PEDIDO\\nBLOQUEADO.     ");
  db.Exec("UPDATE venda_direta SET ic_tip_ope = 'V' WHERE nr_orc_loc = 5");
  status = Check("110");
  EXPECT_EQ(status.status, "V");
  EXPECT_EQ(status.message, "PEDIDO\\nFINALIZADO.     ");
}

TEST_F(ComandaStatusTest, NumbersThatAreNotWholePositiveNumbersAreReadFailures) {
  for (const std::string number : {"abc", "", "-150", "0", "1.5", "99999999999", "99999999999999999999999",
                                   "150 or 1=1", "150;delete from pessoa"}) {
    const auto answer = Stm(number);
    EXPECT_EQ(answer.at("status"), "X") << number;
    EXPECT_EQ(answer.at("mensagem"), "Erro na leitura") << number;
    EXPECT_EQ(answer.at("retornoOK"), "") << number;
  }
  EXPECT_EQ(Rows(), "0");
  EXPECT_EQ(db.Scalar("select count(*) from pessoa"), "3");
  EXPECT_FALSE(db.session.InTransaction());

  // A database failure answers the same.
  db.Exec("DROP TABLE controle_comanda");
  EXPECT_EQ(Stm("150").at("status"), "X");
}

TEST_F(ComandaStatusTest, NumberOpenedElsewhereMeanwhileIsTakenAsOpen) {
  // The back office inserts the number at the very moment the handheld opens it.
  if (db.OnServer()) {
    db.Exec("CREATE FUNCTION back_office() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "IF NEW.IC_TIP_CMD = '' THEN INSERT INTO controle_comanda VALUES (NEW.NR_CMD, 'CRT', 2); END IF; "
            "RETURN NEW; END $$;"
            "CREATE TRIGGER back_office BEFORE INSERT ON controle_comanda FOR EACH ROW EXECUTE FUNCTION back_office()");
  } else {
    db.Exec("CREATE TRIGGER back_office BEFORE INSERT ON controle_comanda WHEN NEW.IC_TIP_CMD = '' "
            "BEGIN INSERT INTO controle_comanda VALUES (NEW.NR_CMD, 'CRT', 2); END");
  }
  const ComandaStatus status = Check("150");
  EXPECT_EQ(status.status, "L");
  EXPECT_EQ(status.retorno_ok, "");
  EXPECT_EQ(Row("150"), "150:CRT:2");

  // Inside the caller's transaction the opening goes with it.
  db.Exec(db.OnServer() ? "DROP TRIGGER back_office ON controle_comanda" : "DROP TRIGGER back_office");
  {
    TransactionGuard transaction(db.session);
    ComandaStatus opened;
    CheckComanda(db.session, "160", opened);
    EXPECT_EQ(opened.status, "L");
    EXPECT_EQ(Row("160"), "160::1");
  }
  EXPECT_EQ(Row("160"), "");
}

TEST_F(ComandaStatusTest, StatusAndOrdersReachEveryTableThroughAKey) {
  db.Exec("INSERT INTO COMANDA_BLOQUEADA VALUES (120, 10, '20261201', 'PERDIDA');"
          "INSERT INTO CLIENTE_BLOQUEADO VALUES (2)");
  WriteConfiguration("<IMPRESSORA TP_IMPR=\"1\"/>");
  test::StatementRecorder recorder(db.session);
  for (const char* number : {"150", "120", "250", "9001", "150"}) Stm(number);
  for (int order = 0; order < 2; ++order) {
    pugi::xml_document request;
    request.load_string(
        "<pda><header datahora=\"1\"/><pedido tipo=\"P\" mesa=\"150\" operador=\"10\" mensagem=\"\">"
        "<item posicao=\"1\" produto=\"101\" preco=\"1\" qtde=\"1\"/></pedido></pda>");
    HandleComandaOrder(context, request);
    recorder.paused = true;
    db.Exec("DELETE FROM controle_pedido_pda");
    recorder.paused = false;
  }
  recorder.paused = true;
  ASSERT_EQ(db.Scalar("select count(*) from item_venda_direta"), "2");

  const std::set<std::string> whole_tables = {"consumidor", "parametro_geral", "impressora"};
  std::set<std::string> seen;
  for (std::size_t i = 0; i < recorder.statements.size(); ++i) {
    const std::string& statement = recorder.statements[i];
    if (!seen.insert(statement).second || statement.rfind("BEGIN", 0) == 0 || statement == "COMMIT") continue;
    for (const std::string& table : db.TablesReadWhole(statement, recorder.values[i])) {
      EXPECT_TRUE(whole_tables.count(table) > 0) << table << " read whole in\n" << statement;
    }
  }
}

}  // namespace
}  // namespace orba
