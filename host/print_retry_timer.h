#pragma once
// The retry of pending items on the runner's event loop: once at start-up,
// then every few seconds, never inside a polling cycle.

#include <QTimer>

#include <chrono>

#include "printing/pending_prints.h"

namespace orba {

class Service;

inline constexpr std::chrono::milliseconds kPendingPrintInterval{5000};

class PrintRetryTimer {
 public:
  explicit PrintRetryTimer(Service& service);

 private:
  Service& service_;
  PendingPrintRetry retry_;
  QTimer timer_;
};

}  // namespace orba
