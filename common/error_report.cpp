#include "common/error_report.h"

#include <string>

#include "common/database.h"
#include "common/operator.h"

namespace orba {

void ReportError(Operator& op, const DatabaseSession* session, std::string_view description,
                 std::optional<std::string_view> context) {
  std::string message;
  if (context) {
    message.append(*context).append("     \r\n");
  }
  message.append(description);
  if (session != nullptr && !session->ProviderError().empty()) {
    message.append("\r\n - ADO = \r\n").append(session->ProviderError());
  }
  message.append("    ");
  op.ShowMessage(message, kErrorTitle, MessageIcon::Critical);
}

}  // namespace orba
