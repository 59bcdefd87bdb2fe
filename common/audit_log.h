#pragma once
// The command audit log that tells the back office which commands this
// program carried out (LOG_DONE and LOG_TO_UP), with its sequence numbers.

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/database.h"
#include "common/sql_text.h"

namespace orba {

class Clock;

// The reads that draw the numbers of `count` log rows: they advance
// parametro_geral.id_seq_tsa by `count`, and find which of the numbers drawn
// LOG_DONE already uses and its highest id_seq_log. They go into the
// caller's batch of queries (DatabaseSession::Queries), in this order, inside
// its transaction.
std::vector<DatabaseSession::Statement> CommandLogReads(int count);

// Writes one LOG_DONE row per complement (each with a transaction number no
// other row uses, and the next id_seq_log) and its LOG_TO_UP row, from the
// results of CommandLogReads(complements.size()) at `reads`. The numbers are
// those that drawing them one by one gives: a number already used is
// skipped, and the counter keeps every draw. Runs inside the caller's
// transaction and handles no error of its own: a failure (no counter, a Null
// one, a number past the range) throws DatabaseError to the caller, whose
// rollback also undoes the counter.
void WriteCommandLogs(DatabaseSession& session, const Clock& clock, std::string_view command,
                      const std::vector<NullableText>& complements, const Recordset* reads);

// One row, with its own reads.
void WriteCommandLog(DatabaseSession& session, const Clock& clock, std::string_view command,
                     NullableText complement);

}  // namespace orba
