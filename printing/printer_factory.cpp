#include "printing/printer_factory.h"

#include "printing/cups_printer.h"
#include "printing/spool_printer.h"

namespace orba {

std::unique_ptr<PrinterSystem> MakePrinterSystem(const std::string& spool_folder, const CupsSettings& cups) {
  if (!spool_folder.empty()) return std::make_unique<SpoolPrinterSystem>(spool_folder);
  return std::make_unique<CupsPrinterSystem>(cups);
}

}  // namespace orba
