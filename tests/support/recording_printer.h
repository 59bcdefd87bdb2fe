#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "printing/printer_system.h"

namespace orba::test {

// Printers in memory: the installed list and the default are set by the test;
// every ended document is kept with its printer, font and lines.
class RecordingPrinter final : public PrinterSystem {
 public:
  struct Document {
    std::string printer;
    std::string font_name;
    std::optional<double> font_size;
    std::vector<std::string> lines;
  };

  explicit RecordingPrinter(std::vector<std::string> installed = {}, std::string default_printer = {});

  std::vector<std::string> InstalledPrinters() override { return installed; }
  std::string CurrentPrinter() override { return current; }
  void MakeCurrent(std::string_view device_name) override;
  void SetFont(std::string_view name, std::optional<double> size) override;
  void PrintLine(std::string_view line) override { pending_.emplace_back(line); }
  void EndDocument() override;

  // Documents sent to one printer, in order.
  std::vector<Document> DocumentsOf(const std::string& printer) const;

  std::vector<std::string> installed;
  std::string current;
  std::vector<Document> documents;         // handed over
  std::vector<Document> failed_documents;  // refused by EndDocument
  // EndDocument throws for these printers (or for every printer).
  std::set<std::string> failing_printers;
  bool fail_all = false;
  int make_current_calls = 0;

 private:
  std::string font_name_;
  std::optional<double> font_size_;
  std::vector<std::string> pending_;
};

}  // namespace orba::test
