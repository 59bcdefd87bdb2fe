#pragma once
// What the other readers of a table's DataHora file find in it.

#include <optional>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "common/general_parameters.h"
#include "common/xml_config.h"
#include "orders/datahora.h"

namespace orba::test {

// Attribute datahora of Data_Hora/Header; nothing when the file is missing,
// cannot be read, or has no such attribute.
inline std::optional<std::string> ReadDataHoraStamp(const GeneralParameters& parameters, std::string_view table) {
  pugi::xml_document document;
  std::string error;
  if (!LoadXmlFile(DataHoraFilePath(parameters, table), document, error)) return std::nullopt;
  const pugi::xml_attribute stamp = document.child("Data_Hora").child("Header").attribute("datahora");
  if (!stamp) return std::nullopt;
  return std::string(stamp.value());
}

}  // namespace orba::test
