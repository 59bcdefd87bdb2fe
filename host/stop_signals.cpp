#include "host/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

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

StopSignals::StopSignals(std::atomic<bool>& stop_requested, std::function<void()> stop)
    : stop_requested_(stop_requested), stop_(std::move(stop)) {
  if (g_signal_pipe[0] < 0 && pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  quit_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (quit_fd_ < 0) return;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  watcher_ = std::thread([this]() { Watch(); });
}

StopSignals::~StopSignals() {
  // The handlers stay: a late signal only writes to the pipe.
  if (watcher_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto ignored = write(quit_fd_, &one, sizeof one);
    watcher_.join();
  }
  if (quit_fd_ >= 0) close(quit_fd_);
}

void StopSignals::Watch() {
  for (;;) {
    pollfd watched[2] = {{g_signal_pipe[0], POLLIN, 0}, {quit_fd_, POLLIN, 0}};
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;  // the signal itself may land on this thread
      return;
    }
    if (watched[1].revents != 0) return;
    bool signalled = false;
    char bytes[16];
    while (read(g_signal_pipe[0], bytes, sizeof bytes) > 0) signalled = true;
    if (!signalled) continue;
    stop_requested_.store(true);
    // Queued to the event loop's thread; dropped if the receiver is gone.
    QMetaObject::invokeMethod(&receiver_, [this]() { stop_(); }, Qt::QueuedConnection);
  }
}

}  // namespace orba
