#include "orders/package_rules.h"

#include <gtest/gtest.h>

#include "support/fixed_clock.h"
#include "common/database.h"
#include "common/general_parameters.h"
#include "support/test_database.h"

namespace orba::test {
namespace {

// Room 101 (hotel environment 5) has a stay from 10/03 to 20/03/2024 with the
// breakfast package service 900 sold on its sale 1. The breakfast package 50
// covers product 20 ("CAFE") from 06:00 to 10:00 and from 18:00 to 20:00, on
// weekdays only. Orders are taken at restaurant table 1 (environment 1)
// for the room.
class PackageTest : public ::testing::Test {
 protected:
  static constexpr int kFriday = 5;
  static constexpr int kSaturday = 6;

  PackageTest() {
    parameters.BusinessDay = "15/03/2024";
    db.Exec(
        "INSERT INTO ambiente_local (id_amb, nm_amb, id_amb_ass) VALUES (1, 'RESTAURANTE', NULL),"
        " (5, 'HOTEL', NULL), (6, 'APARTAMENTOS', 5);"
        "INSERT INTO local (id_loc, nm_loc, id_amb, qt_loc_ocu) VALUES (1, '1', 1, 0), (101, '101', 5, 2);"
        "INSERT INTO produto (id_mat_pro, cd_pro) VALUES (20, 'CAFE'), (21, 'SUCO'), (900, 'PACOTE');"
        "INSERT INTO local_reservado VALUES (101, '202403101400', '202403201200');"
        "INSERT INTO local_reservado_hospede_prod VALUES (101, '202403101400', 900, 'S');"
        "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com) VALUES (101, 1, 1);"
        "INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, qt_pro_atd) VALUES (1, 1, 900, 1);"
        "INSERT INTO pacote VALUES (50, 900, 'N', 'S', 'S', 'S', 'S', 'S', 'N', 600, 1000, 1800, 2000, 'PF', 1);"
        "INSERT INTO pacote_produto VALUES (50, 20);");
  }

  bool Covered(const char* code = "CAFE", std::int32_t idlocalass = 101, std::int32_t id_loc = 1,
               std::int32_t id_amb = 1) {
    return CheckPackageCoverage(db.session, parameters, clock, idlocalass, id_loc, id_amb, code);
  }

  // A package line already consumed at table 1 for the room.
  void Consume(int sale, const char* day, const char* time, double quantity = 1) {
    const std::string n = std::to_string(sale);
    db.Exec("INSERT INTO local_vnd (id_loc, nr_orc_loc, id_loc_ass) VALUES (1, " + n + ", 101) ON CONFLICT DO NOTHING");
    db.Exec("INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, qt_pro_atd, ic_inc_pac,"
            " dt_vnd_ite, hr_vnd_ite) VALUES (" + n + ", (SELECT count(*) + 1 FROM item_venda_direta WHERE"
            " nr_orc_loc = " + n + "), 20, " + std::to_string(quantity) + ", 'S', '" + day + "', '" + time + "')");
  }

  void SetClock(int hour, int minute, int weekday = kFriday) {
    clock.Set(LocalTime{2024, 3, 15, hour, minute, 0, weekday});
  }

