#pragma once
// The DataHora file of a table: xml/Fixos/DataHora_<mesa>.xml records the
// stamp (datahora) of the last order accepted for the table, so that a resent
// order is not applied twice.

#include <string>
#include <string_view>

namespace orba {

struct GeneralParameters;
class Operator;

// The file name part that stands for a table. Ordinary names (letters,
// digits, blanks, '-', '_', accented letters) are kept as they are; every
// other byte (path separators, '.', control characters, '%' itself, and the
// characters other systems forbid in file names) becomes %XX, so that a name
// can never leave xml/Fixos and two different names never share a file.
std::string DataHoraFileKey(std::string_view table);

// Full path of the table's DataHora file.
std::string DataHoraFilePath(const GeneralParameters& parameters, std::string_view table);

// Replaces the table's DataHora file with one recording `stamp` (written
// under a fresh hidden name, then renamed over the old file). On failure
// nothing is left behind, the operator is told, and false is returned.
bool WriteDataHoraFile(const GeneralParameters& parameters, Operator& op, std::string_view table,
                       std::string_view stamp);

}  // namespace orba
