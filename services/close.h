#pragma once
// Closing a table or comanda and asking for the bill (FEM). In table mode the
// table goes to "awaiting payment" with its number of people and the account
// type of its sales, in one transaction, and the pre-bills print after the
// commit; in comanda mode only the pre-bill of each sale prints. On success
// the answer is the request unchanged.

#include <string_view>

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

// The failure answer: `status` "X" and this `mensagem`.
inline constexpr std::string_view kCloseFailed = "Erro no fechamento\\nda mesa.";

// Account type whose sales get one pre-bill each; any other prints one
// pre-bill for all the sales of the table.
inline constexpr long long kOneBillPerSale = 2;

// FEM in table mode.
void HandleTableClose(Context& context, pugi::xml_document& request);
// FEM in comanda mode.
void HandleComandaClose(Context& context, pugi::xml_document& request);

}  // namespace orba
