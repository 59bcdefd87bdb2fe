#include "host/headless_runner.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

#include "host/pinger.h"
#include "host/print_retry_timer.h"
#include "host/qt_reachability.h"
#include "host/service.h"
#include "host/stop_signals.h"

namespace orba {

int RunHeadless(Service& service, const RunnerOptions& options) {
  QtReachability reachability(service, options.pinger ? options.pinger : std::make_shared<IcmpPinger>());
  StopSignals stop_signals(service.stop_requested(), [&service, &reachability]() {
    reachability.monitor().Cancel();
    service.Stop();
    QCoreApplication::exit(0);
  });
  if (!stop_signals.Installed()) return 1;

  // A request is served as soon as it is complete in the request folder;
  // Timer1 stays for what raises no event (files written by another machine
  // on a network share, files still settling).
  QTimer timer1;
  timer1.setInterval(100);
  QObject::connect(&timer1, &QTimer::timeout, [&service]() { service.Poll(); });
  timer1.start();
  std::unique_ptr<QSocketNotifier> arrivals;
  if (service.intake().EventDescriptor() >= 0) {
    arrivals = std::make_unique<QSocketNotifier>(service.intake().EventDescriptor(), QSocketNotifier::Read);
    QObject::connect(arrivals.get(), &QSocketNotifier::activated, [&service]() { service.Poll(); });
  }

  // What an earlier run or a printer left unprinted goes out now and
  // whenever its printer takes jobs again.
  PrintRetryTimer print_retry(service);

  QTimer timer2;
  timer2.setInterval(options.refresh_interval);
  QObject::connect(&timer2, &QTimer::timeout, [&reachability]() { reachability.Refresh(); });
  if (options.refresh_interval.count() > 0) timer2.start();

  return QCoreApplication::exec();
}

}  // namespace orba
