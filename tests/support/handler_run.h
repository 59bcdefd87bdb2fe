#pragma once
// Running a handler on a request written as text, and reading its answer.

#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "common/context.h"

namespace orba::test {

// A document as text, without declaration, whatever the formatting of the
// text it came from.
inline std::string DocumentText(const pugi::xml_document& document) {
  std::ostringstream text;
  document.save(text, "", pugi::format_raw | pugi::format_no_declaration);
  return text.str();
}

// Runs `handler` on `xml` and returns the answer as text.
inline std::string AnswerOf(Handler handler, Context& context, const std::string& xml) {
  pugi::xml_document request;
  EXPECT_TRUE(request.load_string(xml.c_str()));
  handler(context, request);
  return DocumentText(request);
}

// The request as a handler's answer writes it when nothing was changed.
inline std::string Unchanged(const std::string& xml) {
  pugi::xml_document document;
  document.load_string(xml.c_str());
  return DocumentText(document);
}

// An order's answer when stored now or earlier: the request without items.
inline std::string Stored(const std::string& xml) {
  pugi::xml_document document;
  document.load_string(xml.c_str());
  for (const pugi::xpath_node& item : document.select_nodes("//item")) item.parent().remove_child(item.node());
  return DocumentText(document);
}

// Whether an order's answer says that nothing was stored: items kept, the
// message of a failure.
inline bool IsNotRecorded(const std::string& answer) {
  pugi::xml_document document;
  document.load_buffer(answer.data(), answer.size());  // the encoding its declaration names
  const std::string message = document.select_node("//pedido").node().attribute("mensagem").value();
  return document.select_node("//item") && message.rfind("Pedido NÃO gravado:\\n", 0) == 0;
}

// An order's answer when nothing was stored: items kept, and why.
inline std::string NotRecorded(const std::string& xml, const std::string& cause) {
  pugi::xml_document document;
  document.load_string(xml.c_str());
  const std::string message = "Pedido NÃO gravado:\\n" + cause + "\\nEnvie novamente.";
  document.select_node("//pedido").node().attribute("mensagem").set_value(message.c_str());
  return DocumentText(document);
}

// `mensagem` of the answer's first `pedido`.
inline std::string PedidoMessage(const std::string& answer) {
  pugi::xml_document document;
  document.load_string(answer.c_str());
  return document.select_node("//pedido").node().attribute("mensagem").value();
}

}  // namespace orba::test
