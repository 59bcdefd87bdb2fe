#pragma once
// SIGTERM and SIGINT: the signal handler only writes a byte to a pipe. A
// watcher thread reading that pipe sets the service's stop request at once,
// so that a polling cycle in the middle of a burst takes no further request
// and a wait for a database lock ends, and then has the stop sequence run on
// the event loop's thread as soon as that thread is free.

#include <QObject>

#include <atomic>
#include <functional>
#include <thread>

namespace orba {

class StopSignals {
 public:
  // `stop` runs on the thread that creates the object (the event loop's),
  // after `stop_requested` has been set.
  StopSignals(std::atomic<bool>& stop_requested, std::function<void()> stop);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // False when the pipe or the watcher could not be set up (no signal will
  // stop the loop).
  bool Installed() const { return watcher_.joinable(); }

 private:
  void Watch();

  std::atomic<bool>& stop_requested_;
  std::function<void()> stop_;
  QObject receiver_;  // lives on the creating thread: the stop is queued to it
  int quit_fd_ = -1;  // ends the watcher
  std::thread watcher_;
};

}  // namespace orba
