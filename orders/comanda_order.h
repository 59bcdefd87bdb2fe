#pragma once

#include <optional>
#include <string_view>

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

// A comanda or card number as the handheld typed it: a whole number from 1
// up to the largest number the back office stores (blanks around it allowed).
// Anything else (letters, zero or a negative number, a decimal, an overflow)
// gives nothing, and never reaches a statement.
std::optional<long long> ParseComandaNumber(std::string_view text);

// PEM in comanda mode: the order of one comanda (`mesa` is its number). The
// lines go into the comanda's first sale; a comanda without a sale gets a new
// sale per position, for the comanda's person. The sales are linked to the
// comanda, committed and printed one by one. A comanda that was never opened
// is refused, and so is an order for a comanda whose sales the back office
// has finalized or locked. An order that carries the stamp of the last order
// accepted for the comanda is a resend and is answered unchanged.
void HandleComandaOrder(Context& context, pugi::xml_document& request);

}  // namespace orba
