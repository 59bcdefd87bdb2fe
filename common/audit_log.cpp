#include "common/audit_log.h"

#include <cstdio>
#include <set>
#include <string>

#include "common/clock.h"

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

std::vector<DatabaseSession::Statement> CommandLogReads(int count) {
  // The increment and the search see the same row: the update holds it until
  // the end of the transaction, so no other writer draws the same numbers.
  return {
      {"Update parametro_geral set id_seq_tsa = id_seq_tsa + $1 returning id_seq_tsa", {count}},
      {"Select Id_Seq_Tsa from LOG_DONE where Id_Seq_Tsa > (select id_seq_tsa from parametro_geral) - $1"
       " and Id_Seq_Tsa <= (select id_seq_tsa from parametro_geral)",
       {count}},
      {"Select max(id_seq_log) from log_done", {}},
  };
}

void WriteCommandLogs(DatabaseSession& session, const Clock& clock, std::string_view command,
                      const std::vector<NullableText>& complements, const Recordset* reads) {
  const int wanted = static_cast<int>(complements.size());
  if (wanted == 0) return;
  // Numbers LOG_DONE already uses are skipped; the counter keeps them as
  // drawn, and more are drawn until there are enough.
  std::vector<std::int32_t> numbers;
  std::vector<Recordset> more;
  const Recordset* drawn = reads;
  for (int drawing = wanted;;) {
    const std::int32_t last = drawn[0].Field(std::size_t{0}).Int32();
    std::set<long long> taken;
    for (Recordset used = drawn[1]; !used.Eof(); used.MoveNext()) taken.insert(used.Field(std::size_t{0}).Int());
    for (long long number = static_cast<long long>(last) - drawing + 1; number <= last; ++number) {
      if (taken.count(number) == 0) numbers.push_back(static_cast<std::int32_t>(number));
    }
    drawing = wanted - static_cast<int>(numbers.size());
    if (drawing == 0) break;
    more = session.Queries(CommandLogReads(drawing));
    drawn = more.data();
  }
  const Recordset& highest = reads[2];
  long long log_sequence = 0;
  if (!highest.Eof() && !highest.Field(std::size_t{0}).IsNull()) log_sequence = highest.Field(std::size_t{0}).Int32();

  std::string command_text(command);
  const std::string command_value = SqlEscape(command_text);
  const std::string stamp = LogStamp(clock);
  // Each log row with its upload row, in few statements: every log row goes
  // in before the upload rows that name them.
  RowInserts logs("LOG_DONE");
  RowInserts uploads("LOG_TO_UP");
  for (int i = 0; i < wanted; ++i) {
    const std::int32_t sequence = Value(++log_sequence).Int32();
    NullableText complement = complements[static_cast<std::size_t>(i)];
    const Value complement_value = complement.has_value() ? Value(*SqlEscape(complement)) : Value();
    logs.Add({{"id_seq_log", sequence},
              {"dth_ger_log", stamp},
              {"cmd_log", command_value},
              {"dc_cpl_cmd", complement_value},
              {"Id_Seq_Tsa", numbers[static_cast<std::size_t>(i)]},
              {"dth_done", Value()},
              {"dc_msg_adc", Value()}});
    uploads.Add({{"id_seq_log", sequence}});
  }
  logs.Flush(session);
  uploads.Flush(session);
}

void WriteCommandLog(DatabaseSession& session, const Clock& clock, std::string_view command,
                     NullableText complement) {
  const std::vector<Recordset> reads = session.Queries(CommandLogReads(1));
  WriteCommandLogs(session, clock, command, {std::move(complement)}, reads.data());
}

}  // namespace orba
