#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "printing/printer_system.h"

namespace orba {

// Printers as folders: every subfolder of the spool folder is a printer named
// after it, in name order; the default is the one named on the first line of
// the file "default", else the first. Each ended document becomes the next
// numbered file (000001.txt, ...) of its printer's folder, its lines in UTF-8
// each ended by '\n'. Each document also adds one line to fonts.log in the
// spool folder: "<printer>/<file>", the font name and the font size, separated
// by tabs (device and font names hold blanks); the size is empty when none was
// set. Changing the current printer resets the font, as a printer has its own.
// A printer folder holding a file named "offline" refuses documents, as a
// printer that is switched off does. Nothing here is opened through a link: a
// printer folder that is a link is not a printer.
class SpoolPrinterSystem final : public PrinterSystem {
 public:
  explicit SpoolPrinterSystem(std::string folder);

  std::vector<std::string> InstalledPrinters() override;
  std::string CurrentPrinter() override;
  void MakeCurrent(std::string_view device_name) override;
  void SetFont(std::string_view name, std::optional<double> size) override;
  void PrintLine(std::string_view line) override;
  void EndDocument() override;
  void RemoveLeftovers() override;

 private:
  // The number of the last document written to `printer`: read from its
  // folder the first time, then kept, so that a document never costs a
  // listing of all the earlier ones.
  long long LastNumber(const std::string& printer, const std::string& folder);

  std::string folder_;
  std::string current_;
  bool current_chosen_ = false;
  std::string font_name_;
  std::optional<double> font_size_;
  std::vector<std::string> lines_;
  std::map<std::string, long long> last_numbers_;  // by printer
};

}  // namespace orba
