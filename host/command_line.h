#pragma once

#include <string>

namespace orba {

struct CommandLine {
  bool headless = false;
  bool help = false;
  bool version = false;
  bool check = false;         // --check: check the installation, do not serve
  std::string system_dir;     // --system-dir, else ORBA_SYSTEM_DIR
  std::string printer_spool;  // --printer-spool, else ORBA_PRINTER_SPOOL
  std::string cups_format;    // ORBA_CUPS_FORMAT
  std::string cups_code_page; // ORBA_CUPS_CODEPAGE
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
