#pragma once
// A handler's Context on a database built from db/schema.sql, with helpers
// that add places, sales and their links.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include <pugixml.hpp>

#include "common/context.h"
#include "common/general_parameters.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "support/fixed_clock.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba::test {

class HandlerFixture : public ::testing::Test, protected test::TestContext {
 protected:
  HandlerFixture() {
    db.Exec(
        "INSERT INTO ambiente_local (id_amb, nm_amb, ic_ocu_chk_in) VALUES (1, 'SALAO', 'N');"
        "INSERT INTO ambiente_local (id_amb, nm_amb, ic_ocu_chk_in) VALUES (2, 'QUARTOS', 'N');");
  }

  void AddPlace(int id, const std::string& name, const std::string& state, const std::string& people = "0",
                int environment = 1, const std::string& active = "A") {
    db.Exec("INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (" +
            std::to_string(id) + ", '" + name + "', " + std::to_string(environment) + ", '" + active + "', '" +
            state + "', " + people + ", 'N')");
  }
  // A sale of customer establishment `customer` (NULL for none) linked to `place`.
  void AddSale(int place, int sale, const std::string& customer = "NULL", const std::string& position = "1",
               const std::string& associated = "NULL", const std::string& account = "NULL") {
    db.Exec("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, id_etb_cli) VALUES (" + std::to_string(sale) +
            ", 'O', " + customer + ");"
            "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_loc_ass, id_tp_cta) VALUES (" +
            std::to_string(place) + ", " + std::to_string(sale) + ", " + position + ", " + associated + ", " +
            account + ")");
  }
  // A customer: pessoa and establishment `id`.
  void AddCustomer(int id, const std::string& name) {
    db.Exec("INSERT INTO pessoa (id_pes, nm_pes_cpl) VALUES (" + std::to_string(id) + ", '" + name + "');" +
            "INSERT INTO estabelecimento (id_etb, id_pes) VALUES (" + std::to_string(id) + ", " +
            std::to_string(id) + ")");
  }

  static std::map<std::string, std::string> Attributes(pugi::xml_node node) {
    std::map<std::string, std::string> result;
    for (pugi::xml_attribute a : node.attributes()) result[a.name()] = a.value();
    return result;
  }
  static std::string Text(const pugi::xml_document& document) {
    std::ostringstream text;
    document.save(text, "", pugi::format_raw | pugi::format_no_declaration);
    return text.str();
  }

};

}  // namespace orba::test
