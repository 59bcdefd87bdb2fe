#pragma once
// Sales an order must not touch: finalized by the back office ("V") or locked
// by a workstation (nm_comp_lock). The status transactions report them, the
// order transactions refuse on them; both ask here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/database.h"

namespace orba {

inline constexpr std::string_view kOrderFinalized = "PEDIDO\\nFINALIZADO.     ";
inline constexpr std::string_view kOrderLocked = "PEDIDO\\nBLOQUEADO.     ";

struct BlockedSale {
  std::string status;   // "V" or "B"
  std::string message;  // kOrderFinalized or kOrderLocked
};

// The first finalized or locked sale among the sales linked to the place
// (local_vnd), in sale-number order; nothing when every sale is open.
// Database failures throw DatabaseError.
std::optional<BlockedSale> FirstBlockedSaleOfPlace(DatabaseSession& db, std::int32_t place);

// The same among the sales of a comanda (controle_comanda_orcamento).
std::optional<BlockedSale> FirstBlockedSaleOfComanda(DatabaseSession& db, long long comanda);

// The reads of the two above, for a caller that sends them with its other
// reads (DatabaseSession::Queries), and the answer taken from their rows.
DatabaseSession::Statement SalesOfPlaceStatement(const DatabaseSession& db, std::int32_t place);
DatabaseSession::Statement SalesOfComandaStatement(const DatabaseSession& db, long long comanda);
std::optional<BlockedSale> FirstBlockedSale(Recordset& sales);

}  // namespace orba
