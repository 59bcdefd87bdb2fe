#include "printing/escpos.h"

#include "common/text.h"

namespace orba {

namespace {

// CP860 codes of the Latin-1 letters that Portuguese uses.
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

std::string Utf8ToCp860(std::string_view text) {
  std::string out;
  for (unsigned char c : Utf8ToLatin1(std::string(text))) out += ToCp860(c);
  return out;
}

std::string EncodeEscPos(const std::vector<std::string>& lines, std::size_t place_line) {
  std::string out = "\x1B@";                                   // ESC @: initialise
  out += "\x1Bt" + std::string(1, static_cast<char>(kEscPosCodePageCp860));  // ESC t n: code page
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool tall = i == place_line;
    if (tall) out += std::string("\x1B!\x10", 3);  // ESC ! 0x10: double height
    out += Utf8ToCp860(lines[i]) + "\n";
    if (tall) out += std::string("\x1B!\x00", 3);
  }
  out += "\x1B" "d" "\x04";  // ESC d 4: feed four lines past the cutter
  out += "\x1D" "V" "\x01";  // GS V 1: partial cut
  return out;
}

}  // namespace orba
