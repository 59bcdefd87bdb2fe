#pragma once
// The operator at the PC when the service has a window: during start-up every
// message is a modal message box with a single OK button; once the service
// serves, messages go to the notifier and nothing waits for a click. Each is
// also logged the way the headless form writes it, so the journal keeps what
// was shown.

#include <QMessageBox>

#include <functional>
#include <memory>

#include "common/operator.h"

namespace orba {

class QtOperator final : public Operator {
 public:
  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  void LogEvent(std::string_view text) override;
  void LogNotice(std::string_view text) override;

  using Notifier = std::function<void(std::string_view text, std::string_view title, MessageIcon icon)>;
  // From now on messages go to `notifier` instead of a modal box.
  void NotifyInstead(Notifier notifier) { notifier_ = std::move(notifier); }

  // The box ShowMessage shows: title, text, icon, a single OK button, modal.
  static std::unique_ptr<QMessageBox> MakeMessageBox(std::string_view text, std::string_view title,
                                                     MessageIcon icon);

 private:
  HeadlessOperator log_;
  Notifier notifier_;
};

}  // namespace orba
