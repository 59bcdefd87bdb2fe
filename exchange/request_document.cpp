#include "exchange/request_document.h"

#include <cstdio>
#include <filesystem>

#include "common/text.h"

namespace orba {

namespace {

constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_comments | pugi::parse_ws_pcdata;

pugi::xml_encoding DeclaredEncoding(const pugi::xml_document& document) {
  for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
    if (node.type() != pugi::node_declaration) continue;
    // Exactly the names for which loading decoded the file as ISO-8859-1;
    // any other was read as UTF-8 and goes back out the same way.
    const std::string name = UpperCase(node.attribute("encoding").value());
    if (name == "ISO-8859-1" || name == "LATIN1") return pugi::encoding_latin1;
    return pugi::encoding_utf8;
  }
  return pugi::encoding_utf8;
}

}  // namespace

bool LoadRequestDocument(const std::string& path, pugi::xml_document& document, std::string& error) {
  document.reset();
  const pugi::xml_parse_result result = document.load_file(path.c_str(), kParseOptions);
  if (result) {
    error.clear();
    return true;
  }
  document.reset();
  error = result.description();
  if (result.status != pugi::status_file_not_found && result.status != pugi::status_io_error) {
    error += " (posição " + std::to_string(result.offset) + ")";
  }
  return false;
}

bool SaveAnswerDocument(const pugi::xml_document& document, const std::string& path) {
  const std::string temporary = path + ".part";
  // The answer carries the request's own declaration (kept as a node of the
  // document) and no other: a request without one is answered without one,
  // and a request that could not be read is answered by an empty file.
  constexpr unsigned kSaveFormat = pugi::format_raw | pugi::format_no_declaration;
  if (!document.save_file(temporary.c_str(), "", kSaveFormat, DeclaredEncoding(document))) {
    std::remove(temporary.c_str());
    return false;
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace orba
