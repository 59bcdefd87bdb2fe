#pragma once

#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace orba {

// The attribute `name` (compared without regard to case, on its name without
// namespace prefix) of the element's child number `child` (0-based, elements
// only); `fallback` when there is no such child or attribute.
std::string ReadXmlAttribute(const pugi::xml_node& element, int child, std::string_view name,
                             std::string_view fallback);

// The folder of ORBA.INI, with a trailing '/': the folder the host was given
// (option or environment), else /etc/orba/.
std::string SystemDirectory(std::string_view option_value = {});

}  // namespace orba
