#pragma once

#include <memory>
#include <string>

#include "printing/cups_printer.h"
#include "printing/printer_system.h"

namespace orba {

// The spool folder backend when a folder is given, CUPS otherwise.
std::unique_ptr<PrinterSystem> MakePrinterSystem(const std::string& spool_folder,
                                                 const CupsSettings& cups = {});

}  // namespace orba
