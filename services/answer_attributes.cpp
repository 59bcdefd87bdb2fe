#include "services/answer_attributes.h"

#include <string>

#include "exchange/failure_path.h"

namespace orba {

pugi::xml_node FirstElement(const pugi::xml_document& document, std::string_view name) {
  return document.find_node([name](const pugi::xml_node& node) {
    return node.type() == pugi::node_element && std::string_view(node.name()) == name;
  });
}

std::string RequiredAttribute(const pugi::xml_node& element, const char* name) {
  const pugi::xml_attribute attribute = element.attribute(name);
  if (!attribute) throw RequestFailure(std::string("atributo ausente: ") + name);
  return attribute.value();
}

void WriteAttribute(pugi::xml_node element, const char* name, std::string_view value) {
  pugi::xml_attribute attribute = element.attribute(name);
  if (!attribute) throw RequestFailure(std::string("atributo ausente na resposta: ") + name);
  attribute.set_value(std::string(value).c_str());
}

void WriteReadFailure(pugi::xml_node element) {
  pugi::xml_attribute status = element.attribute("status");
  if (!status) return;
  status.set_value("X");
  pugi::xml_attribute message = element.attribute("mensagem");
  if (message) message.set_value(std::string(kReadFailed).c_str());
}

}  // namespace orba
