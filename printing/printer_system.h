#pragma once
// The printers of the machine: the installed ones by device name in system
// order, the default one, the current one, and documents made of lines.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orba {

class PrinterSystem {
 public:
  virtual ~PrinterSystem() = default;
  // Device names of the installed printers, in system order.
  virtual std::vector<std::string> InstalledPrinters() = 0;
  // Device name of the current printer; it starts as the default printer.
  // Empty when the machine has no printer.
  virtual std::string CurrentPrinter() = 0;
  virtual void MakeCurrent(std::string_view device_name) = 0;
  // Font of the document being printed; without a size the printer keeps the
  // size it has.
  virtual void SetFont(std::string_view name, std::optional<double> size) = 0;
  virtual void PrintLine(std::string_view line) = 0;
  // The line that names the place of a ticket or pre-bill: taller where the
  // printer can print it so.
  virtual void PrintPlaceLine(std::string_view line) { PrintLine(line); }
  // Sends the lines printed since the last end as one document to the current
  // printer. Throws std::runtime_error when the document cannot be handed over;
  // the lines of that document are dropped either way.
  virtual void EndDocument() = 0;

  // How documents reach `device_name`, for the installation check: "ESC/POS"
  // or "texto".
  virtual std::string JobKind(std::string_view) { return "texto"; }
  // Why no printer can be reached at all (the printing service is not
  // running); empty when it answers.
  virtual std::string Unreachable() { return {}; }

  // At start-up: removes what a write cut short by a crash left in the
  // printers' own folders. Nothing to do where the system keeps the jobs.
  virtual void RemoveLeftovers() {}
};

}  // namespace orba
