#pragma once
// Table transfer (TRM): everything open at one table (the origin) moves to a
// free table (the destination). The same handler serves both service modes;
// it always works on tables.

#include <string_view>

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

// Refusals of a transfer ("D" is the destination name as the handheld sent it).
inline constexpr std::string_view kOriginNotFound = "Local de Origem não encontrado ou inativo.";
inline constexpr std::string_view kOriginNotInService =
    "Local de Origem deve estar 'Em atendimento' ou 'Aguardando pagto' para ser feita a transferência.";
inline constexpr std::string_view kDestinationNotFound = "Local de Destino não encontrado ou inativo.";
inline constexpr std::string_view kDestinationIsOrigin =
    "Local de Destino igual ao Local de Origem. A transferência deve ser feita para outro local.";
inline constexpr std::string_view kTransferFailed =
    "Erro desconhecido na transferência de locais. Tente novamente.";

// TRM: reads mesaOrigem and mesaDestino of the TRM element (only when that
// element has content; otherwise both are empty and the origin is not found),
// checks both places and moves, in one transaction, the origin's sale links,
// state and people count to the destination; the origin and the tables
// grouped under it end free and ungrouped. Success leaves the request as it
// came; a refusal or failure writes status "1" and the message.
//
// The stamps of the orders accepted for the origin (controle_pedido_pda) stay
// with the origin: a resend of one of the origin's orders is still recognised
// after the move and answered without being applied to the now free table.
// The transfer itself is recorded there too (under the origin, with the
// destination): sent again once done (the origin free, the destination
// holding sales), it is answered as done and nothing moves twice.
void HandleTableTransfer(Context& context, pugi::xml_document& request);

}  // namespace orba
