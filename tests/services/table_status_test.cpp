#include "services/table_status.h"

#include <gtest/gtest.h>

#include <map>

#include "support/fixed_clock.h"
#include "common/general_parameters.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba {
namespace {

using test::FixedClock;

using test::TestDatabase;

class TableStatusTest : public ::testing::Test, protected test::TestContext {
 protected:
  void SetUp() override {
    db.Exec(
        "INSERT INTO ambiente_local (id_amb, nm_amb, ic_ocu_chk_in) VALUES (1, 'SALAO', 'N');"
        "INSERT INTO ambiente_local (id_amb, nm_amb, ic_ocu_chk_in) VALUES (2, 'HOTEL', 'S');");
  }

  void AddTable(int id, const std::string& name, const std::string& state, const std::string& people = "0",
                int environment = 1, const std::string& active = "A", const std::string& pap = "N") {
    db.Exec("INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (" +
            std::to_string(id) + ", '" + name + "', " + std::to_string(environment) + ", '" + active + "', '" +
            state + "', " + people + ", '" + pap + "')");
  }
  void AddSale(int place, int sale, const std::string& type = "O", const std::string& lock = "NULL",
               const std::string& position = "1", const std::string& associated = "NULL",
               const std::string& account = "NULL") {
    db.Exec("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, nm_comp_lock) VALUES (" + std::to_string(sale) +
            ", '" + type + "', " + lock + ")");
    AddLink(place, sale, position, associated, account);
  }
  void AddLink(int place, int sale, const std::string& position, const std::string& associated,
               const std::string& account) {
    db.Exec("INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_loc_ass, id_tp_cta) VALUES (" +
            std::to_string(place) + ", " + std::to_string(sale) + ", " + position + ", " + associated + ", " +
            account + ")");
  }

  TableStatus Check(const std::string& table) {
    TableStatus status;
    CheckTableStatus(db.session, table, status);
    return status;
  }

