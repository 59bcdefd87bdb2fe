#include "printing/cups_printer.h"

#include <cups/cups.h>

#include <stdexcept>

#include "common/text.h"
#include "printing/escpos.h"

namespace orba {

namespace {

// A raw queue: CUPS passes the bytes on untouched to a receipt printer.
bool IsRawQueue(const cups_dest_t& dest) {
  const char* model = cupsGetOption("printer-make-and-model", dest.num_options, dest.options);
  if (model != nullptr && std::string_view(model) == "Local Raw Printer") return true;
  const char* device = cupsGetOption("device-uri", dest.num_options, dest.options);
  const bool driver = model != nullptr && *model != '\0';
  return !driver && device != nullptr && std::string_view(device).rfind("socket://", 0) == 0;
}

}  // namespace

CupsPrinterSystem::CupsPrinterSystem(CupsSettings settings)
    : format_(std::move(settings.format)),
      code_page_(settings.code_page.empty() ? std::string("UTF-8") : UpperCase(settings.code_page)) {}

std::vector<std::string> CupsPrinterSystem::InstalledPrinters() {
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    if (dests[i].instance == nullptr) names.emplace_back(dests[i].name);
  }
  cupsFreeDests(count, dests);
  return names;
}

std::string CupsPrinterSystem::CurrentPrinter() {
  if (current_chosen_) return current_;
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  std::string name;
  if (const cups_dest_t* dest = cupsGetDest(nullptr, nullptr, count, dests)) {
    name = dest->name;
  } else if (count > 0) {
    name = dests[0].name;
  }
  cupsFreeDests(count, dests);
  return name;
}

void CupsPrinterSystem::MakeCurrent(std::string_view device_name) {
  current_ = std::string(device_name);
  current_chosen_ = true;
}

void CupsPrinterSystem::SetFont(std::string_view, std::optional<double>) {
  // A text job has no font: the printer's own is used.
}

void CupsPrinterSystem::PrintLine(std::string_view line) { lines_.emplace_back(line); }

void CupsPrinterSystem::PrintPlaceLine(std::string_view line) {
  place_line_ = lines_.size();
  lines_.emplace_back(line);
}

bool CupsPrinterSystem::SpeaksEscPos(const std::string& device_name) {
  if (!format_.empty()) return false;
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  const cups_dest_t* dest = cupsGetDest(device_name.c_str(), nullptr, count, dests);
  const bool raw = dest != nullptr && IsRawQueue(*dest);
  cupsFreeDests(count, dests);
  return raw;
}

std::string CupsPrinterSystem::JobKind(std::string_view device_name) {
  return SpeaksEscPos(std::string(device_name)) ? "ESC/POS" : "texto";
}

std::string CupsPrinterSystem::Unreachable() {
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 5000, nullptr);
  if (http == nullptr) return std::string("o CUPS não está rodando (") + cupsServer() + ")";
  httpClose(http);
  return {};
}

std::string CupsPrinterSystem::Encode(const std::vector<std::string>& lines, std::string_view code_page) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  if (code_page == "ISO-8859-1" || code_page == "LATIN1" || code_page == "CP1252") {
    return Utf8ToLatin1(text);  // CP1252 agrees with Latin-1 on every accented letter
  }
  if (code_page == "CP860") return Utf8ToCp860(text);
  return text;
}

void CupsPrinterSystem::EndDocument() {
  std::vector<std::string> lines;
  lines.swap(lines_);
  const std::size_t place_line = place_line_;
  place_line_ = kNoPlaceLine;
  const std::string printer = CurrentPrinter();
  if (printer.empty()) throw std::runtime_error("Nenhuma impressora CUPS disponível");
  const bool escpos = SpeaksEscPos(printer);
  const std::string data = escpos ? EncodeEscPos(lines, place_line) : Encode(lines, code_page_);
  const std::string format = escpos ? CUPS_FORMAT_RAW : format_.empty() ? CUPS_FORMAT_TEXT : format_;

  const int job = cupsCreateJob(CUPS_HTTP_DEFAULT, printer.c_str(), "OrbaPDA", 0, nullptr);
  if (job == 0) throw std::runtime_error(std::string("CUPS: ") + cupsLastErrorString());
  // Once the document is started, cupsFinishDocument must run to read the
  // server's answer, whatever happened while writing.
  bool sent = false;
  if (cupsStartDocument(CUPS_HTTP_DEFAULT, printer.c_str(), job, "OrbaPDA", format.c_str(), 1) ==
      HTTP_STATUS_CONTINUE) {
    const bool written =
        cupsWriteRequestData(CUPS_HTTP_DEFAULT, data.data(), data.size()) == HTTP_STATUS_CONTINUE;
    sent = cupsFinishDocument(CUPS_HTTP_DEFAULT, printer.c_str()) == IPP_STATUS_OK && written;
  }
  if (!sent) {
    const std::string reason = cupsLastErrorString();
    cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.c_str(), job, 0);
    throw std::runtime_error("CUPS: " + reason);
  }
}

}  // namespace orba
