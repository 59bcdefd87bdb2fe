#include "printing/cups_printer.h"

#include <cups/cups.h>

#include <stdexcept>

#include "common/text.h"

namespace orba {

namespace {

// CP860 (Portuguese DOS) codes of the Latin-1 letters that Portuguese uses;
// other characters outside ASCII print as '?'.
char ToCp860(char32_t c) {
  switch (c) {
    case U'Ç': return '\x80'; case U'ü': return '\x81'; case U'é': return '\x82';
    case U'â': return '\x83'; case U'ã': return '\x84'; case U'à': return '\x85';
    case U'Á': return '\x86'; case U'ç': return '\x87'; case U'ê': return '\x88';
    case U'Ê': return '\x89'; case U'è': return '\x8A'; case U'Í': return '\x8B';
    case U'Ô': return '\x8C'; case U'ì': return '\x8D'; case U'Ã': return '\x8E';
    case U'Â': return '\x8F'; case U'É': return '\x90'; case U'À': return '\x91';
    case U'È': return '\x92'; case U'ô': return '\x93'; case U'õ': return '\x94';
    case U'ò': return '\x95'; case U'Ú': return '\x96'; case U'ù': return '\x97';
    case U'Ì': return '\x98'; case U'Õ': return '\x99'; case U'Ü': return '\x9A';
    case U'Ù': return '\x9D'; case U'Ó': return '\x9F'; case U'á': return '\xA0';
    case U'í': return '\xA1'; case U'ó': return '\xA2'; case U'ú': return '\xA3';
    case U'ñ': return '\xA4'; case U'Ñ': return '\xA5'; case U'ª': return '\xA6';
    case U'º': return '\xA7'; case U'Ò': return '\xA9';
    default: return c < 0x80 ? static_cast<char>(c) : '?';
  }
}

}  // namespace

CupsPrinterSystem::CupsPrinterSystem(CupsSettings settings)
    : format_(settings.format.empty() ? std::string(CUPS_FORMAT_TEXT) : std::move(settings.format)),
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

std::string CupsPrinterSystem::Encode(const std::vector<std::string>& lines, std::string_view code_page) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  if (code_page == "ISO-8859-1" || code_page == "LATIN1" || code_page == "CP1252") {
    return Utf8ToLatin1(text);  // CP1252 agrees with Latin-1 on every accented letter
  }
  if (code_page == "CP860") {
    std::string out;
    const std::string latin1 = Utf8ToLatin1(text);
    for (unsigned char c : latin1) out += ToCp860(c);
    return out;
  }
  return text;
}

void CupsPrinterSystem::EndDocument() {
  std::vector<std::string> lines;
  lines.swap(lines_);
  const std::string printer = CurrentPrinter();
  if (printer.empty()) throw std::runtime_error("Nenhuma impressora CUPS disponível");
  const std::string data = Encode(lines, code_page_);

  const int job = cupsCreateJob(CUPS_HTTP_DEFAULT, printer.c_str(), "OrbaPDA", 0, nullptr);
  if (job == 0) throw std::runtime_error(std::string("CUPS: ") + cupsLastErrorString());
  // Once the document is started, cupsFinishDocument must run to read the
  // server's answer, whatever happened while writing.
  bool sent = false;
  if (cupsStartDocument(CUPS_HTTP_DEFAULT, printer.c_str(), job, "OrbaPDA", format_.c_str(), 1) ==
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
