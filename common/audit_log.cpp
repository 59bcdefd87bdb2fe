#include "common/audit_log.h"

#include <cstdio>
#include <string>

#include "common/clock.h"
#include "common/database.h"

namespace orba {

namespace {

// "yyyymmdd HH:MM", local time, 24-hour clock.
std::string LogStamp(const Clock& clock) {
  const LocalTime now = clock.Now();
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d %02d:%02d", now.year, now.month, now.day, now.hour,
                now.minute);
  return text;
}

}  // namespace

std::int32_t NextTransactionSequence(DatabaseSession& session) {
  session.SqlClear();
  session.SqlAppend("Update parametro_geral");
  session.SqlAppend("set id_seq_tsa = id_seq_tsa + 1");
  session.ExecuteSql(session.SqlText());

  session.SqlClear();
  session.SqlAppend("Select id_seq_tsa from parametro_geral");
  Recordset rs = session.Query(session.SqlText());
  const std::int32_t value = rs.Field(std::size_t{0}).Int32();
  rs.Close();
  return value;
}

std::int32_t NextLogSequence(DatabaseSession& session) {
  session.SqlClear();
  session.SqlAppend("Select max(id_seq_log) from log_done");
  Recordset rs = session.Query(session.SqlText());
  long long highest = 0;
  if (!rs.Eof() && !rs.Field(std::size_t{0}).IsNull()) highest = rs.Field(std::size_t{0}).Int32();
  rs.Close();
  return Value(highest + 1).Int32();
}

void WriteCommandLog(DatabaseSession& session, const Clock& clock, std::string_view command,
                     NullableText complement) {
  // A transaction number that no LOG_DONE row uses yet; every draw advances
  // the counter, the rejected ones too.
  std::int32_t transaction = 0;
  for (;;) {
    transaction = NextTransactionSequence(session);
    session.SqlClear();
    session.SqlAppend("Select 1 from LOG_DONE where id_seq_tsa = " + std::to_string(transaction));
    Recordset probe = session.Query(session.SqlText());
    const bool taken = !probe.Eof();
    probe.Close();
    if (!taken) break;
  }

  const std::int32_t log_sequence = NextLogSequence(session);

  std::string command_text(command);
  session.SqlClear();
  session.SqlAppend("Insert into LOG_DONE ");
  session.SqlAppend("(id_seq_log, dth_ger_log, cmd_log, dc_cpl_cmd, Id_Seq_Tsa, dth_done, dc_msg_adc)");
  session.SqlAppend("values (" + std::to_string(log_sequence));
  session.SqlAppend(",'" + LogStamp(clock) + "'");
  session.SqlAppend(",'" + SqlEscape(command_text) + "'");
  if (complement.has_value()) {
    session.SqlAppend(",'" + *SqlEscape(complement) + "'");
  } else {
    session.SqlAppend(",null");
  }
  session.SqlAppend("," + std::to_string(transaction));
  session.SqlAppend(",null,null)");
  session.ExecuteSql(session.SqlText());

  session.SqlClear();
  session.SqlAppend("Insert into LOG_TO_UP (id_seq_log) values (" + std::to_string(log_sequence) + ")");
  session.ExecuteSql(session.SqlText());
}

}  // namespace orba
