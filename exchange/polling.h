#pragma once

#include <atomic>
#include <string_view>

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

class RequestIntake;

// Runs the transaction of a code on a request; false when the code is not
// served (the request is then not answered).
using DispatchFunction = bool (*)(Context&, std::string_view code, pugi::xml_document& request);

// One polling cycle: answers the requests that `intake` finds complete in the
// request folder, one file at a time in order of arrival, including those
// that arrive while the cycle runs. Once `stop` is set no further request is
// taken (the one in hand is finished). `dispatch` runs the transaction of a
// request (the host's route table).
void PollingCycle(Context& context, DispatchFunction dispatch, RequestIntake& intake,
                  const std::atomic<bool>* stop = nullptr);

// Timer1's event, and the wake-up when a request arrives: runs a cycle unless
// one is already running (a message box inside a cycle lets events through;
// the intake then only takes note of what arrived) or a stop was requested.
void OnPollingTimer(Context& context, DispatchFunction dispatch, RequestIntake& intake,
                    const std::atomic<bool>* stop = nullptr);

}  // namespace orba
