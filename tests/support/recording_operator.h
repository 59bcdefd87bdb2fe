#pragma once

#include <string>
#include <vector>

#include "common/operator.h"

namespace orba::test {

// Remembers every message box and event log entry instead of showing it.
class RecordingOperator final : public Operator {
 public:
  struct Message {
    std::string text;
    std::string title;
    MessageIcon icon;
  };

  void ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) override {
    messages.push_back({std::string(text), std::string(title), icon});
  }
  void LogEvent(std::string_view text) override { events.emplace_back(text); }
  void LogNotice(std::string_view text) override { notices.emplace_back(text); }

  std::vector<Message> messages;
  std::vector<std::string> events;
  std::vector<std::string> notices;
};

}  // namespace orba::test
