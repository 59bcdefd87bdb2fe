#include "common/database.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "common/error_report.h"
#include "common/operator.h"
#include "common/transaction.h"
#include "support/test_database.h"

namespace orba {
namespace {

using test::RecordingOperator;
using test::TempFolder;
using test::TestDatabase;

TEST(StatementBuffer, LinesEndedByCarriageReturnFromAnEmptyFirstLine) {
  RecordingOperator op;
  DatabaseSession session(op);
  session.SqlClear();
  session.SqlAppend("select 1");
  EXPECT_EQ(session.SqlText(), "\rselect 1\r");
  session.SqlAppend("from x");
  EXPECT_EQ(session.SqlText(), "\rselect 1\rfrom x\r");
  session.SqlClear();
  EXPECT_EQ(session.SqlText(), "\r");
}

TEST(OpenDatabase, MissingFileIsReportedAndNeverCreated) {
  TempFolder folder;
  RecordingOperator op;
  DatabaseSession session(op);
  EXPECT_FALSE(session.OpenDatabase("ORBA.MDB", folder.prefix()));
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "ORBA.MDB"));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].title, "OrbaPDA");
  EXPECT_EQ(op.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_NE(op.messages[0].text.find("ORBA.MDB"), std::string::npos);
  EXPECT_FALSE(session.IsOpen());
}

TEST(OpenDatabase, FileThatIsNotADatabaseIsReported) {
  TempFolder folder;
  test::WriteFile(folder.path() / "ORBA.MDB", std::string(4096, 'x'));
  RecordingOperator op;
  DatabaseSession session(op);
  EXPECT_FALSE(session.OpenDatabase("ORBA.MDB", folder.prefix()));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_NE(op.messages[0].text.find("not a database"), std::string::npos);
}

TEST(Recordset, ClientCopyWithCountAndFieldsByNameInAnyCase) {
  TestDatabase db;
  db.Exec("insert into local (id_loc, nm_loc, ic_atv_ina) values (7, 'MESA 7', 'A'), (8, 'MESA 8', null)");
  Recordset rs;
  ASSERT_FALSE(db.session.OpenRecordset("select id_loc, NM_LOC, ic_atv_ina from local order by id_loc", rs));
  EXPECT_EQ(rs.RecordCount(), 2u);
  EXPECT_EQ(rs.Field("ID_LOC").Int(), 7);
  EXPECT_EQ(rs.Field("nm_loc").Text(), "MESA 7");
  rs.MoveNext();
  EXPECT_TRUE(rs.Field("Ic_Atv_Ina").IsNull());
  EXPECT_EQ(rs.Field("ic_atv_ina").Text(), "");
  EXPECT_THROW(rs.Field("ic_atv_ina").Int(), DatabaseError);
  EXPECT_THROW(rs.Field("no_such_column"), DatabaseError);
  rs.MoveNext();
  EXPECT_TRUE(rs.Eof());
  EXPECT_THROW(rs.Field("id_loc"), DatabaseError);
}

TEST(OpenRecordset, FailedQueryIsNeverReadAsTheRowsOfAnEarlierOne) {
  TestDatabase db;
  db.Exec("INSERT INTO local (id_loc, nm_loc) VALUES (1, 'A')");
  Recordset rs;
  ASSERT_FALSE(db.session.OpenRecordset("select id_loc from local", rs));
  ASSERT_EQ(rs.RecordCount(), 1u);
  // The same recordset reused for a query that fails (a misspelt one).
  EXPECT_TRUE(db.session.OpenRecordset("selct * form local", rs));
  EXPECT_TRUE(db.op.messages.empty());
  EXPECT_FALSE(rs.IsOpen());
  // The caller's next use fails and reaches its own error path.
  EXPECT_THROW(rs.Eof(), DatabaseError);
  // The throwing form carries the provider's text.
  try {
    db.session.Query("select * from no_such_table");
    ADD_FAILURE() << "a failed query must throw";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("no_such_table"), std::string::npos) << e.what();
  }
}

TEST(ExecuteSql, ErrorsReachTheCallerAndOnlyOneStatementRuns) {
  TestDatabase db;
  EXPECT_THROW(db.session.ExecuteSql("insert into no_table values (1)"), DatabaseError);
  EXPECT_NE(db.session.ProviderError().find("no_table"), std::string::npos);
  EXPECT_THROW(db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (1); delete from local"),
               DatabaseError);
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP"), "0");
}

