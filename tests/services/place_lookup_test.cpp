#include "services/place_lookup.h"


#include "services/handler_fixture.h"

namespace orba {
namespace {

class PlaceLookupTest : public test::HandlerFixture {
 protected:
  PlaceLookupTest() {
    AddCustomer(2, "JOAO DA SILVA");
    AddCustomer(3, "MARIA SOUZA");
  }

  // Runs the handler on an SLA request as the handheld sends it.
  std::map<std::string, std::string> Sla(const std::string& mesa, const std::string& ambiente) {
    pugi::xml_document request;
    const std::string xml = "<local mesa=\"" + mesa + "\" ambiente=\"" + ambiente +
                            "\" id_loc=\"\" nm_loc=\"\" mensagem=\"\" status=\"\"/>";
    EXPECT_TRUE(request.load_string(xml.c_str()));
    HandlePlaceLookup(context, request);
    return Attributes(request.child("local"));
  }

  // Statements run on the session from now on.
  int* CountStatements() {
    db.session.SetStatementObserver([this](const std::string&, const std::vector<Value>&) { ++statements_; });
    return &statements_;
  }

 private:
  int statements_ = 0;
};

TEST_F(PlaceLookupTest, FirstSaleOfThePlaceNamesTheCustomer) {
  AddPlace(7, "Suíte 7", "E", "2", 2);
  AddSale(7, 71, "3");
  AddSale(7, 70, "2");
  const auto answer = Sla("SUÍTE 7", "2");
  EXPECT_EQ(answer.at("id_loc"), "7");
  EXPECT_EQ(answer.at("nm_loc"), "Suíte 7");
  EXPECT_EQ(answer.at("mensagem"), "JOAO DA SILVA");
  EXPECT_EQ(answer.at("status"), "");
  EXPECT_EQ(answer.at("mesa"), "SUÍTE 7");

  const PlaceLookup found = LookUpPlace(db.session, " suíte 7", 2);
  EXPECT_EQ(found.place_id, "7");
  EXPECT_EQ(found.message, "JOAO DA SILVA");
}

TEST_F(PlaceLookupTest, PlaceWithoutACustomerOnItsSaleIsNotFound) {
  AddPlace(8, "8", "E", "2");
  AddSale(8, 80);  // no customer establishment
  AddPlace(9, "9", "E", "2");
  db.Exec("INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com) VALUES (9, 90, 1)");  // no sale row
  for (const char* mesa : {"8", "9"}) {
    const auto answer = Sla(mesa, "1");
    EXPECT_EQ(answer.at("id_loc"), "") << mesa;
    EXPECT_EQ(answer.at("nm_loc"), "") << mesa;
    EXPECT_EQ(answer.at("mensagem"), "LOCAL\\nNÃO ENCONTRADA.\\n OU NÃO OCUPADO") << mesa;
  }
}

TEST_F(PlaceLookupTest, EnvironmentMustBeAWholeNumberBeforeAnyStatementRuns) {
  AddPlace(1, "1", "E", "2");
  AddSale(1, 10, "2");
  int* statements = CountStatements();
  for (const char* ambiente : {"", "abc", "1 OR 1=1", "1; DELETE FROM local", "1.5", "0x1", "99999999999999999999"}) {
    const auto answer = Sla("1", ambiente);
    EXPECT_EQ(answer.at("status"), "X") << ambiente;
    EXPECT_EQ(answer.at("mensagem"), "Erro na leitura") << ambiente;
    EXPECT_EQ(answer.at("id_loc"), "") << ambiente;
  }
  EXPECT_EQ(*statements, 0);
  EXPECT_EQ(Sla("1", " 1 ").at("mensagem"), "JOAO DA SILVA");
  EXPECT_EQ(*statements, 1);
}

TEST_F(PlaceLookupTest, QuotesAndSqlInTheNameAreOnlyText) {
  AddPlace(1, "O´BAR", "E", "2");
  AddSale(1, 10, "3");
  EXPECT_EQ(Sla("o'bar", "1").at("mensagem"), "MARIA SOUZA");
  EXPECT_EQ(Sla("x' OR '1'='1", "1").at("id_loc"), "");
  EXPECT_EQ(Sla("x'; DELETE FROM pessoa; --", "1").at("mensagem"), "LOCAL\\nNÃO ENCONTRADA.\\n OU NÃO OCUPADO");
  EXPECT_EQ(db.Scalar("select count(*) from pessoa"), "2");
}

TEST_F(PlaceLookupTest, FailuresAnswerReadErrorAndNothingIsEverWritten) {
  AddPlace(1, "1", "E", "2");
  AddSale(1, 10, "2");
  const long long before = db.session.TotalChanges();

  // An answer attribute the request lacks.
  pugi::xml_document request;
  ASSERT_TRUE(request.load_string("<local mesa=\"1\" ambiente=\"1\" id_loc=\"\" mensagem=\"\" status=\"\"/>"));
  HandlePlaceLookup(context, request);
  auto answer = Attributes(request.child("local"));
  EXPECT_EQ(answer.at("status"), "X");
  EXPECT_EQ(answer.at("mensagem"), "Erro na leitura");
  EXPECT_EQ(answer.count("nm_loc"), 0u);

  // No local element: nothing to answer into.
  pugi::xml_document other;
  ASSERT_TRUE(other.load_string("<TRM mesa=\"1\" ambiente=\"1\" status=\"\"/>"));
  HandlePlaceLookup(context, other);
  EXPECT_EQ(Text(other), "<TRM mesa=\"1\" ambiente=\"1\" status=\"\"/>");
  EXPECT_EQ(db.session.TotalChanges(), before);

  db.Exec("DROP TABLE pessoa");
  EXPECT_THROW(LookUpPlace(db.session, "1", 1), DatabaseError);
  answer = Sla("1", "1");
  EXPECT_EQ(answer.at("status"), "X");
  EXPECT_EQ(answer.at("mensagem"), "Erro na leitura");
  EXPECT_EQ(answer.at("id_loc"), "");
}

}  // namespace
}  // namespace orba
