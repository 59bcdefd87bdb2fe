#include "host/headless_runner.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "exchange/polling.h"
#include "host/routes.h"
#include "host/service.h"

namespace orba {

namespace {

int g_signal_pipe[2] = {-1, -1};  // written by the signal handler only

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] auto ignored = write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

int RunHeadless(Service& service) {
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  QSocketNotifier stop_notifier(g_signal_pipe[0], QSocketNotifier::Read);
  QObject::connect(&stop_notifier, &QSocketNotifier::activated, [&service]() {
    service.Stop();
    QCoreApplication::exit(0);
  });

  QTimer timer1;
  timer1.setInterval(100);
  QObject::connect(&timer1, &QTimer::timeout, [&service]() { OnPollingTimer(service.context(), &Dispatch); });
  timer1.start();

  return QCoreApplication::exec();
}

}  // namespace orba
