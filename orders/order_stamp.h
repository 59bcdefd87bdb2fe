#pragma once
// The stamps (datahora) of every order accepted for a place or a comanda
// since the business day opened, kept in controle_pedido_pda and written in
// the order's own transaction: an order carrying a stamp already recorded for
// its place is a resend and is not applied again, whatever happened between
// its commit and its answer, and whatever other orders came in between.

#include <cstddef>
#include <string>
#include <string_view>

#include "common/database.h"

namespace orba {

class Clock;

// Whose stamp: a place (local.id_loc) or a comanda (its number). Keyed by what
// was found, not by the name as the handheld typed it. A transfer is recorded
// under its origin, with the destination's id_loc as its stamp.
struct StampOwner {
  char kind;     // 'L' place, 'C' comanda, 'T' transfer from a place
  long long id;  // id_loc or NR_CMD

  static StampOwner Place(long long id_loc) { return {'L', id_loc}; }
  static StampOwner Comanda(long long number) { return {'C', number}; }
  static StampOwner TransferFrom(long long id_loc) { return {'T', id_loc}; }
};

// Stamps longer than this are not stamps a handheld writes.
inline constexpr std::size_t kMaxStampLength = 64;

// True when `stamp` is recorded for the owner. Throws DatabaseError.
bool IsAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp);
// The same lookup for a batch of queries: not empty when it is recorded.
DatabaseSession::Statement AcceptedStampRead(const StampOwner& owner, std::string_view stamp);

// Records `stamp` as accepted for the owner in the open business day. Runs
// inside the caller's transaction. Throws DatabaseError.
void RecordAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp,
                         const Clock& clock);

}  // namespace orba
