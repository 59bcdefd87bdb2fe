#include "host/qt_operator.h"

#include <QString>

namespace orba {

namespace {

QString FromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

std::unique_ptr<QMessageBox> QtOperator::MakeMessageBox(std::string_view text, std::string_view title,
                                                        MessageIcon icon) {
  auto box = std::make_unique<QMessageBox>();
  box->setWindowTitle(FromUtf8(title));
  box->setText(FromUtf8(text));
  box->setTextFormat(Qt::PlainText);
  box->setIcon(icon == MessageIcon::Critical      ? QMessageBox::Critical
               : icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                                  : QMessageBox::Information);
  box->setStandardButtons(QMessageBox::Ok);
  box->setWindowModality(Qt::ApplicationModal);
  return box;
}

void QtOperator::ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  log_.ShowMessage(text, title, icon);
  if (notifier_) {
    notifier_(text, title, icon);
    return;
  }
  MakeMessageBox(text, title, icon)->exec();
}

void QtOperator::LogEvent(std::string_view text) { log_.LogEvent(text); }

void QtOperator::LogNotice(std::string_view text) { log_.LogNotice(text); }

}  // namespace orba
