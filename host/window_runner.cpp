#include "host/window_runner.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "host/app_icon.h"
#include "host/failure_notices.h"
#include "host/frm_pda.h"
#include "host/pinger.h"
#include "host/print_retry_timer.h"
#include "host/qt_operator.h"
#include "host/qt_reachability.h"
#include "host/service.h"
#include "host/stop_signals.h"

namespace orba {

int RunWindowed(Service& service, QtOperator& op, const std::string& system_dir_option,
                const RunnerOptions& options) {
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
  // Serving: a failure is listed and notified, never a box that stops the
  // exchange until someone clicks it.
  auto* notices = new FailureNotices(frm.findChild<QSystemTrayIcon*>(), &frm);
  if (auto* layout = qobject_cast<QVBoxLayout*>(frm.layout())) layout->insertWidget(layout->count() - 1, notices);
  op.NotifyInstead([notices](std::string_view text, std::string_view title, MessageIcon icon) {
    notices->Add(text, title, icon);
  });
  PrintRetryTimer print_retry(service);
  const int status = QApplication::exec();
  op.NotifyInstead(nullptr);
  window = nullptr;
  return status;
}

}  // namespace orba
