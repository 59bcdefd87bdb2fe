#pragma once
// The person at the back-office PC: message boxes and the system event log.
// The window shows modal boxes; the headless runner writes log lines; tests
// record what was said.

#include <string>
#include <string_view>

namespace orba {

enum class MessageIcon { Critical, Exclamation, Information };

class Operator {
 public:
  virtual ~Operator() = default;
  // A message box with a single OK button. Returns once it has been seen (at
  // once when nobody can see it).
  virtual void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) = 0;
  // One entry of type error in the system event log.
  virtual void LogEvent(std::string_view text) = 0;
  // One entry of type information in the system event log (what a start
  // serves). An operator without such entries writes an event.
  virtual void LogNotice(std::string_view text) { LogEvent(text); }
};

// No window: each message becomes one line "TITLE: TEXT" on standard error,
// line breaks shown as " | ", and a syslog entry.
class HeadlessOperator final : public Operator {
 public:
  HeadlessOperator();
  ~HeadlessOperator() override;
  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override;
  void LogEvent(std::string_view text) override;
  void LogNotice(std::string_view text) override;

  // The line written for a message box (without the final newline).
  static std::string FormatLine(std::string_view text, std::string_view title);
};

}  // namespace orba
