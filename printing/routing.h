#pragma once
// Which printer, and what is printed after an order or at the close of a
// table: production tickets on the kitchen and bar printers, or a pre-bill.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/context.h"
#include "common/database.h"
#include "printing/print_layout.h"
#include "printing/printer_system.h"

namespace orba {

// The IMPRESSORA element under the document element of system_folder +
// "ORBA.INI", read anew on every call: TP_IMPR ("0" when the element is
// missing or the attribute missing or empty), EMP_AVANCO (comma-separated
// company ids; pieces that are not numbers are ignored) and DT_EXPEDIR ("S"
// enables). Throws std::runtime_error when the file does not load.
PrinterSettings ReadPrinterSettings(const std::string& system_folder);
std::string ReadPrinterType(const std::string& system_folder);
// The printer type as a number (a 16-bit integer); throws std::runtime_error
// when the text is not one.
int PrinterTypeNumber(std::string_view text);

// Makes the first installed printer whose device name equals `device_name`
// (exactly) current. No match leaves the current printer as it is; returns
// whether one matched.
bool SelectPrinter(PrinterSystem& printers, std::string_view device_name);

// Production tickets (non-empty ticket flag) or the pre-bill of the sale list,
// in the layout of the printer type of ORBA.INI. A blank sale list prints
// nothing. Returns false after reporting a failure (through ReportError); the
// document routines report their own. Never throws.
bool PrintDocument(Context& context, std::string_view sale_list, std::string_view ticket_flag,
                   std::string_view title, PrintAmounts* amounts = nullptr);

// An order's printing, prepared inside its transaction: the printer settings,
// read once for the whole order, and what RouteOrderPrinting reads first,
// which the order sends with its commit. Without settings and reads when it
// cannot tell (ORBA.INI unreadable, a list it refuses): printing then finds
// out and reports for itself. Never throws.
struct OrderPrinting {
  std::optional<PrinterSettings> settings;
  std::vector<DatabaseSession::Statement> reads;
};
OrderPrinting PrepareOrderPrinting(Context& context, std::string_view sale_list);

// Printing after an order, once all its sales are committed:
//   printers in impressora, TP_IMPR not 1  -> production tickets
//   printers in impressora, TP_IMPR 1      -> nothing
//   no printer, ic_imp_orc "S"             -> pre-bill "ORCAMENTO"
//   no printer, ic_imp_orc anything else   -> nothing
// Returns true when everything due was printed (or nothing was due). False
// when something failed: it has been reported to the operator, and items
// that did not reach their printer stay unprinted and go out with the next
// order of their sales or the retry of pending items (pending_prints.h),
// whichever comes first. Never throws. `read`, when given, holds the rows of
// the reads of `prepared`; the settings of `prepared`, when it has them, are
// used instead of reading ORBA.INI again.
bool RouteOrderPrinting(Context& context, std::string_view sale_list, const OrderPrinting* prepared = nullptr,
                        std::vector<Recordset>* read = nullptr);

}  // namespace orba
