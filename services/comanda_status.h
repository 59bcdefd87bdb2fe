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
// it when the establishment allows. A number that is not a whole number from
// 1 up (ParseComandaNumber), and any database failure, throw (RequestFailure
// or DatabaseError).
//
// An open number is only read. Opening is decided and written under the
// write lock: inside the caller's transaction when one is open (the opening
// is then undone with it), else in a transaction of its own that it commits.
// There is never a second controle_comanda row for a number: one that another
// connection opened first is answered as already open.
void CheckComanda(DatabaseSession& session, std::string_view number, ComandaStatus& result);

// How OpenComanda left the number.
enum class ComandaOpening {
  Refused,      // `result` holds the refusal
  OpenedNow,    // opened by this check: "L" and `retorno_ok`
  AlreadyOpen,  // "L" so far: the comanda's sales decide the rest
};

// CheckComanda up to the comanda's sales, which the caller reads when the
// number was already open (with the other reads it needs). Throws as
// CheckComanda does.
ComandaOpening OpenComanda(DatabaseSession& session, std::string_view number, ComandaStatus& result);

// The refusal text for opening comanda `number` (blocked, with the reason;
// outside every range, bounds included; or the lookup failed); empty when the
// number may be opened. Never throws.
std::string CheckComandaNumber(DatabaseSession& session, long long number);

// STM in comanda mode: the state of the comanda or card `mesa` of the first
// `local` element, written into the attributes the request carries (status,
// mensagem, retornoOK, posisaoAss, tipoConta, pessoas; never ambiente). A
// number that cannot be read or a database failure answers "X" / "Erro na
// leitura".
void HandleComandaStatus(Context& context, pugi::xml_document& request);

}  // namespace orba
