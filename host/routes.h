#pragma once

#include <string_view>

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

// The handler of a transaction code in a service mode; nullptr when the code
// is not served in that mode. The code is compared in upper case.
Handler FindHandler(std::string_view code, bool comanda_mode);

// Runs the handler of `code` in the current service mode on the document.
// Returns the answer flag: false when no handler serves the code (the request
// is then not answered).
bool Dispatch(Context& context, std::string_view code, pugi::xml_document& request);

}  // namespace orba
