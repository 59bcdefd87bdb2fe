#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/context.h"
#include "common/database.h"
#include "printing/print_layout.h"

namespace orba {

// Prints the unprinted items of the sale list where they are prepared: one
// ticket per production printer that has items linked to it, then one ticket
// on the starting printer for the items whose product has no printer. A
// printer row without device name turns the whole request into one pre-bill
// on the current printer. Items are marked printed ("S") only once the
// documents they appear on have been handed over: with every document
// delivered, all unprinted items of the sales are marked; when a printer
// fails, the other printers still get their tickets, only the items whose
// every ticket went out are marked, and the rest stay "N" for the next
// request or the retry of pending items. Lines marked printed leave
// item_a_imprimir_pda. What each printer printed is stored once every ticket
// is out, in the transaction that marks the lines: a crash before its commit
// prints the request's tickets again, never loses one. Failures are
// reported through ReportError and give false; the starting printer is
// current again when the routine completes.
// `amounts` only goes on to the pre-bill. Never throws.
bool PrintProductionTickets(Context& context, std::string_view sale_list, std::string_view title,
                            int printer_type, const PrinterSettings& settings,
                            PrintAmounts* amounts = nullptr);


// Which unprinted lines of the sales a ticket covers: all of them (after an
// order), or only those an order of this service left to print (the retry of
// pending items, which never prints lines the back office wrote).
enum class TicketLines { Unprinted, LeftByOrders };

// What PrintTickets did.
struct TicketOutcome {
  bool no_printers = false;  // impressora has no row: nothing was printed
  std::string failure;       // what failed, empty when every ticket went out
};

// What PrintTickets reads first, in one wait for the database, for a caller
// that sends it with something else (an order's commit).
std::vector<DatabaseSession::Statement> TicketReads(Context& context, std::string_view sale_list, TicketLines which);

// PrintProductionTickets without telling the operator. `read`, when given,
// holds the rows of TicketReads of the same arguments, read already.
TicketOutcome PrintTickets(Context& context, std::string_view sale_list, std::string_view title, int printer_type,
                         const PrinterSettings& settings, PrintAmounts* amounts, TicketLines which,
                         std::vector<Recordset>* read = nullptr);

}  // namespace orba
