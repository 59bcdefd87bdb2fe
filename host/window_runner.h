#pragma once

#include <string>

#include "host/headless_runner.h"

namespace orba {

class QtOperator;
class Service;

// Starts the service (its message boxes are modal boxes now) and runs it with
// its window and tray icon on the running QApplication until the stop button,
// the window listing (and the tray notifying) every later message of `op`,
// the window's close box, SIGTERM or SIGINT. SIGTERM and SIGINT stop it also
// while a start-up message box waits for the operator. Returns the exit
// status: 0 after a stop, 1 when start-up refused to go on.
int RunWindowed(Service& service, QtOperator& op, const std::string& system_dir_option,
                const RunnerOptions& options = {});

}  // namespace orba