TEST(CommitWait, OnlyATransactionThatAsksSkipsTheWaitForTheDisk) {
  TestDatabase db;
  // The level in force for the statement that reads it.
  const std::string level_read = db.OnServer() ? "select current_setting('synchronous_commit') as level"
                                               : "select synchronous as level from pragma_synchronous";
  const std::string waits = db.OnServer() ? "on" : "2";  // FULL
  const std::string skips = db.OnServer() ? "off" : "1";  // NORMAL
  auto level = [&] { return db.session.Query(level_read).Field("level").Text(); };
  if (db.OnServer()) db.session.ExecuteSql("set synchronous_commit = on");  // the test cluster's is off
  {
    TransactionGuard records(db.session, CommitWait::ForNextCommit);
    db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (1)");
    EXPECT_EQ(level(), skips);
    records.Commit();
  }
  EXPECT_EQ(level(), waits);
  db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (2)");
  // A transaction that failed and was undone leaves the next one waiting.
  EXPECT_THROW(
      {
        TransactionGuard records(db.session, CommitWait::ForNextCommit);
        db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (1)");
        records.Commit();
      },
      DatabaseError);
  {
    TransactionGuard order(db.session);
    EXPECT_EQ(level(), waits);
    db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (3)");
    order.Commit();
  }
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP where id_seq_log in (1, 2, 3)"), "3");
}

TEST(KeptStatements, FollowTheSchemaAndNeverKeepTheFileOpen) {
  TestDatabase db;
  db.Exec("create table kept (a integer); insert into kept values (1)");
  const std::string all = "select * from kept";
  for (int run = 0; run < 3; ++run) EXPECT_EQ(db.session.Query(all).Field("a").Text(), "1");

  db.Exec("alter table kept add column b integer default 2");
  EXPECT_EQ(db.session.Query(all).Field("b").Text(), "2");
  db.Exec("drop table kept");
  EXPECT_THROW(db.session.Query(all), DatabaseError);
  db.Exec("create table kept (c integer); insert into kept values (3)");
  for (int run = 0; run < 2; ++run) EXPECT_EQ(db.session.Query(all).Field("c").Text(), "3");
  if (db.OnServer()) return;

  // The last connection closed for real: its journal is folded back and gone.
  db.session.CloseDatabase();
  EXPECT_FALSE(std::filesystem::exists(db.folder.path() / "ORBA.MDB-wal"));
  EXPECT_THROW(db.session.Query(all), DatabaseError);
}

TEST(KeptStatements, BoundValuesKeepTheirKindsAndTheStatementOutlivesASchemaChange) {
  TestDatabase db;
  db.Exec("create table bound (a integer, b numeric(10, 2), c varchar(40))");
  const std::string insert = "insert into bound (a, b, c) values ($1, $2, $3)";
  const std::string quoted = "o'bar'); delete from bound; --";
  db.session.ExecuteSql(insert, {7, 12.5, quoted});
  db.session.ExecuteSql(insert, {Value(), Value(), "Salão"});
  const std::string by_name = "select * from bound where c = $1 or c = $2 order by c";
  Recordset rs = db.session.Query(by_name, {quoted, "nobody"});
  ASSERT_EQ(rs.RecordCount(), 1u);
  EXPECT_EQ(rs.Field("a").Int(), 7);
  EXPECT_DOUBLE_EQ(rs.Field("b").Real(), 12.5);
  EXPECT_EQ(rs.Field("c").Text(), quoted);
  EXPECT_EQ(db.session.Query(by_name, {"Salão", quoted}).RecordCount(), 2u);
  EXPECT_EQ(db.Scalar("select count(*) from bound where a is null and b is null"), "1");
  // Rows gathered for one table go in as those statements would put them.
  RowInserts rows("bound");
  const std::string awkward = "tab\tquote\" back\\slash";
  rows.Add({{"A", 8}, {"b", 0.1}, {"C", awkward}});
  rows.Add({{"A", Value()}, {"b", "3"}, {"C", Value()}});
  rows.Flush(db.session);
  EXPECT_EQ(db.Scalar("select c from bound where a = 8 and b = 0.1"), awkward);
  EXPECT_EQ(db.Scalar("select count(*) from bound where a is null and b = 3 and c is null"), "1");

  // The kept statement reads the table as it is now.
  db.Exec("alter table bound add column d integer default 3");
  EXPECT_EQ(db.session.Query(by_name, {quoted, ""}).Field("d").Text(), "3");
  // Markers out of order or repeated take their own values, kept or not.
  const std::string shuffled = "select cast($2 as varchar(9)) || '-' || $1 || '-' || $2 as t";
  for (int run = 0; run < 2; ++run) EXPECT_EQ(db.session.Query(shuffled, {"a", "b"}).Field("t").Text(), "b-a-b");
  // A marker without its value is refused.
  EXPECT_THROW(db.session.Query("select * from bound where a = $1 and c = $2", {7}), DatabaseError);
}

