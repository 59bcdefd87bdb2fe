#pragma once

#include <optional>
#include <string>
#include <vector>

#include "printing/printer_system.h"

namespace orba {

// How documents are handed to CUPS. Receipt printers usually sit on raw
// queues that need their own code page, hence settings rather than guesses.
struct CupsSettings {
  std::string format = "text/plain";  // document format of each job
  std::string code_page = "UTF-8";    // "UTF-8", "ISO-8859-1", "CP1252" or "CP860"
};

// The CUPS destinations as printers; each ended document is one job. A
// printer that is offline keeps the job queued in CUPS.
class CupsPrinterSystem final : public PrinterSystem {
 public:
  explicit CupsPrinterSystem(CupsSettings settings = {});

  std::vector<std::string> InstalledPrinters() override;
  std::string CurrentPrinter() override;
  void MakeCurrent(std::string_view device_name) override;
  void SetFont(std::string_view name, std::optional<double> size) override;
  void PrintLine(std::string_view line) override;
  void EndDocument() override;

  // The bytes sent for a document in a code page ("UTF-8" keeps them).
  static std::string Encode(const std::vector<std::string>& lines, std::string_view code_page);

 private:
  std::string format_;
  std::string code_page_;
  std::string current_;
  bool current_chosen_ = false;
  std::vector<std::string> lines_;
};

}  // namespace orba
