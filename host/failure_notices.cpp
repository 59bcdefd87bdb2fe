#include "host/failure_notices.h"

#include <QSystemTrayIcon>
#include <QTime>

namespace orba {

namespace {

QString FromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

FailureNotices::FailureNotices(QSystemTrayIcon* tray, QWidget* parent) : QListWidget(parent), tray_(tray) {
  setObjectName(QStringLiteral("listFalhas"));
  setMaximumHeight(90);
}

void FailureNotices::Add(std::string_view text, std::string_view title, MessageIcon icon) {
  QString line = FromUtf8(text).trimmed();
  line.replace(QStringLiteral("\r\n"), QStringLiteral(" | "));
  line.replace(QLatin1Char('\r'), QStringLiteral(" | "));
  line.replace(QLatin1Char('\n'), QStringLiteral(" | "));
  insertItem(0, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") +
                    FromUtf8(title).trimmed() + QStringLiteral(": ") + line);
  while (count() > kKept) delete takeItem(count() - 1);
  if (tray_ != nullptr && QSystemTrayIcon::supportsMessages()) {
    tray_->showMessage(FromUtf8(title).trimmed(), FromUtf8(text).trimmed(),
                       icon == MessageIcon::Critical      ? QSystemTrayIcon::Critical
                       : icon == MessageIcon::Exclamation ? QSystemTrayIcon::Warning
                                                          : QSystemTrayIcon::Information);
  }
}

}  // namespace orba
