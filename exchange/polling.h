#pragma once

#include <string_view>

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

// Runs the transaction of a code on a request; false when the code is not
// served (the request is then not answered).
using DispatchFunction = bool (*)(Context&, std::string_view code, pugi::xml_document& request);

// One polling cycle: answers every request waiting in the request folder,
// including those that arrive while the cycle runs, one file at a time.
// `dispatch` is the transaction dispatch; tests may put another in its place.
void PollingCycle(Context& context, DispatchFunction dispatch = nullptr);

// The Timer1 event: runs a cycle unless one is already running.
void OnPollingTimer(Context& context);

}  // namespace orba
