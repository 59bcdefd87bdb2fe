#pragma once
// The operator at the PC when the service has a window: every message is a
// modal message box with a single OK button, and is also logged the way the
// headless form writes it, so the journal keeps what was shown.

#include <QMessageBox>

#include <memory>

#include "common/operator.h"

namespace orba {

class QtOperator final : public Operator {
 public:
  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  void LogEvent(std::string_view text) override;
  void LogNotice(std::string_view text) override;

  // The box ShowMessage shows: title, text, icon, a single OK button, modal.
  static std::unique_ptr<QMessageBox> MakeMessageBox(std::string_view text, std::string_view title,
                                                     MessageIcon icon);

 private:
  HeadlessOperator log_;
};

}  // namespace orba
