#pragma once
// A database, an ORBA.INI and in-memory printers for the printing routines,
// with helpers that insert only the rows a case needs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixed_clock.h"
#include "common/context.h"
#include "common/general_parameters.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "support/recording_printer.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba::test {

class PrintingFixture : public ::testing::Test, protected TestContext {
 protected:
  PrintingFixture()
      : TestContext({.now = {2024, 3, 15, 12, 30, 0, 5},
                     .printers = {"BAR", "CAIXA", "COZINHA", "Mecaf IT402T Pic"},
                     .default_printer = "CAIXA"}) {
    parameters.DecimalSeparator = ',';
    db.Exec("INSERT INTO parametro_geral (dt_dia, id_emp_orba, nm_emp, sg_fil, tx_srv, ic_imp_orc) "
            "VALUES ('20240315', 1, 'BAR DO ZE', 'CENTRO', 0, '')");
    db.Exec("INSERT INTO usuario (id_pes_usu, nm_pes_cpl) VALUES (10, 'JOAO GARCOM')");
  }

  void Sale(long long number, const std::string& time = "12:30:00", const std::string& type = "O",
            const std::string& extra_columns = "", const std::string& extra_values = "") {
    db.Exec("INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, dt_vnd_dir, hr_vnd_ini, nm_pes_cli, "
            "id_pes_atd, id_etb_cli" + extra_columns + ") VALUES (" + std::to_string(number) + ", '" + type +
            "', '20240315', '" + time + "', 'CONSUMIDOR FINAL', 10, 1" + extra_values + ")");
  }
  void Product(long long id, const std::string& code, const std::string& description) {
    db.Exec("INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed) VALUES (" + std::to_string(id) +
            ", '" + code + "', '" + description + "', 'UN')");
  }
  // A line; `parent` 0 makes a main item.
  void Item(long long sale, long long seq, long long product, double quantity, double price = 10,
            long long parent = 0, const std::string& printed = "N", const std::string& special = "") {
    db.Exec("INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, qt_pro_atd, pr_un_it_atd, "
            "vl_dsc, dc_pro_epc, id_prt_ite, id_seq_pro_prn) VALUES (" +
            std::to_string(sale) + ", " + std::to_string(seq) + ", " + std::to_string(product) + ", " +
            std::to_string(quantity) + ", " + std::to_string(price) + ", 0, " +
            (special.empty() ? std::string("NULL") : "'" + special + "'") + ", '" + printed + "', " +
            (parent == 0 ? std::string("NULL") : std::to_string(parent)) + ")");
  }
  void Option(long long sale, long long seq, long long option) {
    db.Exec("INSERT INTO ivd_caracteristica_produto (nr_orc_loc, id_seq, id_car_pro) VALUES (" +
            std::to_string(sale) + ", " + std::to_string(seq) + ", " + std::to_string(option) + ")");
  }
  void OptionText(long long option, const std::string& text) {
    db.Exec("INSERT INTO caracteristica_produto (id_car_pro, dc_car_pro) VALUES (" + std::to_string(option) +
            ", '" + text + "')");
  }
  // A production printer; an empty name stores NULL.
  void Printer(long long id, const std::string& device) {
    db.Exec("INSERT INTO impressora (id_imp, nm_end_imp) VALUES (" + std::to_string(id) + ", " +
            (device.empty() ? std::string("NULL") : "'" + device + "'") + ")");
  }
  void Link(long long printer, long long product) {
    db.Exec("INSERT INTO impressora_produto (id_imp, id_mat_pro) VALUES (" + std::to_string(printer) + ", " +
            std::to_string(product) + ")");
  }
  void Place(long long id, const std::string& name, long long people = 0) {
    db.Exec("INSERT INTO local (id_loc, nm_loc, ic_stt_loc, qt_loc_ocu) VALUES (" + std::to_string(id) +
            ", '" + name + "', 'E', " + std::to_string(people) + ")");
  }
  void PlaceSale(long long place, long long sale, long long position, const std::string& associated = "NULL",
                 const std::string& account_type = "NULL") {
    db.Exec("INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_loc_ass, id_tp_cta) VALUES (" +
            std::to_string(place) + ", " + std::to_string(sale) + ", " + std::to_string(position) + ", " +
            associated + ", " + account_type + ")");
  }
  std::string PrintedFlag(long long sale, long long seq) {
    return db.Scalar("SELECT id_prt_ite FROM item_venda_direta WHERE nr_orc_loc = " + std::to_string(sale) +
                     " AND id_seq = " + std::to_string(seq));
  }
  std::string UnprintedCount() {
    return db.Scalar("SELECT count(*) FROM item_venda_direta WHERE id_prt_ite = 'N'");
  }

};

// The lines under `heading` (after the separator that follows it) up to the
// next separator.
inline std::vector<std::string> Section(const std::vector<std::string>& lines, const std::string& heading) {
  std::vector<std::string> section;
  std::size_t i = 0;
  while (i < lines.size() && lines[i] != heading) ++i;
  for (i += 2; i < lines.size() && lines[i] != "====================================="; ++i) {
    section.push_back(lines[i]);
  }
  return section;
}

inline std::string Blanks(std::size_t n) { return std::string(n, ' '); }

}  // namespace orba::test
