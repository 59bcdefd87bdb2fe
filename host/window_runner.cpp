#include "host/window_runner.h"

#include <QApplication>
#include <QSystemTrayIcon>

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "host/app_icon.h"
#include "host/frm_pda.h"
#include "host/pinger.h"
#include "host/qt_reachability.h"
#include "host/service.h"
#include "host/stop_signals.h"

namespace orba {

int RunWindowed(Service& service, const std::string& system_dir_option, const RunnerOptions& options) {
  // The window hides behind its icon and message boxes come and go: neither
  // is a reason to end.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(MakeAppIcon());

  FrmPDA* window = nullptr;
  StopSignals stop_signals(service.stop_requested(), [&service, &window]() {
    if (window != nullptr) {
      window->StopService();
      return;
    }
    // A start-up message box is waiting: the start is abandoned at once.
    service.Stop();
    std::fflush(nullptr);
    _exit(0);
  });
  if (!stop_signals.Installed()) return 1;
  if (!service.Start(system_dir_option)) return 1;

  QtReachability reachability(service, options.pinger ? options.pinger : std::make_shared<IcmpPinger>());
  FrmPDA frm(service, reachability, QSystemTrayIcon::isSystemTrayAvailable());
  window = &frm;
  frm.FinishStartUp();
  const int status = QApplication::exec();
  window = nullptr;
  return status;
}

}  // namespace orba
