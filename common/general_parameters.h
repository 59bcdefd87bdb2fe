#pragma once

#include <cstdint>
#include <string>

namespace orba {

// Set once at start-up and read by everything else.
struct GeneralParameters {
  std::string SystemFolder;   // ends with '/'
  std::string BaseFolder;     // attribute SR of ORBA.INI, used as a prefix as it stands
  std::string RequestFolder;  // BaseFolder + "xml/Enviar"
  std::string AnswerFolder;   // BaseFolder + "xml/Receber"
  std::string BusinessDay;    // "dd/mm/yyyy"
  std::int32_t id_emp_orba = 0;
  std::int32_t id_etb_orba = 0;
  std::string nm_emp;
  std::string sg_fil;
  std::string servername;
  std::string ComandaMode = "N";  // "S" or "N"
  // Decimal separator of the regional settings, for quantities shown to people.
  char DecimalSeparator = '.';

  std::string FixedFolder() const { return BaseFolder + "xml/Fixos"; }
  bool IsComandaMode() const { return ComandaMode == "S"; }
};

}  // namespace orba
