#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "printing/printer_system.h"

namespace orba {

// What an installer runs before enabling the service (orbapda --check): reads
// ORBA.INI, checks the base folder and the exchange folders and that the user
// running the check may read and write them, opens the database and runs the
// start-up checks of the service on it (business day, walk-in customer,
// general parameters), and compares the production printers of the database
// with the installed ones. It never takes the single-instance lock and never
// deletes anything, so it may run beside the service.
//
// Writes one line per check, "OK ..." or "ERRO ...", and returns true when
// every check passed.
bool CheckInstallation(const std::string& system_dir_option, std::unique_ptr<PrinterSystem> printers,
                       std::ostream& out);

}  // namespace orba