  // Runs the STM handler on a request as the handheld sends it and returns
  // the attributes of its `local` element.
  std::map<std::string, std::string> Stm(const std::string& mesa) {
    pugi::xml_document request;
    request.load_string(("<local mesa=\"" + mesa +
                         "\" status=\"\" mensagem=\"\" ambiente=\"\" posisaoAss=\"\" tipoConta=\"\" pessoas=\"\"/>")
                            .c_str());
    HandleTableStatus(context, request);
    return Attributes(request.child("local"));
  }
  static std::map<std::string, std::string> Attributes(pugi::xml_node node) {
    std::map<std::string, std::string> result;
    for (pugi::xml_attribute a : node.attributes()) result[a.name()] = a.value();
    return result;
  }

};

TEST_F(TableStatusTest, UnknownTable) {
  const auto answer = Stm("77");
  EXPECT_EQ(answer.at("status"), "N");
  EXPECT_EQ(answer.at("mensagem"), "MESA\\nNÃO ENCONTRADA.");
  EXPECT_EQ(answer.at("ambiente"), "");
  EXPECT_EQ(answer.at("posisaoAss"), "");
  EXPECT_EQ(answer.at("tipoConta"), "");
  EXPECT_EQ(answer.at("pessoas"), "1");
  EXPECT_EQ(answer.at("mesa"), "77");
}

TEST_F(TableStatusTest, TableWhoseEnvironmentIsMissingIsNotFound) {
  AddTable(5, "5", "L", "0", 9);
  EXPECT_EQ(Check("5").status, "N");
}

TEST_F(TableStatusTest, InactiveTableExaminesNoSaleButListsItsLinks) {
  AddTable(9, "9", "E", "4", 1, "I");
  AddSale(9, 100, "V", "NULL", "2", "31", "2");
  const TableStatus status = Check("9");
  EXPECT_EQ(status.status, "I");
  EXPECT_EQ(status.message, "MESA INATIVA.");
  EXPECT_EQ(status.place_id, "");
  EXPECT_EQ(status.environment, "");
  EXPECT_EQ(status.people, 1);

  const auto answer = Stm("9");
  EXPECT_EQ(answer.at("status"), "I");
  EXPECT_EQ(answer.at("ambiente"), "");
  EXPECT_EQ(answer.at("posisaoAss"), "2,31");
  EXPECT_EQ(answer.at("tipoConta"), "2");
  EXPECT_EQ(answer.at("pessoas"), "1");
}

TEST_F(TableStatusTest, FreeTableWithAndWithoutCheckIn) {
  AddTable(1, "1", "L", "NULL", 1);
  AddTable(2, "201", "L", "0", 2);
  const auto free_table = Stm("1");
  EXPECT_EQ(free_table.at("status"), "L");
  EXPECT_EQ(free_table.at("mensagem"), "");
  EXPECT_EQ(free_table.at("ambiente"), "1");
  EXPECT_EQ(free_table.at("pessoas"), "1");
  EXPECT_EQ(free_table.at("tipoConta"), "");

  const auto room = Stm("201");
  EXPECT_EQ(room.at("status"), "L");
  EXPECT_EQ(room.at("mensagem"), "Local sem Check \\nin, favor \\nverificar com \\na recepção");
  EXPECT_EQ(room.at("ambiente"), "2");
}

TEST_F(TableStatusTest, PlaceStatesAndTheirMessages) {
  AddTable(1, "E1", "E", "3");
  AddTable(2, "P1", "P", "2");
  AddTable(3, "P2", "P", "2", 1, "A", "S");
  AddTable(4, "A1", "A");
  AddTable(5, "R1", "R");
  AddTable(6, "Z1", "Z");

  EXPECT_EQ(Check("E1").status, "E");
  EXPECT_EQ(Check("E1").message, "");
  EXPECT_EQ(Check("E1").people, 3);
  EXPECT_EQ(Check("P1").status, "P");
  EXPECT_EQ(Check("P1").message, "MESA\\nEM PROCESSO\\nDE PAGAMENTO");
  EXPECT_EQ(Check("P2").status, "E");
  EXPECT_EQ(Check("P2").message, "");
  EXPECT_EQ(Check("A1").status, "A");
  EXPECT_EQ(Check("A1").message, "MESA AGRUPADA");
  EXPECT_EQ(Check("R1").status, "R");
  EXPECT_EQ(Check("R1").message, "MESA RESERVADA.");
  EXPECT_EQ(Check("Z1").status, "");
  EXPECT_EQ(Check("Z1").message, "");
  EXPECT_EQ(Check("Z1").place_id, "6");

  // The status is the caller's: an unknown letter leaves what it held.
  TableStatus kept;
  kept.status = "Q";
  CheckTableStatus(db.session, "Z1", kept);
  EXPECT_EQ(kept.status, "Q");
}

TEST_F(TableStatusTest, FirstFinalizedOrLockedSaleInSaleOrderDecides) {
  AddTable(1, "1", "E", "2");
  AddSale(1, 20, "O", "'CAIXA1'");  // locked, but the later-numbered one
  AddSale(1, 10, "V");              // finalized, first in sale order
  EXPECT_EQ(Check("1").status, "V");
  EXPECT_EQ(Check("1").message, "PEDIDO\\nFINALIZADO.     ");

  AddTable(2, "2", "P", "2");
  AddSale(2, 30, "O", "'CAIXA2'");
  AddSale(2, 40, "V");
  EXPECT_EQ(Check("2").status, "B");
  EXPECT_EQ(Check("2").message, "PEDIDO\\nBLOQUEADO.     ");

  // Open sales with no lock (Null or empty) and links without a sale row
  // leave the place state alone.
  AddTable(3, "3", "E", "2");
  AddSale(3, 50, "O", "''");
  AddSale(3, 51, "O", "NULL");
  AddLink(3, 52, "3", "NULL", "NULL");
  EXPECT_EQ(Check("3").status, "E");
  EXPECT_EQ(Check("3").message, "");
}

TEST_F(TableStatusTest, PeopleIsAtLeastOne) {
  AddTable(1, "1", "E", "NULL");
  AddTable(2, "2", "E", "0");
  AddTable(3, "3", "E", "-2");
  AddTable(4, "4", "E", "12");
  EXPECT_EQ(Stm("1").at("pessoas"), "1");
  EXPECT_EQ(Stm("2").at("pessoas"), "1");
  EXPECT_EQ(Stm("3").at("pessoas"), "1");
  EXPECT_EQ(Stm("4").at("pessoas"), "12");
}

TEST_F(TableStatusTest, PositionsListOnlyLinksWithAnAssociatedPlaceNeitherNullNorZero) {
  AddTable(1, "1", "E", "2");
  AddSale(1, 10, "O", "NULL", "1", "12", "NULL");
  AddSale(1, 11, "O", "NULL", "3", "NULL", "2");
  AddSale(1, 12, "O", "NULL", "2", "15", "2");
  // 0 is what an order writes for a position without an associated place.
  AddSale(1, 13, "O", "NULL", "4", "0", "1");
  std::string positions;
  std::string account;
  ReadTablePositions(db.session, "1", positions, account);
  EXPECT_EQ(positions, "1,12,2,15");
  EXPECT_EQ(account, "1");  // first link's account type is Null

  AddTable(2, "2", "E", "2");
  AddSale(2, 20, "O", "NULL", "1", "NULL", "2");
  ReadTablePositions(db.session, "2", positions, account);
  EXPECT_EQ(positions, "");
  EXPECT_EQ(account, "2");

  const auto answer = Stm("1");
  EXPECT_EQ(answer.at("posisaoAss"), "1,12,2,15");
  EXPECT_EQ(answer.at("tipoConta"), "1");
}

TEST_F(TableStatusTest, TableNameIsMatchedAsEscapedUpperCaseText) {
  AddTable(1, "VIP", "E", "2");
  AddTable(2, "D´ÁVILA", "L");
  AddTable(3, "Salão Ação", "P");
  EXPECT_EQ(Stm(" vip ").at("status"), "E");
  EXPECT_EQ(Stm("d'ávila").at("status"), "L");
  // Accented letters stored in lower case are found whatever case is sent.
  EXPECT_EQ(Stm("SALÃO AÇÃO").at("status"), "P");
  EXPECT_EQ(Stm("salão ação").at("status"), "P");
  EXPECT_EQ(Stm("SALAO ACAO").at("status"), "N");

  // Quotes and SQL in the name are only ever text.
  const auto injected = Stm("1' OR '1'='1");
  EXPECT_EQ(injected.at("status"), "N");
  EXPECT_EQ(Stm("x'; DELETE FROM local; --").at("status"), "N");
  EXPECT_EQ(db.Scalar("select count(*) from local"), "3");
}

TEST_F(TableStatusTest, DatabaseFailureAnswersReadError) {
  AddTable(1, "1", "E", "2");
  AddSale(1, 10);
  db.Exec("DROP TABLE venda_direta");
  TableStatus status;
  EXPECT_THROW(CheckTableStatus(db.session, "1", status), DatabaseError);
  const auto answer = Stm("1");
  EXPECT_EQ(answer.at("status"), "X");
  EXPECT_EQ(answer.at("mensagem"), "Erro na leitura");
  // The operator learns why, with the provider's text.
  ASSERT_EQ(db.op.events.size(), 1u);
  EXPECT_NE(db.op.events[0].find("venda_direta"), std::string::npos) << db.op.events[0];

  db.Exec("DROP TABLE local_vnd");
  std::string positions;
  std::string account;
  EXPECT_THROW(ReadTablePositions(db.session, "1", positions, account), DatabaseError);
}

TEST_F(TableStatusTest, PeopleOutOfRangeIsAFailure) {
  AddTable(1, "1", "E", "40000");
  TableStatus status;
  EXPECT_THROW(CheckTableStatus(db.session, "1", status), DatabaseError);
  EXPECT_EQ(Stm("1").at("status"), "X");
}

TEST_F(TableStatusTest, NoSessionAnswersReadError) {
  db.session.CloseDatabase();
  const auto answer = Stm("1");
  EXPECT_EQ(answer.at("status"), "X");
  EXPECT_EQ(answer.at("mensagem"), "Erro na leitura");
}

TEST_F(TableStatusTest, HandlerWritesOnlyAttributesTheRequestCarries) {
  AddTable(1, "1", "E", "2");
  auto run = [&](const std::string& xml) {
    pugi::xml_document request;
    EXPECT_TRUE(request.load_string(xml.c_str()));
    HandleTableStatus(context, request);
    return request;
  };

  // Without ambiente: the answer turns into the read error.
  auto doc = run("<local mesa=\"1\" status=\"\" mensagem=\"\" posisaoAss=\"\" tipoConta=\"\" pessoas=\"\"/>");
  auto local = Attributes(doc.child("local"));
  EXPECT_EQ(local.at("status"), "X");
  EXPECT_EQ(local.at("mensagem"), "Erro na leitura");
  EXPECT_EQ(local.count("ambiente"), 0u);
  EXPECT_EQ(local.at("pessoas"), "");

  // Without pessoas: what was written before stays, status turns to X.
  doc = run("<local mesa=\"1\" status=\"\" mensagem=\"\" ambiente=\"\" posisaoAss=\"\" tipoConta=\"\"/>");
  local = Attributes(doc.child("local"));
  EXPECT_EQ(local.at("status"), "X");
  EXPECT_EQ(local.at("ambiente"), "1");
  EXPECT_EQ(local.at("tipoConta"), "");
  EXPECT_EQ(local.size(), 6u);

  // Without status: nothing can be written.
  doc = run("<local mesa=\"1\" mensagem=\"\" ambiente=\"\" pessoas=\"\"/>");
  local = Attributes(doc.child("local"));
  EXPECT_EQ(local.at("mensagem"), "");
  EXPECT_EQ(local.at("ambiente"), "");
  EXPECT_EQ(local.size(), 4u);

  // Without mesa: the read error.
  doc = run("<local status=\"\" mensagem=\"\"/>");
  EXPECT_STREQ(doc.child("local").attribute("status").value(), "X");
}

TEST_F(TableStatusTest, HandlerUsesTheFirstLocalAtAnyDepth) {
  AddTable(1, "1", "E", "5");
  pugi::xml_document request;
  ASSERT_TRUE(request.load_string(
      "<pda><dados><local mesa=\"1\" status=\"\" mensagem=\"\" ambiente=\"\" posisaoAss=\"\" tipoConta=\"\" "
      "pessoas=\"\"/></dados><local mesa=\"1\" status=\"\" pessoas=\"\"/></pda>"));
  HandleTableStatus(context, request);
  EXPECT_STREQ(request.select_node("//dados/local").node().attribute("pessoas").value(), "5");
  EXPECT_STREQ(request.child("pda").child("local").attribute("pessoas").value(), "");

  pugi::xml_document empty;
  HandleTableStatus(context, empty);
  EXPECT_FALSE(empty.first_child());

  pugi::xml_document other;
  ASSERT_TRUE(other.load_string("<mesa status=\"\"/>"));
  HandleTableStatus(context, other);
  EXPECT_STREQ(other.child("mesa").attribute("status").value(), "");
}

TEST_F(TableStatusTest, StatusChangesNothingInTheDatabase) {
  AddTable(1, "1", "P", "2");
  AddSale(1, 10, "O", "'CAIXA'", "1", "12", "2");
  const long long before = db.session.TotalChanges();
  Stm("1");
  Stm("2");
  EXPECT_EQ(db.session.TotalChanges(), before);
}

}  // namespace
}  // namespace orba
