#pragma once
// Table status (STM in table mode) and the place-state rules that the other
// table transactions share.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "common/context.h"
#include "common/database.h"
#include "orders/sale_state.h"

namespace orba {

// Place states of local.ic_stt_loc.
inline constexpr std::string_view kPlaceFree = "L";
inline constexpr std::string_view kPlaceServed = "E";
inline constexpr std::string_view kPlaceAwaitingPayment = "P";
inline constexpr std::string_view kPlaceReserved = "R";
inline constexpr std::string_view kPlaceGrouped = "A";

// Messages of a table answer; "\n" is written as the two characters, which
// the handheld shows as a line break.
inline constexpr std::string_view kTableNotFound = "MESA\\nNÃO ENCONTRADA.";
inline constexpr std::string_view kTableInactive = "MESA INATIVA.";
inline constexpr std::string_view kCheckInRequired =
    "Local sem Check \\nin, favor \\nverificar com \\na recepção";
inline constexpr std::string_view kTableAwaitingPayment = "MESA\\nEM PROCESSO\\nDE PAGAMENTO";
inline constexpr std::string_view kTableGrouped = "MESA AGRUPADA";
inline constexpr std::string_view kTableReserved = "MESA RESERVADA.";

// What CheckTableStatus finds out about a table. `status` is not cleared by
// CheckTableStatus: a fresh record starts it empty.
struct TableStatus {
  std::string place_id;     // local.id_loc; empty when not found or inactive
  std::int16_t people = 1;  // local.qt_loc_ocu, at least 1
  std::string status;       // N, I, L, E, P, A, R, V, B or empty
  std::string message;
  std::string environment;  // local.id_amb; empty when not found or inactive
};

// The state of the table named `table` (local.nm_loc). Any database or
// conversion failure throws DatabaseError; the record then keeps what was set
// so far.
void CheckTableStatus(DatabaseSession& session, std::string_view table, TableStatus& result);

// The read of the table named `table` (its place and environment rows), for
// DecideTableStatus; a transaction that needs more than the table sends it
// with its other reads.
DatabaseSession::Statement TableStatusStatement(const DatabaseSession& session, std::string_view table);
// What the rows of TableStatusStatement tell, before the table's sales are
// looked at (CheckTableStatus does that too). A conversion failure throws
// DatabaseError.
void DecideTableStatus(const Recordset& rs, TableStatus& result);

// FirstBlockedSaleOfPlace's rule over sales read with other reads: the
// first finalized or locked one in sale-number order among rows of
// nr_orc_loc, ic_tip_ope and nm_comp_lock (in any order; a sale without its
// venda_direta row, Null, is open). With `place`, only the rows whose id_loc
// is that place count.
std::optional<BlockedSale> FirstBlockedAmong(const Recordset& sales, std::optional<long long> place = std::nullopt);

// For the sale links of the table: `positions` lists position and associated
// place of each link that has one, joined by commas ("1,12,2,15");
// `account_type` is id_tp_cta of the first link ("1" when Null). Both empty
// when the table has no links. A database failure throws DatabaseError.
void ReadTablePositions(DatabaseSession& session, std::string_view table, std::string& positions,
                        std::string& account_type);

// STM in table mode: writes the table's state into the attributes of the
// request's first `local` element. Changes nothing in the database.
void HandleTableStatus(Context& context, pugi::xml_document& request);

}  // namespace orba
