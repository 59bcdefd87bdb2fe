#include "host/qt_reachability.h"

#include <QTimer>

#include <syslog.h>

#include <cstdio>

#include "exchange/polling_state.h"
#include "host/service.h"

namespace orba {

void LogNotice(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  syslog(LOG_NOTICE, "%s", text.c_str());
}

QtReachability::QtReachability(Service& service, std::shared_ptr<Pinger> pinger)
    : polling_(service.polling()),
      monitor_(service.session(), service.context().op, std::move(pinger), [this](std::function<void()> call) {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
      }) {
  monitor_.on_state_change = &LogNotice;
}

void QtReachability::Refresh() {
  if (monitor_.Running()) return;
  if (polling_.Busy) {
    if (!deferred_) {
      deferred_ = true;
      QTimer::singleShot(100, this, [this]() {
        deferred_ = false;
        Refresh();
      });
    }
    return;
  }
  monitor_.Refresh();
}

}  // namespace orba
