#pragma once

#include <string_view>

#include "common/context.h"
#include "printing/print_layout.h"

namespace orba {

// Prints the pre-bill ("ORCAMENTO") of the sale list as one document on the
// current printer: header, every item of the sales with unit price and value,
// the totals with discount, freight and the optional service charge, the
// total per person or the signature block. A sale list without items still
// prints its header and zero totals. When `amounts` is given it receives the
// discount and freight totals of the sales. Writes nothing to the database.
// Failures are reported through ReportError and give false. Never throws.
bool PrintPreBill(Context& context, std::string_view sale_list, std::string_view title,
                  int printer_type, const PrinterSettings& settings = {},
                  PrintAmounts* amounts = nullptr);

}  // namespace orba
