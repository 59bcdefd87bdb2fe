#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "printing/printer_system.h"

namespace orba {

// How documents are handed to CUPS. Without a format, a raw queue (a
// receipt printer: CUPS names no driver, "Local Raw Printer", or a socket://
// device without one) gets ESC/POS and every other queue text/plain in the
// code page. A format given is used for every queue, as it stands.
struct CupsSettings {
  std::string format;               // document format of each job; empty: chosen per queue
  std::string code_page = "UTF-8";  // of text jobs: "UTF-8", "ISO-8859-1", "CP1252" or "CP860"
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
  void PrintPlaceLine(std::string_view line) override;
  void EndDocument() override;
  std::string JobKind(std::string_view device_name) override;
  std::string Unreachable() override;

  // The bytes sent for a document in a code page ("UTF-8" keeps them).
  static std::string Encode(const std::vector<std::string>& lines, std::string_view code_page);

 private:
  // Whether the destination is a raw queue that gets ESC/POS.
  bool SpeaksEscPos(const std::string& device_name);

  std::string format_;
  std::string code_page_;
  std::string current_;
  bool current_chosen_ = false;
  std::vector<std::string> lines_;
  std::size_t place_line_ = static_cast<std::size_t>(-1);
};

}  // namespace orba
