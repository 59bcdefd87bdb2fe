#include "host/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

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

StopSignals::StopSignals(std::function<void()> stop) {
  if (g_signal_pipe[0] < 0 && pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  notifier_ = std::make_unique<QSocketNotifier>(g_signal_pipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [stop = std::move(stop)]() {
    char bytes[16];
    while (read(g_signal_pipe[0], bytes, sizeof bytes) > 0) {
    }
    stop();
  });
}

StopSignals::~StopSignals() = default;  // the handlers stay: a late signal only writes to the pipe

}  // namespace orba
