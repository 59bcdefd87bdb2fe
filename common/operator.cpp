#include "common/operator.h"

#include <syslog.h>

#include <cstdio>

namespace orba {

HeadlessOperator::HeadlessOperator() { openlog("orbapda", LOG_PID, LOG_DAEMON); }

HeadlessOperator::~HeadlessOperator() { closelog(); }

std::string HeadlessOperator::FormatLine(std::string_view text, std::string_view title) {
  std::string line(title);
  line += ": ";
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      line += " | ";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += text[i];
    }
  }
  return line;
}

void HeadlessOperator::ShowMessage(std::string_view text, std::string_view title, MessageIcon icon) {
  const std::string line = FormatLine(text, title);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  const int priority = icon == MessageIcon::Critical      ? LOG_ERR
                       : icon == MessageIcon::Exclamation ? LOG_WARNING
                                                          : LOG_INFO;
  syslog(priority, "%s", line.c_str());
}

namespace {

void WriteLogLine(std::string_view text, int priority) {
  const std::string line(text);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  syslog(priority, "%s", line.c_str());
}

}  // namespace

void HeadlessOperator::LogEvent(std::string_view text) { WriteLogLine(text, LOG_ERR); }

void HeadlessOperator::LogNotice(std::string_view text) { WriteLogLine(text, LOG_INFO); }

}  // namespace orba
