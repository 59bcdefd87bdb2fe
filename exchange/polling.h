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
// `dispatch` runs the transaction of a request (the host's route table).
void PollingCycle(Context& context, DispatchFunction dispatch);

// The Timer1 event: runs a cycle unless one is already running.
void OnPollingTimer(Context& context, DispatchFunction dispatch);

}  // namespace orba
