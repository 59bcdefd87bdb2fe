#pragma once
// Failures that reach the operator while the service serves (printing, the
// database): listed in the window, newest first, and shown as a notification
// of the tray icon where there is one. Nothing waits for anyone to look, so
// the handhelds are served on.

#include <QListWidget>

#include <string_view>

#include "common/operator.h"

class QSystemTrayIcon;

namespace orba {

class FailureNotices final : public QListWidget {
 public:
  // `tray` may be null (no notification area).
  FailureNotices(QSystemTrayIcon* tray, QWidget* parent);
  void Add(std::string_view text, std::string_view title, MessageIcon icon);

  static constexpr int kKept = 50;

 private:
  QSystemTrayIcon* tray_;
};

}  // namespace orba
