#pragma once
// Loading and saving a request document in the encoding its declaration names.

#include <string>

#include <pugixml.hpp>

namespace orba {

// Loads the file into `document`, keeping its declaration. A file that cannot
// be read or is not well-formed leaves the document empty; the description of
// the failure goes to `error` and false is returned.
bool LoadRequestDocument(const std::string& path, pugi::xml_document& document, std::string& error);

// Saves the document with its own declaration, in the encoding that
// declaration names (ISO-8859-1 or UTF-8). Written to a temporary name and
// renamed, so the synchronisation layer never sees half an answer.
bool SaveAnswerDocument(const pugi::xml_document& document, const std::string& path);

}  // namespace orba
