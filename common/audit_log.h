#pragma once
// Sequence numbers and the command audit log that tells the back office
// which commands this program carried out (LOG_DONE and LOG_TO_UP).

#include <cstdint>
#include <string_view>

#include "common/sql_text.h"

namespace orba {

class Clock;
class DatabaseSession;

// Advances parametro_geral.id_seq_tsa by one and returns its new value.
// Failures (no session, no row, Null counter) throw DatabaseError.
std::int32_t NextTransactionSequence(DatabaseSession& session);

// The highest id_seq_log of log_done plus one; 1 when the table is empty.
std::int32_t NextLogSequence(DatabaseSession& session);

// Writes one LOG_DONE row (with a transaction number no other row uses) and
// its LOG_TO_UP row. Runs inside the caller's transaction and handles no
// error of its own: a failure throws DatabaseError to the caller, whose
// rollback also undoes the counter increments.
void WriteCommandLog(DatabaseSession& session, const Clock& clock, std::string_view command,
                     NullableText complement);

}  // namespace orba
