#pragma once
// The bytes of a document for a receipt printer that speaks ESC/POS (the
// thermal printers of kitchens and bars, on a raw queue or a socket://host:9100
// device): initialise, code page CP860, the lines, the place line in double
// height, feed and partial cut.
//
// CP860 (Portuguese) rather than CP850: both hold every letter Portuguese
// uses, but CP860 is the table these printers carry for Portuguese under the
// same number everywhere (ESC t 3 on Epson and on the compatible printers
// sold in Brazil), while the number of CP850 (ESC t 2) and of WPC1252 differ
// between makers.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orba {

inline constexpr std::size_t kNoPlaceLine = static_cast<std::size_t>(-1);
inline constexpr unsigned char kEscPosCodePageCp860 = 3;  // ESC t 3

// The CP860 byte of a text in UTF-8; characters CP860 lacks print as '?'.
std::string Utf8ToCp860(std::string_view text);

// The document: ESC @, ESC t 3, each line in CP860 ended by LF (the line at
// `place_line` between ESC ! 0x10 and ESC ! 0, double height), then ESC d 4
// (feed past the cutter) and GS V 1 (partial cut).
std::string EncodeEscPos(const std::vector<std::string>& lines, std::size_t place_line = kNoPlaceLine);

}  // namespace orba
