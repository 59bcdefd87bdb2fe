#include "host/headless_runner.h"

#include <QCoreApplication>
#include <QTimer>

#include "exchange/polling.h"
#include "host/routes.h"
#include "host/pinger.h"
#include "host/qt_reachability.h"
#include "host/service.h"
#include "host/stop_signals.h"

namespace orba {

int RunHeadless(Service& service, const RunnerOptions& options) {
  QtReachability reachability(service, options.pinger ? options.pinger : std::make_shared<IcmpPinger>());
  StopSignals stop_signals([&service, &reachability]() {
    reachability.monitor().Cancel();
    service.Stop();
    QCoreApplication::exit(0);
  });
  if (!stop_signals.Installed()) return 1;

  QTimer timer1;
  timer1.setInterval(100);
  QObject::connect(&timer1, &QTimer::timeout, [&service]() { OnPollingTimer(service.context(), &Dispatch); });
  timer1.start();

  QTimer timer2;
  timer2.setInterval(options.refresh_interval);
  QObject::connect(&timer2, &QTimer::timeout, [&reachability]() { reachability.Refresh(); });
  if (options.refresh_interval.count() > 0) timer2.start();

  return QCoreApplication::exec();
}

}  // namespace orba
