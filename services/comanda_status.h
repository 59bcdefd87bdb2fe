#pragma once
// Comanda mode: comandas (numbered consumption cards) and customer cards, their
// status (STM in comanda mode), opening on the spot and validation of numbers.

#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

class DatabaseSession;

// What CheckComanda finds out about a comanda or card number. `status` is not
// cleared by CheckComanda: a fresh record starts it empty.
struct ComandaStatus {
  std::string status;      // L, N, V, B
  std::string message;
  std::string retorno_ok;  // set when the comanda or card was opened by this check
};

// The state of comanda or card `number` (the text the handheld sent), opening
// it when the establishment allows. A number that is not a whole number, and
// any database failure, throw (DatabaseError or RequestFailure).
void CheckComanda(DatabaseSession& session, std::string_view number, ComandaStatus& result);

// The refusal text for opening comanda `number` (blocked, outside every range,
// or the lookup failed); empty when the number may be opened.
std::string CheckComandaNumber(DatabaseSession& session, long long number);

// STM in comanda mode.
void HandleComandaStatus(Context& context, pugi::xml_document& request);

}  // namespace orba
