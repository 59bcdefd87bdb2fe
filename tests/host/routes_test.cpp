// The whole route table: every code in both service modes, in any case.

#include "host/routes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orders/comanda_order.h"
#include "orders/table_order.h"
#include "services/cim.h"
#include "services/close.h"
#include "services/comanda_status.h"
#include "services/place_lookup.h"
#include "services/position.h"
#include "services/table_status.h"
#include "services/transfer.h"
#include "support/handler_run.h"
#include "support/test_context.h"

namespace orba {
namespace {

struct Expected {
  std::string_view code;
  Handler table;    // nullptr: not answered in table mode
  Handler comanda;  // nullptr: not answered in comanda mode
};

const Expected kExpected[] = {
    {"STM", &HandleTableStatus, &HandleComandaStatus},
    {"SLA", &HandlePlaceLookup, nullptr},
    {"PEM", &HandleTableOrder, &HandleComandaOrder},
    {"CIM", &HandleCimRequest, &HandleCimRequest},
    {"TRM", &HandleTableTransfer, &HandleTableTransfer},
    {"POM", &HandleTablePosition, &HandleComandaPosition},
    {"FEM", &HandleTableClose, &HandleComandaClose},
};

std::string Lower(std::string_view code) {
  std::string lower(code);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower;
}

TEST(RoutesTest, EveryCodeInBothModesInAnyCase) {
  for (const Expected& entry : kExpected) {
    const std::string code(entry.code);
    const std::string mixed = Lower(code.substr(0, 1)) + code.substr(1);
    for (const std::string& spelling : {code, Lower(code), mixed}) {
      EXPECT_EQ(FindHandler(spelling, false), entry.table) << spelling << " in table mode";
      EXPECT_EQ(FindHandler(spelling, true), entry.comanda) << spelling << " in comanda mode";
    }
  }
}

TEST(RoutesTest, OnlyTheThreeLetterCodesAreServed) {
  for (const bool comanda : {false, true}) {
    for (const char* code : {"PEMX", "PE", "AB.", "", " PEM", "PEM ", "XYZ", "STN"}) {
      EXPECT_EQ(FindHandler(code, comanda), nullptr) << "'" << code << "' comanda " << comanda;
    }
  }
}

// Every transaction of both modes, on requests whose values are easy to spot
// in a text: none of them is ever part of a statement, they are all bound.
TEST(RoutesTest, NoStatementHoldsAValueOfTheRequest) {
  for (const bool comanda : {false, true}) {
    test::TestContext t({.demo = true, .printers = {"BAR", "COZINHA"}, .default_printer = "COZINHA"});
    t.db.Exec("UPDATE local SET nm_loc = 'Varanda Ímpar' WHERE nm_loc = '1';"
              "UPDATE local SET nm_loc = 'Jardim Sul' WHERE nm_loc = '2';"
              "UPDATE produto SET cd_pro = 'QZ101' WHERE cd_pro = '101';"
              "UPDATE produto SET cd_pro = 'QZ103' WHERE cd_pro = '103'");
    if (comanda) {
      t.parameters.ComandaMode = "S";
      t.db.Exec("UPDATE parametro_geral SET ic_tra_cmd = 'S'; INSERT INTO controle_comanda VALUES (173, '', 1)");
    }
    const std::string place = comanda ? "173" : "Varanda Ímpar";
    const std::string mesa = "mesa=\"" + place + "\"";
    const std::pair<std::string, std::string> requests[] = {
        {"STM", "<local " + mesa + " status=\"\" mensagem=\"\" ambiente=\"\" posisaoAss=\"\" tipoConta=\"\"/>"},
        {"PEM", "<pda><header datahora=\"ZX7781\"/><pedido tipo=\"P\" " + mesa +
                    " operador=\"10\" pessoas=\"3\" mensagem=\"\"><item posicao=\"3\" idlocalass=\"0\" tpconta=\"1\""
                    " produto=\"QZ101\" preco=\"47.31\" qtde=\"2\"><caract cod=\"2\"/>"
                    "<acomp cod=\"QZ103\" qtde=\"1\" preco=\"8.57\"/></item></pedido></pda>"},
        {"POM", "<pedido tipo=\"C\" " + mesa + " ic_tip_tra=\"1\" operador=\"10\" pessoas=\"\" mensagem=\"\"/>"},
        {"SLA", "<local " + mesa + " ambiente=\"1\" id_loc=\"\" mensagem=\"\" status=\"\"/>"},
        {"CIM", "<CIM><Pedido tipo=\"C\" " + mesa + " operador=\"10\"/></CIM>"},
        {"TRM", "<TRM mesaOrigem=\"" + place + "\" mesaDestino=\"Jardim Sul\" status=\"\" mensagem=\"\"/>"},
        {"FEM", "<local mesa=\"" + (comanda ? place : std::string("Jardim Sul")) +
                    "\" pessoas=\"3\" ic_tip_cnt=\"0\" status=\"\" mensagem=\"\"/>"},
    };
    for (const auto& [code, request] : requests) {
      const Handler handler = FindHandler(code, comanda);
      if (handler == nullptr) continue;
      std::vector<std::string> texts;
      t.db.session.SetStatementObserver(
          [&texts](const std::string& text, const std::vector<Value>&) { texts.push_back(text); });
      const std::string answer = test::AnswerOf(handler, t.context, request);
      t.db.session.SetStatementObserver({});
      if (code == "PEM") EXPECT_EQ(test::PedidoMessage(answer), "") << answer;
      EXPECT_EQ(texts.empty(), code == "CIM") << code << ": CIM alone reads nothing";
      for (const std::string& text : texts) {
        for (const char* value : {"VARANDA", "Varanda", "JARDIM", "Jardim", "QZ10", "ZX7781", "47.31", "8.57", "173"}) {
          EXPECT_EQ(text.find(value), std::string::npos) << code << (comanda ? " by comanda: " : ": ") << text;
        }
      }
    }
  }
}

}  // namespace
}  // namespace orba
