#include "common/audit_log.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/fixed_clock.h"
#include "support/test_database.h"

namespace orba {
namespace {

using test::FixedClock;

using test::TestDatabase;

class AuditLogTest : public ::testing::Test {
 protected:
  void SetUp() override { db.Exec("INSERT INTO parametro_geral (dt_dia, id_seq_tsa) VALUES ('20261208', 40)"); }

  TestDatabase db;
  FixedClock clock{LocalTime{2026, 12, 8, 9, 5, 59, 2}};
};

TEST_F(AuditLogTest, SequencesStartFromTheCounterAndTheTable) {
  db.Exec("INSERT INTO LOG_DONE (id_seq_log) VALUES (7); INSERT INTO LOG_DONE (id_seq_log) VALUES (3)");
  WriteCommandLog(db.session, clock, "ORCAMENTO", std::string("1"));
  WriteCommandLog(db.session, clock, "ORCAMENTO", std::string("2"));
  EXPECT_EQ(db.Scalar("select id_seq_tsa from parametro_geral"), "42");
  EXPECT_EQ(db.Scalar("select Id_Seq_Tsa from LOG_DONE where id_seq_log = 9"), "42");
}

TEST_F(AuditLogTest, SkipsTransactionNumbersAlreadyLoggedAndKeepsEveryDraw) {
  db.Exec("INSERT INTO LOG_DONE (id_seq_log, Id_Seq_Tsa) VALUES (1, 41);"
          "INSERT INTO LOG_DONE (id_seq_log, Id_Seq_Tsa) VALUES (2, 42);"
          "INSERT INTO LOG_DONE (id_seq_log, Id_Seq_Tsa) VALUES (3, 45)");
  WriteCommandLog(db.session, clock, "ORCAMENTO", std::string("1234"));

  EXPECT_EQ(db.Scalar("select id_seq_tsa from parametro_geral"), "43");
  EXPECT_EQ(db.Scalar("select count(*) from LOG_DONE"), "4");
  EXPECT_EQ(db.Scalar("select Id_Seq_Tsa from LOG_DONE where id_seq_log = 4"), "43");
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP where id_seq_log = 4"), "1");

  // Several rows at once take the numbers that drawing them one by one gives.
  const std::vector<Recordset> reads = db.session.Queries(CommandLogReads(3));
  WriteCommandLogs(db.session, clock, "ORCAMENTO", {std::string("a"), std::string("b"), std::string("c")},
                   reads.data());
  EXPECT_EQ(db.Scalar("select id_seq_tsa from parametro_geral"), "47");
  EXPECT_EQ(db.Scalar("select count(*) from LOG_DONE where id_seq_log = 7 and Id_Seq_Tsa = 47 and dc_cpl_cmd = 'C'"),
            "1");
  EXPECT_EQ(db.Scalar("select count(*) from LOG_DONE where Id_Seq_Tsa in (44, 46) and id_seq_log in (5, 6)"), "2");
}

TEST_F(AuditLogTest, WritesTheOrderRow) {
  WriteCommandLog(db.session, clock, "ORCAMENTO", std::string("1234"));

  EXPECT_EQ(db.Scalar("select cmd_log from LOG_DONE where id_seq_log = 1"), "ORCAMENTO");
  EXPECT_EQ(db.Scalar("select dc_cpl_cmd from LOG_DONE where id_seq_log = 1"), "1234");
  EXPECT_EQ(db.Scalar("select dth_ger_log from LOG_DONE where id_seq_log = 1"), "20261208 09:05");
  EXPECT_EQ(db.Scalar("select Id_Seq_Tsa from LOG_DONE where id_seq_log = 1"), "41");
  EXPECT_EQ(db.Scalar("select count(*) from LOG_DONE where dth_done is null and dc_msg_adc is null"), "1");
  EXPECT_EQ(db.Scalar("select id_seq_log from LOG_TO_UP"), "1");
}

TEST_F(AuditLogTest, StampHasDateBlankHoursColonMinutes) {
  clock.Set(LocalTime{2027, 1, 2, 23, 0, 0, 6});
  WriteCommandLog(db.session, clock, "ORCAMENTO", std::string("1"));
  const std::string stamp = db.Scalar("select dth_ger_log from LOG_DONE");
  EXPECT_TRUE(std::regex_match(stamp, std::regex("[0-9]{8} [0-9]{2}:[0-9]{2}"))) << stamp;
  EXPECT_EQ(stamp, "20270102 23:00");
}

TEST_F(AuditLogTest, ComplementGoesThroughSqlEscapeAndNullStaysNull) {
  WriteCommandLog(db.session, clock, "orcamento", std::string("d'Ávila 'x"));
  WriteCommandLog(db.session, clock, "FECHA", std::nullopt);

  EXPECT_EQ(db.Scalar("select cmd_log from LOG_DONE where id_seq_log = 1"), "ORCAMENTO");
  EXPECT_EQ(db.Scalar("select dc_cpl_cmd from LOG_DONE where id_seq_log = 1"), "D´ÁVILA ´X");
  EXPECT_EQ(db.Scalar("select count(*) from LOG_DONE where id_seq_log = 2 and dc_cpl_cmd is null"), "1");
  EXPECT_EQ(db.Scalar("select Id_Seq_Tsa from LOG_DONE where id_seq_log = 2"), "42");
}

TEST_F(AuditLogTest, FailuresReachTheCaller) {
  db.Exec("DELETE FROM parametro_geral");
  EXPECT_THROW(WriteCommandLog(db.session, clock, "ORCAMENTO", std::nullopt), DatabaseError);
  db.Exec("INSERT INTO parametro_geral (dt_dia, id_seq_tsa) VALUES ('20261208', NULL)");
  EXPECT_THROW(WriteCommandLog(db.session, clock, "ORCAMENTO", std::nullopt), DatabaseError);
  EXPECT_EQ(db.Scalar("select count(*) from LOG_DONE"), "0");

  db.Exec("UPDATE parametro_geral SET id_seq_tsa = 1; DROP TABLE LOG_DONE");
  EXPECT_THROW(WriteCommandLog(db.session, clock, "ORCAMENTO", std::nullopt), DatabaseError);
}

TEST_F(AuditLogTest, RollbackUndoesCounterAndRows) {
  ASSERT_TRUE(db.session.BeginTransaction());
  WriteCommandLog(db.session, clock, "ORCAMENTO", std::string("5"));
  db.session.RollbackTransaction();
  EXPECT_EQ(db.Scalar("select id_seq_tsa from parametro_geral"), "40");
  EXPECT_EQ(db.Scalar("select count(*) from LOG_DONE"), "0");
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP"), "0");
}

}  // namespace
}  // namespace orba
