#include "host/routes.h"

#include <string>

#include "common/general_parameters.h"
#include "common/text.h"
#include "orders/comanda_order.h"
#include "orders/table_order.h"
#include "services/cim.h"
#include "services/close.h"
#include "services/comanda_status.h"
#include "services/place_lookup.h"
#include "services/position.h"
#include "services/table_status.h"
#include "services/transfer.h"

namespace orba {

namespace {

struct Route {
  std::string_view code;
  Handler handler;
};

// Codes in the order they are compared. A transaction whose handler is not
// built yet is simply absent: its requests are not answered.
constexpr Route kTableMode[] = {
    {"STM", &HandleTableStatus},
    {"SLA", &HandlePlaceLookup},
    {"PEM", &HandleTableOrder},
    {"CIM", &HandleCimRequest},
    {"TRM", &HandleTableTransfer},
    {"POM", &HandleTablePosition},
    {"FEM", &HandleTableClose},
};

// No SLA in comanda mode: its requests are not answered. The transfer works
// on tables in both modes.
constexpr Route kComandaMode[] = {
    {"STM", &HandleComandaStatus},
    {"PEM", &HandleComandaOrder},
    {"CIM", &HandleCimRequest},
    {"TRM", &HandleTableTransfer},
    {"POM", &HandleComandaPosition},
    {"FEM", &HandleComandaClose},
};

template <std::size_t N>
Handler Lookup(const Route (&routes)[N], const std::string& code) {
  for (const Route& route : routes) {
    if (route.code == code) return route.handler;
  }
  return nullptr;
}

}  // namespace

Handler FindHandler(std::string_view code, bool comanda_mode) {
  const std::string upper = UpperCase(code);
  return comanda_mode ? Lookup(kComandaMode, upper) : Lookup(kTableMode, upper);
}

bool Dispatch(Context& context, std::string_view code, pugi::xml_document& request) {
  const Handler handler = FindHandler(code, context.parameters.IsComandaMode());
  if (handler == nullptr) return false;
  handler(context, request);
  return true;
}

}  // namespace orba
