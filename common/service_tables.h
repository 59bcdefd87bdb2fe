#pragma once
// The tables of the back-office database that belong to this service
// alone. The back office neither reads nor writes them; the service creates
// them at start-up when they are missing.
//
//   controle_pedido_pda   the stamp (datahora) of the last order accepted for
//                         each place or comanda, written in the order's own
//                         transaction, so that a resent order is recognised
//                         even after a crash between the commit and anything
//                         that follows it
//   item_impressora_pda   which production printer has printed which sale
//                         line, so that each printer prints each line once
//   item_a_imprimir_pda   the lines an order of this service has yet to see
//                         printed, so that a printer that failed, or a crash
//                         after the commit, never leaves an item unprinted

namespace orba {

class DatabaseSession;

// Creates the tables (and their keys) when they do not exist yet. Throws
// DatabaseError when that fails.
void EnsureServiceTables(DatabaseSession& db);

}  // namespace orba