TEST(Transactions, CommitWithoutBeginDoesNothingAndRollbackUndoes) {
  TestDatabase db;
  db.session.CommitTransaction();
  db.session.RollbackTransaction();
  EXPECT_FALSE(db.session.InTransaction());
  EXPECT_TRUE(db.op.messages.empty());

  ASSERT_TRUE(db.session.BeginTransaction());
  EXPECT_TRUE(db.session.InTransaction());
  db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (5)");
  db.session.RollbackTransaction();
  EXPECT_FALSE(db.session.InTransaction());
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP"), "0");

  ASSERT_TRUE(db.session.BeginTransaction());
  db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (6)");
  db.session.CommitTransaction();
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP"), "1");
  EXPECT_TRUE(db.op.messages.empty());
}

TEST(Transactions, FailedBeginIsReportedAndLeavesTheFlagSet) {
  RecordingOperator op;
  DatabaseSession session(op);  // no database: every statement fails
  EXPECT_FALSE(session.BeginTransaction());
  EXPECT_TRUE(session.InTransaction());
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].title, "Erro no ORBAPDA     ");
  EXPECT_EQ(op.messages[0].icon, MessageIcon::Critical);
  // Nothing was opened, so there is nothing to roll back and nothing to report.
  session.RollbackTransaction();
  EXPECT_FALSE(session.InTransaction());
  EXPECT_EQ(op.messages.size(), 1u);
}

TEST(Transactions, CommitOfATransactionTheDatabaseUndidIsAFailure) {
  TestDatabase db;
  ASSERT_TRUE(db.session.BeginTransaction());
  db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (7)");
  db.session.ExecuteSql("ROLLBACK");  // what the engine does itself on a full disk
  db.session.CommitTransaction();
  EXPECT_TRUE(db.session.InTransaction());
  ASSERT_EQ(db.op.messages.size(), 1u);
  EXPECT_EQ(db.op.messages[0].title, "Erro no ORBAPDA     ");
  db.session.RollbackTransaction();
  EXPECT_FALSE(db.session.InTransaction());
  EXPECT_EQ(db.op.messages.size(), 1u);
}

TEST(Transactions, ReadsSentWithTheCommitSeeItAndNeverPassForIt) {
  TestDatabase db;
  const std::vector<DatabaseSession::Statement> count{{"select count(*) as n from LOG_TO_UP", {}}};
  std::vector<Recordset> rows;
  {
    TransactionGuard stored(db.session);
    db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (1)");
    EXPECT_TRUE(stored.Commit(count, rows));
  }
  EXPECT_EQ(rows.at(0).Field("n").Text(), "1");
  // Reads that fail leave the commit done.
  {
    TransactionGuard stored(db.session);
    db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (2)");
    EXPECT_FALSE(stored.Commit({{"select * from no_table", {}}}, rows));
  }
  EXPECT_FALSE(db.session.InTransaction());
  // A write that fails (at once, or on a server with the commit) fails the
  // commit, as the write's failure, not the commit's: nothing is shown.
  EXPECT_THROW(
      {
        TransactionGuard refused(db.session);
        db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (3)");
        db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (1)");
        refused.Commit(count, rows);
      },
      DatabaseError);
  EXPECT_FALSE(db.session.InTransaction());
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP"), "2");
  EXPECT_TRUE(db.op.messages.empty());
  if (!db.OnServer()) return;
  // A commit that fails by itself (a check deferred to it) is shown.
  db.Exec("create table once (a integer unique deferrable initially deferred)");
  EXPECT_THROW(
      {
        TransactionGuard refused(db.session);
        db.session.ExecuteSql("insert into once (a) values (1)");
        db.session.ExecuteSql("insert into once (a) values (1)");
        refused.Commit(count, rows);
      },
      DatabaseError);
  EXPECT_EQ(db.op.messages.size(), 1u);
}

// The back office holds the write lock: SQLite refuses the begin after the
// wait, a server the first write (it locks row by row), which it reports
// once the session waits for the writes.
bool WriteFailsAsBusy(TestDatabase& db) {
  if (!db.session.BeginTransaction()) return db.session.LastFailureWasBusy();
  bool busy = false;
  try {
    db.session.ExecuteSql("UPDATE parametro_geral SET id_seq_tsa = id_seq_tsa + 1");
    db.session.ChangedRows();
  } catch (const DatabaseError& e) {
    busy = e.Busy() && db.session.LastFailureWasBusy();
  }
  db.session.RollbackTransaction();
  return busy;
}

