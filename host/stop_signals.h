#pragma once
// SIGTERM and SIGINT run the stop sequence on the Qt event loop: the signal
// handler only writes a byte to a pipe that a socket notifier watches.

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace orba {

class StopSignals {
 public:
  // `stop` runs on the event loop's thread after SIGTERM or SIGINT.
  explicit StopSignals(std::function<void()> stop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // False when the pipe could not be created (no signal will stop the loop).
  bool Installed() const { return notifier_ != nullptr; }

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace orba
