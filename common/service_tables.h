#pragma once
// The tables of the back-office database that belong to this service
// alone. The back office neither reads nor writes them; the service creates
// them at start-up when they are missing.
//
//   controle_pedido_pda   every request accepted since the business day
//                         opened that must not be applied twice: the stamp
//                         (datahora) of each order per place or comanda, and
//                         each transfer per origin. Written in the request's
//                         own transaction, so that a resend is recognised
//                         even after a crash between the commit and anything
//                         that follows it. Rows of earlier business days are
//                         deleted at start-up.
//   item_impressora_pda   which production printer has printed which sale
//                         line, so that each printer prints each line once
//   item_a_imprimir_pda   the lines an order of this service has yet to see
//                         printed, so that a printer that failed, or a crash
//                         after the commit, never leaves an item unprinted

namespace orba {

class DatabaseSession;

// The open business day (parametro_geral.dt_dia) inside a statement, as the
// day of a controle_pedido_pda row.
inline constexpr const char* kCurrentBusinessDay = "coalesce((select dt_dia from parametro_geral limit 1), '')";

// Creates the tables (and their keys) when they do not exist yet, brings a
// controle_pedido_pda of an earlier version (one stamp per place) to the
// current form, and forgets the requests of earlier business days. Throws
// DatabaseError when that fails.
void EnsureServiceTables(DatabaseSession& db);

}  // namespace orba