TEST(Transactions, WriteHeldByAnotherConnectionFailsAsBusyAfterTheWait) {
  TestDatabase db(true);
  db.session.SetLockWait(std::chrono::milliseconds(50));
  RecordingOperator other_op;
  DatabaseSession other(other_op);
  ASSERT_TRUE(db.OpenAnother(other));
  ASSERT_TRUE(other.BeginTransaction());
  other.ExecuteSql("UPDATE parametro_geral SET id_seq_tsa = id_seq_tsa");
  other.ChangedRows();  // the row is held once the write has reached the server
  EXPECT_TRUE(WriteFailsAsBusy(db));
  if (!db.OnServer()) {
    ASSERT_EQ(db.op.messages.size(), 1u);
    EXPECT_NE(db.op.messages[0].text.find(" - ADO = "), std::string::npos);
  }
  other.CommitTransaction();
  EXPECT_FALSE(other.InTransaction());
}

TEST(Transactions, StopEndsTheWaitForALock) {
  TestDatabase db(true);
  std::atomic<bool> stop{false};
  db.session.SetLockWait(std::chrono::minutes(1), &stop);
  RecordingOperator other_op;
  DatabaseSession other(other_op);
  ASSERT_TRUE(db.OpenAnother(other));
  ASSERT_TRUE(other.BeginTransaction());
  other.ExecuteSql("UPDATE parametro_geral SET id_seq_tsa = id_seq_tsa");
  other.ChangedRows();  // the row is held once the write has reached the server
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(WriteFailsAsBusy(db));
  // Well before the minute of the wait.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  stopper.join();
  other.RollbackTransaction();
}

TEST(Dialect, NamesMatchWithoutCaseAndAccentsAndValuesKeepTheirKinds) {
  TestDatabase db;
  db.Exec("insert into local (id_loc, nm_loc, id_amb, qt_loc_ocu) values (1, 'Salão 1', 1, 2), (2, 'SALÃO 2', 1, 0),"
          " (3, 'salao 3', 1, NULL);"
          "insert into produto (id_mat_pro, cd_pro, aq_ipi) values (7, '007', 12.5)");
  const std::string by_name = "select id_loc from local where " + db.session.NameMatches("nm_loc", "$1") + " and id_amb = 1";
  const auto found = [&](std::string_view name) {
    Recordset rs = db.session.Query(by_name, {db.session.NameValue(name)});
    return rs.Eof() ? std::string() : rs.Field(0).Text();
  };
  EXPECT_EQ(found("SALÃO 1"), "1");
  EXPECT_EQ(found(" salão 1 "), "1");
  EXPECT_EQ(found("Salão 2"), "2");
  EXPECT_EQ(found("SALAO 3"), "3");
  EXPECT_EQ(found("SALAO 1"), "");  // an accent is a letter of its own
  EXPECT_EQ(found("o'bar"), "");
  EXPECT_EQ(found("a\"b\\c"), "");  // the list's own quoting
  // The spellings of the accented letters, bound as one list, on the index of the names.
  EXPECT_EQ(db.session.NameValue("Salão").Text(), db.OnServer() ? "{\"SALÃO\",\"SALãO\"}" : "[\"SALÃO\",\"SALãO\"]");
  EXPECT_EQ(db.TablesReadWhole(by_name, {db.session.NameValue("1")}), std::vector<std::string>{});
  // Lists of numbers and texts keep one text whatever their length.
  const std::string codes = "select count(*) from produto where " + db.session.InList("cd_pro", "$1", Value::Kind::Text);
  EXPECT_EQ(db.session.Query(codes, {db.session.ListOf(std::vector<std::string>{"007", "x\"y"})}).Field(0).Int(), 1);
  const std::string ids = "select count(*) from local where " + db.session.InList("id_loc", "$1", Value::Kind::Integer);
  EXPECT_EQ(db.session.Query(ids, {db.session.ListOf(std::vector<long long>{1, 3, 9})}).Field(0).Int(), 2);
  EXPECT_EQ(db.session.Query(ids, {db.session.ListOf(std::vector<long long>{})}).Field(0).Int(), 0);

  // Integers, amounts, texts and Null as the handlers read them.
  Recordset rs = db.session.Query("select id_loc, qt_loc_ocu, nm_loc, count(*) over () as n from local order by id_loc");
  EXPECT_EQ(rs.Field("id_loc").Int(), 1);
  EXPECT_EQ(rs.Field("n").Text(), "3");
  rs.MoveNext();
  rs.MoveNext();
  EXPECT_TRUE(rs.Field("qt_loc_ocu").IsNull());
  EXPECT_EQ(rs.Field("nm_loc").Text(), "salao 3");
  rs = db.session.Query("select aq_ipi, cd_pro, aq_ipi * 2 as twice, sum(aq_ipi) as total from produto group by aq_ipi, cd_pro");
  EXPECT_DOUBLE_EQ(rs.Field("aq_ipi").Real(), 12.5);
  EXPECT_EQ(rs.Field("twice").Text(), "25");
  EXPECT_EQ(rs.Field("total").Text(), "12.5");
  EXPECT_EQ(rs.Field("cd_pro").Text(), "007");

  // Rows changed, statement by statement and in all.
  const long long before = db.session.TotalChanges();
  db.session.ExecuteSql("update local set qt_loc_ocu = 4 where id_amb = 1");
  EXPECT_EQ(db.session.ChangedRows(), 3);
  db.session.Query("select * from local");
  EXPECT_EQ(db.session.ChangedRows(), 3);
  db.session.ExecuteSql("delete from local where id_loc = 3");
  EXPECT_EQ(db.session.TotalChanges() - before, 4);
}

