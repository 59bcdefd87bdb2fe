#pragma once

#include <chrono>
#include <memory>

namespace orba {

class Pinger;
class Service;

struct RunnerOptions {
  std::shared_ptr<Pinger> pinger;  // null: the Linux ICMP pinger
  // Timer2, the reachability refresh; zero turns it off.
  std::chrono::milliseconds refresh_interval{60000};
};

// Runs the started service without a window: the arrival of a request and
// Timer1 drive the polling cycle, Timer2 the reachability refresh (state changes of the handhelds are
// logged) on a Qt event loop until SIGTERM or SIGINT, which run the stop
// sequence. Returns the exit status (0 after a stop).
int RunHeadless(Service& service, const RunnerOptions& options = {});

}  // namespace orba
