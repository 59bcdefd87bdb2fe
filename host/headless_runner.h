#pragma once

namespace orba {

class Service;

// Runs the started service without a window: Timer1 drives the polling cycle
// on a Qt event loop until SIGTERM or SIGINT, which run the stop sequence.
// Returns the exit status (0 after a stop).
int RunHeadless(Service& service);

}  // namespace orba