TEST(Connection, LostBetweenTwoRequestsIsMadeAgainAndInsideATransactionFailsItWhole) {
  TestDatabase db(true);
  if (!db.OnServer()) GTEST_SKIP() << "a file has no connection to lose";
  RecordingOperator admin_op;
  DatabaseSession admin(admin_op);
  ASSERT_TRUE(db.OpenAnother(admin));
  // What a server restart or an administrator does to the service's
  // connection; it is gone once the server no longer lists it.
  std::string pid = db.Scalar("select pg_backend_pid()");
  const auto drop = [&] {
    admin.Query("select pg_terminate_backend(" + pid + ")");
    for (int wait = 0; wait < 500 && !admin.Query("select 1 from pg_stat_activity where pid = " + pid).Eof(); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  const std::string bound = "select count(*) from local where id_loc > $1";
  ASSERT_EQ(db.session.Query(bound, {0}).Field(0).Text(), "11");
  drop();
  // The next request finds the connection gone and makes it again, and its
  // kept statements with it.
  EXPECT_EQ(db.session.Query(bound, {0}).Field(0).Text(), "11");
  ASSERT_EQ(db.op.events.size(), 1u);
  EXPECT_NE(db.op.events[0].find("Conexão com o banco de dados restabelecida"), std::string::npos);

  // Lost in the middle of a transaction: the rest of it fails, the commit
  // says so, nothing of it is stored, and the next transaction works.
  ASSERT_TRUE(db.session.BeginTransaction());
  db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (1)");
  pid = db.Scalar("select pg_backend_pid()");
  drop();
  EXPECT_THROW(
      {
        db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (2)");
        db.session.ChangedRows();
      },
      DatabaseError);
  EXPECT_FALSE(db.session.LastFailureWasBusy());
  db.session.CommitTransaction();
  EXPECT_TRUE(db.session.InTransaction()) << "a lost transaction must not pass for committed";
  EXPECT_EQ(db.op.messages.size(), 1u);
  db.session.RollbackTransaction();
  EXPECT_FALSE(db.session.InTransaction());
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP"), "0");
  ASSERT_TRUE(db.session.BeginTransaction());
  db.session.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (3)");
  db.session.CommitTransaction();
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP"), "1");
}

TEST(ReportError, ContextDescriptionProviderAndTrailingBlanks) {
  RecordingOperator op;
  ReportError(op, nullptr, "falhou", "Impressão");
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].text, "Impressão     \r\nfalhou    ");
  EXPECT_EQ(op.messages[0].title, "Erro no ORBAPDA     ");

  TestDatabase db;
  db.session.OpenRecordset("select * from missing_table", *std::make_unique<Recordset>());
  ReportError(op, &db.session, "commit falhou");
  const std::string provider =
      db.OnServer() ? "relation \"missing_table\" does not exist" : "no such table: missing_table";
  EXPECT_EQ(op.messages[1].text, "commit falhou\r\n - ADO = \r\n" + provider + "    ");
}

TEST(HeadlessOperator, OneLineWithBreaksShownAsBars) {
  EXPECT_EQ(HeadlessOperator::FormatLine("linha 1\r\nlinha 2\nfim    ", "Erro no ORBAPDA     "),
            "Erro no ORBAPDA     : linha 1 | linha 2 | fim    ");
  // The handhelds' two-character "\n" is text, not a break.
  EXPECT_EQ(HeadlessOperator::FormatLine("MESA\\nX", "Aviso"), "Aviso: MESA\\nX");
}

}  // namespace
}  // namespace orba
