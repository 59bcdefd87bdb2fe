#include "host/print_retry_timer.h"

#include "host/service.h"

namespace orba {

PrintRetryTimer::PrintRetryTimer(Service& service) : service_(service), retry_(service.context()) {
  retry_.StartUp();
  timer_.setInterval(kPendingPrintInterval);
  QObject::connect(&timer_, &QTimer::timeout, [this]() {
    // A message box inside a request lets timer events through.
    if (service_.polling().Busy || service_.stop_requested()) return;
    retry_.Retry();
  });
  timer_.start();
}

}  // namespace orba
