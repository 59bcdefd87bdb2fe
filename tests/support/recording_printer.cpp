#include "support/recording_printer.h"

#include <stdexcept>

namespace orba::test {

RecordingPrinter::RecordingPrinter(std::vector<std::string> installed_printers, std::string default_printer)
    : installed(std::move(installed_printers)), current(std::move(default_printer)) {
  if (current.empty() && !installed.empty()) current = installed.front();
}

void RecordingPrinter::MakeCurrent(std::string_view device_name) {
  ++make_current_calls;
  current = std::string(device_name);
}

void RecordingPrinter::SetFont(std::string_view name, std::optional<double> size) {
  font_name_ = std::string(name);
  font_size_ = size;
}

void RecordingPrinter::EndDocument() {
  Document document{current, font_name_, font_size_, std::move(pending_)};
  pending_.clear();
  font_name_.clear();
  font_size_.reset();
  if (fail_all || failing_printers.count(current) > 0) {
    failed_documents.push_back(std::move(document));
    throw std::runtime_error("Impressora " + current + " fora de linha");
  }
  documents.push_back(std::move(document));
}

std::vector<RecordingPrinter::Document> RecordingPrinter::DocumentsOf(const std::string& printer) const {
  std::vector<Document> result;
  for (const auto& document : documents) {
    if (document.printer == printer) result.push_back(document);
  }
  return result;
}

}  // namespace orba::test
