// TRM, SLA and CIM through the real service, in table mode and in comanda
// mode: requests dropped into xml/Enviar, answers from xml/Receber, and the
// database looked at before and after.

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <sstream>

#include <pugixml.hpp>

#include "e2e_harness.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
constexpr const char* kUnknownFailure = "Erro desconhecido na transferência de locais. Tente novamente.";

std::string TrmRequest(const std::string& origin, const std::string& destination) {
  return std::string(kDeclaration) + "<TRM mesaOrigem=\"" + origin + "\" mesaDestino=\"" + destination +
         "\" status=\"\" mensagem=\"\">\n</TRM>";
}
std::string SlaRequest(const std::string& mesa, const std::string& ambiente) {
  return std::string(kDeclaration) + "<local mesa=\"" + mesa + "\" ambiente=\"" + ambiente +
         "\" id_loc=\"\" nm_loc=\"\" mensagem=\"\" status=\"\"/>";
}
std::string CimRequest(const std::string& mesa) {
  return std::string(kDeclaration) + "<CIM><Pedido tipo=\"C\" mesa=\"" + mesa + "\" operador=\"10\"/></CIM>";
}
std::string PemRequest(const std::string& mesa, const std::string& stamp) {
  return std::string(kDeclaration) + "<pedido tipo=\"P\" mesa=\"" + mesa +
         "\" operador=\"10\" pessoas=\"2\" mensagem=\"\"><header datahora=\"" + stamp +
         "\"/><item posicao=\"1\" idlocalass=\"0\" tpconta=\"1\" produto=\"201\" preco=\"9\" qtde=\"1\"/></pedido>";
}

std::map<std::string, std::string> TrmAttributes(const std::string& answer) {
  pugi::xml_document document;
  std::map<std::string, std::string> result;
  if (!document.load_buffer(answer.data(), answer.size())) return result;
  for (pugi::xml_attribute a : document.child("TRM").attributes()) result[a.name()] = a.value();
  return result;
}

// One installation and one running service per suite.
class ServiceFixture : public SharedService<ServiceFixture> {
 protected:
  static void StartService(const std::string& sql) {
    InstallationOptions options;
    options.sql = sql;
    StartShared(options);
  }

  static void AddPlace(int id, const std::string& name, const std::string& state, int people, int environment = 1,
                       const std::string& active = "A") {
    installation_->Exec(
        "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (" +
        std::to_string(id) + ", '" + name + "', " + std::to_string(environment) + ", '" + active + "', '" + state +
        "', " + std::to_string(people) + ", 'N')");
  }
  static void AddSale(int place, int sale, int position, const std::string& associated = "NULL",
                      const std::string& account = "1", int customer = 1) {
    installation_->Exec("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, id_etb_cli) VALUES (" +
                        std::to_string(sale) + ", 'O', " + std::to_string(customer) + ");" +
                        "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_loc_ass, id_tp_cta) VALUES (" +
                        std::to_string(place) + ", " + std::to_string(sale) + ", " + std::to_string(position) +
                        ", " + associated + ", " + account + ")");
  }

  // Drops the request under a fresh name of its code and returns the answer ("" when none came).
  std::string Send(const std::string& code, const std::string& request) {
    const std::string name = code + std::to_string(++sent_) + ".Xml";
    inst().DropRequest(name, request);
    const auto answer = inst().WaitForAnswer(name);
    EXPECT_TRUE(answer.has_value()) << name << " not answered\n" << service_->Stderr();
    return answer.value_or("");
  }

  // Every row of every table: equal before and after means nothing changed.
  std::string Dump() {
    std::ostringstream dump;
    for (const std::string& table : inst().Tables()) {
      dump << table << ":";
      // In a stable order: a server may keep rows where it likes.
      auto rows = inst().Rows("select * from " + table);
      std::sort(rows.begin(), rows.end());
      for (const auto& row : rows) {
        for (const std::string& field : row) dump << field << ",";
        dump << ";";
      }
      dump << "\n";
    }
    return dump.str();
  }
  std::string Links(int place) {
    return inst().Scalar(
        "select group_concat(nr_orc_loc || '@' || ifnull(nr_pos_com, '-') || '/' || ifnull(id_loc_ass, '-') || "
        "'/' || ifnull(id_tp_cta, '-'), ' ') from (select * from local_vnd where id_loc = " +
        std::to_string(place) + " order by nr_orc_loc)");
  }
  std::string State(int place) {
    return inst().Scalar("select ic_stt_loc || qt_loc_ocu from local where id_loc = " + std::to_string(place));
  }

  static int sent_;
};

int ServiceFixture::sent_ = 0;

// ------------------------------------------------------------ table mode

class TableModeEndToEnd : public ServiceFixture {
 protected:
  static void SetUpTestSuite() {
    StartService(
        "INSERT INTO pessoa (id_pes, nm_pes_cpl) VALUES (3, 'MARIA SOUZA');"
        "INSERT INTO estabelecimento (id_etb, id_pes) VALUES (3, 3);"
        "INSERT INTO ambiente_local (id_amb, nm_amb, ic_ocu_chk_in) VALUES (5, 'QUARTOS', 'N');");
  }
};

