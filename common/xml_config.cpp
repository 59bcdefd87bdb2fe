#include "common/xml_config.h"

#include <cstdlib>

#include "common/text.h"

namespace orba {

namespace {

std::string_view BaseName(std::string_view qualified) {
  const auto colon = qualified.find(':');
  return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

}  // namespace

std::string ReadXmlAttribute(const pugi::xml_node& element, int child, std::string_view name,
                             std::string_view fallback) {
  if (child < 0) return std::string(fallback);
  int index = 0;
  for (pugi::xml_node node = element.first_child(); node; node = node.next_sibling()) {
    if (node.type() != pugi::node_element) continue;
    if (index++ != child) continue;
    const std::string wanted = UpperCase(name);
    for (pugi::xml_attribute attribute : node.attributes()) {
      if (UpperCase(BaseName(attribute.name())) == wanted) return attribute.value();
    }
    break;
  }
  return std::string(fallback);
}

std::string SystemDirectory(std::string_view option_value) {
  std::string folder = TrimSpaces(option_value);
  if (folder.empty()) folder = "/etc/orba/";
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace orba
