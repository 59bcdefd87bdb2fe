#pragma once
// The reachability monitor on the Qt event loop: the echoes' results come
// back as queued calls on this object's thread.

#include <QObject>

#include <memory>

#include "host/reachability.h"

namespace orba {

class Pinger;
class Service;
struct PollingState;

class QtReachability : public QObject {
 public:
  // State changes of the handhelds are logged (standard error and syslog).
  QtReachability(Service& service, std::shared_ptr<Pinger> pinger);

  ReachabilityMonitor& monitor() { return monitor_; }
  // Starts a refresh now or, while a polling cycle is in the middle of its
  // work (a message box lets timer events through), as soon as it is over:
  // both build their statements in the session's one buffer.
  void Refresh();

 private:
  PollingState& polling_;
  ReachabilityMonitor monitor_;
  bool deferred_ = false;
};

// One line on standard error and a syslog notice.
void LogNotice(const std::string& text);

}  // namespace orba