TEST_F(TableModeEndToEnd, TransferRefusalsChangeNothing) {
  AddPlace(300, "300", "E", 2);
  AddSale(300, 3000, 1);
  AddPlace(312, "12", "R", 0);
  const std::string before = Dump();

  auto free_origin = TrmAttributes(Send("TRM", TrmRequest("1", "2")));
  EXPECT_EQ(free_origin["status"], "1");
  EXPECT_EQ(free_origin["mensagem"],
            "Local de Origem deve estar 'Em atendimento' ou 'Aguardando pagto' para ser feita a transferência.");

  auto reserved = TrmAttributes(Send("TRM", TrmRequest("300", "12")));
  EXPECT_EQ(reserved["status"], "1");
  EXPECT_EQ(reserved["mensagem"], "O local 12 está reservado! A transferência deve ser feita para um local Livre.");

  auto inactive = TrmAttributes(Send("TRM", TrmRequest("99", "2")));
  EXPECT_EQ(inactive["status"], "1");
  EXPECT_EQ(inactive["mensagem"], "Local de Origem não encontrado ou inativo.");

  EXPECT_EQ(Dump(), before);
}

TEST_F(TableModeEndToEnd, OriginAwaitingPaymentWithFourPeopleMovesToAFreeTable) {
  AddPlace(320, "320", "P", 4);
  AddSale(320, 3201, 1, "501", "2");
  AddSale(320, 3202, 2, "NULL", "1");
  AddSale(320, 3203, 3, "0", "NULL");
  AddPlace(321, "321", "L", 0);
  const std::string request = TrmRequest("320", "321");
  const std::string answer = Send("TRM", request);
  EXPECT_EQ(answer, request);  // success: the request goes back as it came
  EXPECT_EQ(State(321), "P4");
  EXPECT_EQ(State(320), "L0");
  EXPECT_EQ(Links(320), "");
  EXPECT_EQ(Links(321), "3201@1/501/2 3202@2/-/1 3203@3/0/-");
}

TEST_F(TableModeEndToEnd, GroupedTablesOfTheOriginAreFreedAndKeepTheirOwnSales) {
  AddPlace(330, "330", "E", 6);
  AddSale(330, 3301, 1);
  AddPlace(331, "331", "A", 2);
  AddSale(331, 3311, 1);
  AddPlace(332, "332", "A", 2);
  AddPlace(333, "333", "L", 0);
  inst().Exec("INSERT INTO local_agrupado (id_loc, id_loc_agr) VALUES (330, 331), (330, 332)");
  EXPECT_EQ(TrmAttributes(Send("TRM", TrmRequest("330", "333")))["status"], "");
  EXPECT_EQ(State(333), "E6");
  EXPECT_EQ(State(330), "L0");
  EXPECT_EQ(State(331), "L0");
  EXPECT_EQ(State(332), "L0");
  EXPECT_EQ(inst().Scalar("select count(*) from local_agrupado where id_loc = 330"), "0");
  EXPECT_EQ(Links(333), "3301@1/-/1");
  EXPECT_EQ(Links(331), "3311@1/-/1");
}

TEST_F(TableModeEndToEnd, TransferFailingHalfwayChangesNothing) {
  AddPlace(340, "340", "E", 3);
  AddSale(340, 3401, 1);
  AddPlace(341, "341", "A", 1);
  AddPlace(342, "342", "L", 0);
  inst().Exec("INSERT INTO local_agrupado (id_loc, id_loc_agr) VALUES (340, 341)");
  if (inst().OnServer()) {
    inst().Exec(
        "CREATE FUNCTION origin_stays() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF old.id_loc = 340 AND new.ic_stt_loc = 'L' THEN RAISE EXCEPTION 'origem presa'; END IF; "
        "RETURN new; END $$;"
        "CREATE TRIGGER origin_stays BEFORE UPDATE OF ic_stt_loc ON local FOR EACH ROW EXECUTE FUNCTION origin_stays()");
  } else {
    inst().Exec(
        "CREATE TRIGGER origin_stays BEFORE UPDATE OF ic_stt_loc ON local "
        "WHEN old.id_loc = 340 AND new.ic_stt_loc = 'L' BEGIN SELECT RAISE(ABORT, 'origem presa'); END;");
  }
  const std::string before = Dump();
  const auto answer = TrmAttributes(Send("TRM", TrmRequest("340", "342")));
  EXPECT_EQ(answer.at("status"), "1");
  EXPECT_EQ(answer.at("mensagem"), kUnknownFailure);
  EXPECT_EQ(Dump(), before);
  EXPECT_NE(service_->Stderr().find("origem presa"), std::string::npos) << service_->Stderr();
  inst().Exec(inst().OnServer() ? "DROP TRIGGER origin_stays ON local" : "DROP TRIGGER origin_stays");
}

