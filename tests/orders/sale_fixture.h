#pragma once
// A database with the general parameters row, a business day and a fixed
// clock, for the sale building blocks.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixed_clock.h"
#include "common/general_parameters.h"
#include "orders/sale.h"
#include "support/test_database.h"

namespace orba::test {

class SaleFixture : public ::testing::Test {
 protected:
  SaleFixture() {
    db.Exec("INSERT INTO parametro_geral (dt_dia, id_etb_orba, id_vnd_dir) VALUES ('20240315', 1, NULL)");
    parameters.BusinessDay = "15/03/2024";
    parameters.id_etb_orba = 1;
  }

  // The required inputs of a sale, nothing else.
  static SaleInput RequiredSale(long long number) {
    SaleInput in;
    in.nr_orc_loc = number;
    in.ic_tip_ope = "O";
    in.id_tip_nf = "1";
    in.id_uti_pro = "1";
    in.nm_pes_cli = "CONSUMIDOR FINAL";
    in.id_etb_cli = "1";
    in.id_end_geo_fat = "1";
    in.id_end_geo_etg = "1";
    in.id_end_geo_cob = "1";
    return in;
  }

  // The required inputs of a line as the order handlers pass them.
  static SaleItemInput Line(long long sale, long long seq, double price, double quantity, double discount = 0) {
    SaleItemInput in;
    in.nr_orc_loc = sale;
    in.id_seq = seq;
    in.id_mat_pro = 10;
    in.id_tri = 1;
    in.pr_un_it_atd = price;
    in.qt_pro_atd = quantity;
    in.vl_dsc = discount;
    in.vl_icms = 0.0;
    in.vl_ipi = 0.0;
    in.vl_icms_rtd = 0.0;
    in.vl_dsc_icms = 0.0;
    in.vl_bas_icms = 0.0;
    in.aq_icms = 0.0;
    in.aq_ipi = 0.0;
    in.vl_pr_un_ori = price;
    in.id_prt_ite = "N";
    in.id_pes_atd = "10";
    in.id_etb_cli = "1";
    return in;
  }

  std::string Count(const std::string& table) { return db.Scalar("SELECT count(*) FROM " + table); }

  TestDatabase db;
  GeneralParameters parameters;
  FixedClock clock{LocalTime{2024, 3, 15, 14, 5, 9, 5}};
};

}  // namespace orba::test
