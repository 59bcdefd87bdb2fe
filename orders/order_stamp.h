#pragma once
// The stamp (datahora) of the last order accepted for a place or a comanda,
// kept in controle_pedido_pda and written in the order's own transaction: an
// order carrying the stamp already recorded is a resend and is not applied
// again, whatever happened between its commit and its answer.

#include <cstddef>
#include <string>
#include <string_view>

namespace orba {

class Clock;
class DatabaseSession;

// Whose stamp: a place (local.id_loc) or a comanda (its number). Keyed by what
// was found, not by the name as the handheld typed it.
struct StampOwner {
  char kind;     // 'L' place, 'C' comanda
  long long id;  // id_loc or NR_CMD

  static StampOwner Place(long long id_loc) { return {'L', id_loc}; }
  static StampOwner Comanda(long long number) { return {'C', number}; }
};

// Stamps longer than this are not stamps a handheld writes.
inline constexpr std::size_t kMaxStampLength = 64;

// True when `stamp` is the one recorded for the owner. Throws DatabaseError.
bool IsAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp);

// Records `stamp` as the owner's last accepted order. Runs inside the
// caller's transaction. Throws DatabaseError.
void RecordAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp,
                         const Clock& clock);

}  // namespace orba
