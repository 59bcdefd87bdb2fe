#include "services/transfer.h"

#include <chrono>

#include "services/handler_fixture.h"

namespace orba {
namespace {

constexpr const char* kUnknownFailure = "Erro desconhecido na transferência de locais. Tente novamente.";

class TransferTest : public test::HandlerFixture {
 protected:
  // Everything a transfer may change, in one text.
  std::string Snapshot() {
    return db.Scalar(
        "select (select group_concat(id_loc || ':' || ifnull(ic_stt_loc, '-') || ':' || ifnull(qt_loc_ocu, '-'), ' ') "
        "from (select * from local order by id_loc)) || '|' || "
        "(select group_concat(id_loc || ':' || nr_orc_loc || ':' || ifnull(nr_pos_com, '-') || ':' || "
        "ifnull(id_loc_ass, '-') || ':' || ifnull(id_tp_cta, '-'), ' ') from (select * from local_vnd order by "
        "nr_orc_loc)) || '|' || ifnull((select group_concat(id_loc || '>' || id_loc_agr, ' ') from local_agrupado), "
        "'')");
  }

  // Runs the handler on a TRM request (with a line break inside it, as the
  // handhelds send it) and returns the attributes of the answer.
  std::map<std::string, std::string> Trm(const std::string& origin, const std::string& destination) {
    pugi::xml_document request;
    const std::string xml = "<TRM mesaOrigem=\"" + origin + "\" mesaDestino=\"" + destination +
                            "\" status=\"\" mensagem=\"\">\r\n</TRM>";
    EXPECT_TRUE(request.load_string(xml.c_str(), pugi::parse_default | pugi::parse_ws_pcdata));
    HandleTableTransfer(context, request);
    return Attributes(request.child("TRM"));
  }
  // Refused with `message`, nothing changed.
  void ExpectRefused(const std::string& origin, const std::string& destination, const std::string& message) {
    const std::string before = Snapshot();
    const auto answer = Trm(origin, destination);
    EXPECT_EQ(answer.at("status"), "1") << origin << " -> " << destination;
    EXPECT_EQ(answer.at("mensagem"), message) << origin << " -> " << destination;
    EXPECT_EQ(Snapshot(), before) << origin << " -> " << destination;
    EXPECT_FALSE(db.session.InTransaction());
  }
};

TEST_F(TransferTest, EveryRefusalHasItsTextAndChangesNothing) {
  AddPlace(1, "1", "E", "2");
  AddSale(1, 10);
  AddPlace(2, "2", "L");
  AddPlace(3, "R3", "R");
  AddPlace(4, "A4", "A");
  AddPlace(5, "E5", "E", "1");
  AddPlace(6, "P6", "P", "3");
  AddPlace(7, "I7", "L", "0", 1, "I");
  AddPlace(8, "X8", "X");

  ExpectRefused("404", "2", "Local de Origem não encontrado ou inativo.");
  ExpectRefused("", "2", "Local de Origem não encontrado ou inativo.");
  for (const char* origin : {"2", "R3", "A4", "X8"}) {
    ExpectRefused(origin, "2",
                  "Local de Origem deve estar 'Em atendimento' ou 'Aguardando pagto' para ser feita a "
                  "transferência.");
  }
  ExpectRefused("1", "404", "Local de Destino não encontrado ou inativo.");
  ExpectRefused("1", "I7", "Local de Destino não encontrado ou inativo.");
  ExpectRefused("1", "", "Local de Destino não encontrado ou inativo.");
  // The destination's name goes into the text as the handheld sent it.
  ExpectRefused("1", " r3", "O local  r3 está reservado! A transferência deve ser feita para um local Livre.");
  ExpectRefused("1", "A4", "O local A4 está agrupado! A transferência deve ser feita para um local Livre.");
  ExpectRefused("1", "e5", "O local e5 está em atendimento! A transferência deve ser feita para um local Livre. ");
  ExpectRefused("1", "P6",
                "O local P6 está aguardando pagamento! A transferência deve ser feita para um local Livre. ");
}

TEST_F(TransferTest, TableOntoItselfIsRefusedAsSuch) {
  AddPlace(1, "Salão 1", "E", "2");
  AddSale(1, 10);
  ExpectRefused("Salão 1", "Salão 1", std::string(kDestinationIsOrigin));
  ExpectRefused("Salão 1", " SALÃO 1 ", std::string(kDestinationIsOrigin));
}

TEST_F(TransferTest, MovesEveryLinkAsItIsAndCopiesStateAndPeopleAsTheyAre) {
  AddPlace(1, "1", "E", "NULL");
  AddSale(1, 10, "NULL", "1", "201", "2");
  AddSale(1, 11, "NULL", "2", "NULL", "1");
  AddSale(1, 12, "NULL", "2", "202", "NULL");
  AddPlace(2, "2", "");  // neither free nor refused: takes the transfer
  AddPlace(3, "3", "E", "5");
  AddSale(3, 30);

  const auto answer = Trm("1", "2");
  EXPECT_EQ(answer.at("status"), "");
  EXPECT_EQ(answer.at("mensagem"), "");
  EXPECT_EQ(Snapshot(), "1:L:0 2:E:- 3:E:5|2:10:1:201:2 2:11:2:-:1 2:12:2:202:- 3:30:1:-:-|");

  AddPlace(4, "4", "Z");
  db.Exec("UPDATE local SET ic_stt_loc = 'P', qt_loc_ocu = 7 WHERE id_loc = 2");
  EXPECT_EQ(Trm("2", "4").at("status"), "");
  EXPECT_EQ(db.Scalar("select ic_stt_loc || qt_loc_ocu from local where id_loc = 4"), "P7");
  EXPECT_EQ(db.Scalar("select count(*) from local_vnd where id_loc = 4"), "3");
}

TEST_F(TransferTest, NamesAreMatchedAsTextOnly) {
  AddPlace(1, "D´ÁVILA", "E", "2");
  AddSale(1, 10);
  AddPlace(2, "Varanda 2", "L");
  ExpectRefused("1' OR '1'='1", "2", "Local de Origem não encontrado ou inativo.");
  ExpectRefused("d'ávila", "x'; DELETE FROM local; --", "Local de Destino não encontrado ou inativo.");
  ExpectRefused("d'ávila", "../../etc/passwd", "Local de Destino não encontrado ou inativo.");
  ExpectRefused("d'ávila", "%", "Local de Destino não encontrado ou inativo.");
  // A quote in a destination that is refused comes back as it was sent.
  AddPlace(3, "O´R", "R");
  ExpectRefused("d'ávila", "o'r", "O local o'r está reservado! A transferência deve ser feita para um local Livre.");

  EXPECT_EQ(Trm("d'ávila", "VARANDA 2").at("status"), "");
  EXPECT_EQ(db.Scalar("select id_loc from local_vnd"), "2");
}

TEST_F(TransferTest, RequestShapes) {
  AddPlace(1, "1", "E", "2");
  AddSale(1, 10);
  AddPlace(2, "2", "L");
  const std::string before = Snapshot();
  auto run = [&](const std::string& xml) {
    pugi::xml_document request;
    EXPECT_TRUE(request.load_string(xml.c_str(), pugi::parse_default | pugi::parse_ws_pcdata)) << xml;
    HandleTableTransfer(context, request);
    return request;
  };

  // Without content the names are not read.
  auto doc = run("<TRM mesaOrigem=\"1\" mesaDestino=\"2\" status=\"\" mensagem=\"\"/>");
  EXPECT_EQ(Attributes(doc.child("TRM")).at("mensagem"), "Local de Origem não encontrado ou inativo.");
  EXPECT_EQ(Attributes(doc.child("TRM")).at("status"), "1");

  // A name missing from a request with content is a failure.
  doc = run("<TRM mesaOrigem=\"1\" status=\"\" mensagem=\"\"><x/></TRM>");
  EXPECT_EQ(Attributes(doc.child("TRM")).at("mensagem"), kUnknownFailure);
  ASSERT_EQ(db.op.events.size(), 1u);
  EXPECT_NE(db.op.events[0].find("mesaDestino"), std::string::npos) << db.op.events[0];

  // Without status the refusal could not be told: nothing is done.
  doc = run("<TRM mesaOrigem=\"1\" mesaDestino=\"2\" mensagem=\"\"><x/></TRM>");
  EXPECT_EQ(Attributes(doc.child("TRM")).at("mensagem"), kUnknownFailure);
  EXPECT_EQ(Attributes(doc.child("TRM")).count("status"), 0u);
  EXPECT_EQ(Snapshot(), before);

  // No TRM element: the document goes back as it came.
  doc = run("<pedido mesa=\"1\" status=\"\"/>");
  EXPECT_EQ(Text(doc), "<pedido mesa=\"1\" status=\"\"/>");
  EXPECT_EQ(Snapshot(), before);

  // Success keeps status and mensagem as the handheld sent them.
  doc = run("<TRM mesaOrigem=\"1\" mesaDestino=\"2\" status=\"0\" mensagem=\"ok\">x</TRM>");
  EXPECT_EQ(Attributes(doc.child("TRM")).at("status"), "0");
  EXPECT_EQ(Attributes(doc.child("TRM")).at("mensagem"), "ok");
  EXPECT_EQ(db.Scalar("select id_loc from local_vnd"), "2");
}

TEST_F(TransferTest, FailureHalfwayUndoesEverything) {
  AddPlace(1, "1", "E", "2");
  AddSale(1, 10);
  AddPlace(2, "2", "L");
  AddPlace(3, "3", "A");
  db.Exec("INSERT INTO local_agrupado (id_loc, id_loc_agr) VALUES (1, 3)");
  // A link of the same sale left at the destination makes the move of the
  // links fail, after the grouped table was freed and ungrouped.
  db.Exec("INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com) VALUES (2, 10, 1)");
  ExpectRefused("1", "2", kUnknownFailure);
  ASSERT_EQ(db.op.events.size(), 1u);
  EXPECT_NE(db.op.events[0].find("transferência"), std::string::npos) << db.op.events[0];

  db.session.CloseDatabase();
  EXPECT_EQ(Trm("1", "2").at("mensagem"), kUnknownFailure);
}

// The back office's write to the destination between the checks and the move
// waits (here it gives up). Sent again once done, the transfer is done.
TEST_F(TransferTest, DestinationIsHeldFromItsCheckToTheMoveAndAResendIsDone) {
  AddPlace(1, "1", "E", "2");
  AddSale(1, 10);
  AddPlace(2, "2", "L");
  AddPlace(3, "3", "L");
  test::RecordingOperator back_office_op;
  DatabaseSession back_office(back_office_op);
  ASSERT_TRUE(db.OpenAnother(back_office));
  back_office.SetLockWait(std::chrono::milliseconds(50));
  int busy = 0;
  db.session.SetStatementObserver([&](const std::string& statement, const std::vector<Value>&) {
    if (statement.find("update local_vnd") == std::string::npos) return;
    try {
      back_office.ExecuteSql("update local set ic_stt_loc = 'E', qt_loc_ocu = 9 where id_loc = 2");
    } catch (const DatabaseError& e) {
      busy += e.Busy();
    }
  });
  EXPECT_EQ(Trm("1", "2").at("status"), "");
  db.session.SetStatementObserver({});
  EXPECT_EQ(busy, 1);
  EXPECT_EQ(Snapshot(), "1:L:0 2:E:2 3:L:0|2:10:1:-:-|");
  const auto again = Trm("1", "2");
  EXPECT_EQ(again.at("status") + again.at("mensagem"), "");
  ExpectRefused("1", "3", std::string(kOriginNotInService));
}

}  // namespace
}  // namespace orba
