#pragma once
// Loading and saving a request document in the encoding its declaration names.
//
// A request is served only when it is a well-formed XML document with exactly
// one document element, in the encoding it declares: pugixml alone accepts
// more (several root elements, a raw '<' or '&' in a value, a repeated
// attribute, "&#0;" cutting a value short), and none of that may reach a
// handler.

#include <cstddef>
#include <string>

#include <pugixml.hpp>

namespace orba {

// A request file is a handful of kilobytes; anything bigger is not one.
inline constexpr std::size_t kMaxRequestBytes = 1024 * 1024;

// Loads `folder`/`name` into `document`, keeping its declaration. Only a
// regular file is read, never through a link. A file that cannot be read or
// is not a clean document leaves the document empty; the description of the
// failure goes to `error` and false is returned.
bool LoadRequestDocument(const std::string& folder, const std::string& name, pugi::xml_document& document,
                         std::string& error);

// The same checks on bytes already read.
bool ParseRequestDocument(const std::string& bytes, pugi::xml_document& document, std::string& error);

// Saves the document as `folder`/`name` with its own declaration, in the
// encoding that declaration names (ISO-8859-1, UTF-16 with a byte-order mark,
// else UTF-8). Written under a fresh hidden name and renamed, so the
// synchronisation layer never sees half an answer and no link is followed.
bool SaveAnswerDocument(const pugi::xml_document& document, const std::string& folder, const std::string& name,
                        std::string* error = nullptr);

}  // namespace orba