  TestDatabase db;
  GeneralParameters parameters;
  FixedClock clock{LocalTime{2024, 3, 15, 7, 30, 0, kFriday}};
};

TEST_F(PackageTest, FixedAllowanceCoversTheFirstUnitOnly) {
  EXPECT_TRUE(Covered());
  Consume(2, "20240315", "07:31:12");
  EXPECT_FALSE(Covered());
  // The allowance is per stay: another day does not free it.
  parameters.BusinessDay = "16/03/2024";
  EXPECT_FALSE(Covered());
}

TEST_F(PackageTest, LinesOutsideTheWindowsOrUnflaggedDoNotCount) {
  Consume(2, "20240315", "11:00:00");       // between the windows
  Consume(3, "20240315", "21:15:00");       // after the second window
  db.Exec("UPDATE item_venda_direta SET hr_vnd_ite = NULL WHERE nr_orc_loc = 3");
  db.Exec("INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, qt_pro_atd, ic_inc_pac, hr_vnd_ite)"
          " VALUES (2, 9, 20, 1, 'N', '07:00:00'), (2, 10, 20, 1, NULL, '07:00:00')");
  // An accompaniment of a covered line is not counted either.
  db.Exec("INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, qt_pro_atd, ic_inc_pac,"
          " id_seq_pro_prn, hr_vnd_ite) VALUES (2, 11, 20, 1, 'S', 1, '07:00:00')");
  EXPECT_TRUE(Covered());
  // A line in the second window counts.
  Consume(4, "20240315", "19:59:00");
  EXPECT_FALSE(Covered());
}

TEST_F(PackageTest, OutsideBothWindowsNothingIsCovered) {
  SetClock(12, 0);
  EXPECT_FALSE(Covered());
  SetClock(5, 59);
  EXPECT_FALSE(Covered());
  SetClock(10, 0);
  EXPECT_TRUE(Covered());
  SetClock(18, 45);
  EXPECT_TRUE(Covered());
  db.Exec("UPDATE pacote SET hr_ini_pac2 = NULL");
  EXPECT_FALSE(Covered());
}

TEST_F(PackageTest, WeekdayWithoutFlagCoversNothing) {
  SetClock(7, 30, kSaturday);
  EXPECT_FALSE(Covered());
  db.Exec("UPDATE pacote SET ic_sab_pac = 'S'");
  EXPECT_TRUE(Covered());
}

TEST_F(PackageTest, StayOrProductOutsideThePackage) {
  EXPECT_FALSE(Covered("SUCO"));             // not in pacote_produto
  EXPECT_FALSE(Covered("CAFE", 0, 1, 1));    // no room and a plain environment
  parameters.BusinessDay = "21/03/2024";     // after check-out
  EXPECT_FALSE(Covered());
}

TEST_F(PackageTest, OrderTakenAtTheRoomItself) {
  // Environment 5 is the associated environment of 6: its places are rooms.
  EXPECT_TRUE(Covered("CAFE", 0, 101, 5));
  EXPECT_FALSE(Covered("CAFE", 0, 101, 6));
  // Read with a caller's other reads, the answer is kept for the items.
  PackageCoverageMemo memo;
  const DatabaseSession::Statement read = AssociatedEnvironmentStatement(5);
  RememberAssociatedEnvironment(memo, 5, db.session.Query(read.text, read.values));
  db.Exec("UPDATE ambiente_local SET id_amb_ass = NULL");
  EXPECT_TRUE(CheckPackageCoverage(db.session, parameters, clock, 0, 101, 5, "CAFE", &memo));
  EXPECT_FALSE(Covered("CAFE", 0, 101, 5));
}

TEST_F(PackageTest, PerPersonAllowanceCountsTheBusinessDay) {
  db.Exec("UPDATE pacote SET ic_dia_pac = 'DP'");
  Consume(2, "20240314", "07:00:00");  // yesterday: not counted
  Consume(2, "20240315", "07:00:00");
  EXPECT_TRUE(Covered()) << "one of 1 x 2 people consumed";
  Consume(3, "20240315", "08:00:00");
  EXPECT_FALSE(Covered());
  db.Exec("UPDATE local SET qt_loc_ocu = 3 WHERE id_loc = 101");
  EXPECT_TRUE(Covered());
  // Any other rule also counts per person, but over the whole stay.
  db.Exec("UPDATE pacote SET ic_dia_pac = 'XX'");
  EXPECT_FALSE(Covered());
}

TEST_F(PackageTest, MissingProductOrNumbersAreErrors) {
  EXPECT_THROW(Covered("NAO EXISTE"), DatabaseError);
  EXPECT_FALSE(Covered("NAO EXISTE", 0, 1, 1)) << "without a package the product is not looked up";
  db.Exec("UPDATE pacote SET ic_dia_pac = 'DP'");
  db.Exec("UPDATE local SET qt_loc_ocu = NULL WHERE id_loc = 101");
  EXPECT_THROW(Covered(), DatabaseError);
  // An allowance without a quantity only matters inside the package's windows.
  db.Exec("UPDATE pacote SET qt_inc_pac = NULL, ic_dia_pac = 'PF'");
  EXPECT_THROW(Covered(), DatabaseError);
  SetClock(12, 0);
  EXPECT_FALSE(Covered());
}

}  // namespace
}  // namespace orba::test
