#pragma once
// Answers written into the attributes of the request: a handler writes only
// attributes that the request carries and adds none.

#include <string_view>

#include <pugixml.hpp>

namespace orba {

inline constexpr std::string_view kReadFailed = "Erro na leitura";

// The first element of that name anywhere in the document; null when none.
pugi::xml_node FirstElement(const pugi::xml_document& document, std::string_view name);

// The attribute's value; throws RequestFailure when the request lacks it.
std::string RequiredAttribute(const pugi::xml_node& element, const char* name);

// Sets an attribute the request carries; throws RequestFailure when it does
// not carry it.
void WriteAttribute(pugi::xml_node element, const char* name, std::string_view value);

// The read-failure answer: status "X", mensagem "Erro na leitura", as far as
// the request carries those attributes (stops at the first one missing).
void WriteReadFailure(pugi::xml_node element);

}  // namespace orba