TEST_F(TableModeEndToEnd, ResentOrderOfTheOriginAfterTheTransferIsNotAppliedAgain) {
  AddPlace(350, "350", "L", 0);
  AddPlace(351, "351", "L", 0);
  const std::string order = PemRequest("350", "20261208203000");
  Send("PEM", order);
  ASSERT_EQ(State(350), "E2");
  ASSERT_EQ(TrmAttributes(Send("TRM", TrmRequest("350", "351")))["status"], "");
  ASSERT_EQ(State(350), "L0");

  const std::string before = Dump();
  const std::string answer = Send("PEM", order);
  pugi::xml_document document;
  ASSERT_TRUE(document.load_buffer(answer.data(), answer.size()));
  EXPECT_FALSE(document.child("pedido").child("item")) << "a resend is answered as stored";
  EXPECT_EQ(Dump(), before);
}

TEST_F(TableModeEndToEnd, PlaceLookup) {
  AddPlace(360, "Quarto 12", "E", 1, 5);
  AddSale(360, 3601, 1, "NULL", "1", 3);
  AddPlace(361, "Quarto 13", "L", 0, 5);
  AddPlace(362, "Quarto 14", "E", 1, 1);
  AddSale(362, 3621, 1, "NULL", "1", 2);

  auto attributes = [](const std::string& answer) { return LocalAttributes(answer); };
  const auto occupied = attributes(Send("SLA", SlaRequest("QUARTO 12", "5")));
  EXPECT_EQ(occupied.at("id_loc"), "360");
  EXPECT_EQ(occupied.at("nm_loc"), "Quarto 12");
  EXPECT_EQ(occupied.at("mensagem"), "MARIA SOUZA");
  EXPECT_EQ(occupied.at("status"), "");

  for (const char* mesa : {"Quarto 13", "Quarto 14"}) {
    const auto missing = attributes(Send("SLA", SlaRequest(mesa, "5")));
    EXPECT_EQ(missing.at("id_loc"), "") << mesa;
    EXPECT_EQ(missing.at("nm_loc"), "") << mesa;
    EXPECT_EQ(missing.at("mensagem"), "LOCAL\\nNÃO ENCONTRADA.\\n OU NÃO OCUPADO") << mesa;
  }
}

TEST_F(TableModeEndToEnd, CimIsAnsweredUnchangedAndChangesNothing) {
  AddPlace(370, "370", "E", 2);
  AddSale(370, 3701, 1);
  const std::string before = Dump();
  const std::string request = CimRequest("370");
  EXPECT_EQ(Send("CIM", request), request);
  const std::string without_pedido = std::string(kDeclaration) + "<CIM tipo=\"C\"/>";
  EXPECT_EQ(Send("cim", without_pedido), without_pedido);
  EXPECT_EQ(Dump(), before);
}

TEST_F(TableModeEndToEnd, HandheldSimulatorTransfersLooksUpAndSendsCim) {
  AddPlace(380, "380", "E", 2);
  AddSale(380, 3801, 1, "NULL", "1", 2);
  AddPlace(381, "381", "L", 0);
  const fs::path tool = fs::path(ORBA_BINARY).parent_path() / "orbapda-pda";
  auto run = [&](const std::string& arguments) {
    const std::string output_file = (inst().root / "pda.out").string();
    const std::string command = tool.string() + " --system-dir '" + inst().system_dir.string() +
                                "' --timeout 5 --xml " + arguments + " > '" + output_file + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << arguments;
    return test::ReadFile(output_file);
  };
  const std::string transfer = run("trm 380 381");
  EXPECT_NE(transfer.find("<TRM mesaOrigem=\"380\" mesaDestino=\"381\" status=\"\" mensagem=\"\">"),
            std::string::npos)
      << transfer;
  EXPECT_EQ(Links(381), "3801@1/-/1");
  const std::string lookup = run("sla 381 1");
  EXPECT_NE(lookup.find("mensagem=\"JOAO DA SILVA\""), std::string::npos) << lookup;
  const std::string cim = run("cim C 381 10");
  EXPECT_NE(cim.find("<Pedido tipo=\"C\" mesa=\"381\" operador=\"10\""), std::string::npos) << cim;
}

// ------------------------------------------------------------ comanda mode

class ComandaModeEndToEnd : public ServiceFixture {
 protected:
  static void SetUpTestSuite() { StartService("UPDATE parametro_geral SET ic_tra_cmd = 'S';"); }
};

TEST_F(ComandaModeEndToEnd, CimAnsweredUnchangedSlaNotAnsweredTransferOnTables) {
  AddPlace(400, "400", "E", 2);
  AddSale(400, 4001, 1);
  const std::string before = Dump();
  const std::string request = CimRequest("400");
  EXPECT_EQ(Send("CIM", request), request);

  inst().DropRequest("SLA400.Xml", SlaRequest("400", "1"));
  ASSERT_TRUE(inst().WaitForPath(inst().requests / "SLA400.Tmp"));
  EXPECT_EQ(Dump(), before);

  EXPECT_EQ(TrmAttributes(Send("TRM", TrmRequest("400", "1")))["status"], "");
  EXPECT_EQ(State(1), "E2");
  EXPECT_EQ(Links(1), "4001@1/-/1");
  EXPECT_FALSE(fs::exists(inst().answers / "SLA400.Xml"));
}

}  // namespace
}  // namespace orba::e2e
