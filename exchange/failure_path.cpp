#include "exchange/failure_path.h"

#include "common/operator.h"
#include "exchange/polling_state.h"

namespace orba {

namespace {

constexpr const char* kGenericRefusal = "Erro no Pedido.";

}  // namespace

Refusal::Refusal(std::string message)
    : std::runtime_error(message.empty() ? kGenericRefusal : message),
      message_(message.empty() ? std::string(kGenericRefusal) : std::move(message)) {}

void LogRequestFailure(Context& context, std::string_view what, std::string_view cause) {
  const std::string& file = context.polling.CurrentFile;
  std::string line = file.empty() ? std::string("(pedido)") : file;
  line.append(": ").append(what).append(" - ").append(cause);
  context.op.LogEvent(line);
}

}  // namespace orba
