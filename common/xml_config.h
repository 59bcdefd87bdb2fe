#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <pugixml.hpp>

namespace orba {

// Files we read are small; anything bigger is not one of ours.
inline constexpr std::size_t kMaxXmlFileBytes = 4 * 1024 * 1024;

// Reads a whole regular file of at most `max_bytes`: a folder, a device, a
// pipe or a file too big is refused with a reason (no absurd allocation, no
// endless read). Links are followed (a configuration may be one).
bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& error,
                     std::size_t max_bytes = kMaxXmlFileBytes);

// Loads an XML file read by ReadRegularFile. On failure the document is empty
// and `error` says why.
bool LoadXmlFile(const std::string& path, pugi::xml_document& document, std::string& error,
                 unsigned options = pugi::parse_default);

// The attribute `name` (compared without regard to case, on its name without
// namespace prefix) of the element's child number `child` (0-based, elements
// only); `fallback` when there is no such child or attribute.
std::string ReadXmlAttribute(const pugi::xml_node& element, int child, std::string_view name,
                             std::string_view fallback);

// The folder of ORBA.INI, with a trailing '/': the folder the host was given
// (option or environment), else /etc/orba/.
std::string SystemDirectory(std::string_view option_value = {});

}  // namespace orba
