#pragma once

#include <string>

namespace orba {

struct CommandLine {
  bool headless = false;
  bool help = false;
  bool version = false;
  std::string system_dir;     // --system-dir, else ORBA_SYSTEM_DIR
  std::string printer_spool;  // --printer-spool, else ORBA_PRINTER_SPOOL
  std::string error;          // set when the arguments cannot be understood
};

// Reads the options; the environment fills what the options leave empty.
CommandLine ParseCommandLine(int argc, const char* const* argv);

std::string UsageText();

// Whether a window can be shown: a Qt platform is named (QT_QPA_PLATFORM,
// other than xcb or wayland without their display), or DISPLAY or
// WAYLAND_DISPLAY is set. Without one, QApplication would abort the process.
// `environment` looks a variable up (getenv by default).
bool DisplayAvailable(const char* (*environment)(const char*) = nullptr);

}  // namespace orba
