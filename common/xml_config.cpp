#include "common/xml_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/safe_file.h"
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

bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& error, std::size_t max_bytes) {
  bytes.clear();
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return ReadRegularDescriptor(fd, path, bytes, error, max_bytes);
}

bool LoadXmlFile(const std::string& path, pugi::xml_document& document, std::string& error, unsigned options) {
  document.reset();
  std::string bytes;
  if (!ReadRegularFile(path, bytes, error)) return false;
  const pugi::xml_parse_result result = document.load_buffer(bytes.data(), bytes.size(), options);
  if (!result) {
    document.reset();
    error = path + ": " + result.description() + " (posição " + std::to_string(result.offset) + ")";
    return false;
  }
  return true;
}

std::string SystemDirectory(std::string_view option_value) {
  std::string folder = TrimSpaces(option_value);
  if (folder.empty()) folder = "/etc/orba/";
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace orba
