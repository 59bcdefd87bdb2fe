// The whole route table: every code in both service modes, in any case.

#include "host/routes.h"

#include <gtest/gtest.h>

#include <string>

#include "orders/comanda_order.h"
#include "orders/table_order.h"
#include "services/cim.h"
#include "services/close.h"
#include "services/comanda_status.h"
#include "services/place_lookup.h"
#include "services/position.h"
#include "services/table_status.h"
#include "services/transfer.h"

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

}  // namespace
}  // namespace orba
