#include "host/qt_operator.h"

#include "host/failure_notices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

namespace orba {
namespace {

TEST(QtOperator, MessageIsAModalBoxWithTitleTextIconAndOneOkButton) {
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
  } seen;
  // Answered from inside its own event loop, as an operator would.
  QTimer::singleShot(0, [&seen]() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->isModal()};
    box->button(QMessageBox::Ok)->click();
  });
  QtOperator op;
  op.ShowMessage("Falha ao gravar     \r\n - ADO = \r\ndisco cheio    ", "Erro no ORBAPDA     ", MessageIcon::Critical);
  EXPECT_EQ(seen.title, "Erro no ORBAPDA     ");
  EXPECT_EQ(seen.text, "Falha ao gravar     \r\n - ADO = \r\ndisco cheio    ");
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QMessageBox::Ok);
  EXPECT_TRUE(seen.modal);

  EXPECT_EQ(QtOperator::MakeMessageBox("x", "OrbaPDA", MessageIcon::Exclamation)->icon(), QMessageBox::Warning);
  EXPECT_EQ(QtOperator::MakeMessageBox("Erro para montar arquivo de DataHora.     ", "ORBA ",
                                       MessageIcon::Information)
                ->icon(),
            QMessageBox::Information);
}

TEST(QtOperator, WhileServingAMessageIsListedWithoutWaitingForAnyone) {
  QtOperator op;
  FailureNotices notices(nullptr, nullptr);
  op.NotifyInstead([&notices](std::string_view text, std::string_view title, MessageIcon icon) {
    notices.Add(text, title, icon);
  });
  // No box answers it: a modal box would never return.
  op.ShowMessage("Impressão dos tickets de produção     \r\nBAR: desligada    ", "Erro no ORBAPDA     ",
                 MessageIcon::Critical);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  ASSERT_EQ(notices.count(), 1);
  EXPECT_TRUE(notices.item(0)->text().endsWith(
      QString::fromUtf8("Erro no ORBAPDA: Impressão dos tickets de produção      | BAR: desligada")))
      << notices.item(0)->text().toStdString();
  for (int i = 0; i < FailureNotices::kKept + 5; ++i) notices.Add("x", "y", MessageIcon::Information);
  EXPECT_EQ(notices.count(), FailureNotices::kKept);
}

}  // namespace
}  // namespace orba
