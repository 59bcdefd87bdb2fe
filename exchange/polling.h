#pragma once

#include "common/context.h"

namespace orba {

// One polling cycle: answers every request waiting in the request folder,
// including those that arrive while the cycle runs, one file at a time.
void PollingCycle(Context& context);

// The Timer1 event: runs a cycle unless one is already running.
void OnPollingTimer(Context& context);

}  // namespace orba
