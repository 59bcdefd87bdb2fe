#pragma once
// CIM request, the same in both service modes.

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

// Acknowledges a CIM request: the answer is the request exactly as it came,
// and the database is neither read nor written. Nothing a CIM request carries
// (Pedido: tipo, mesa, operador) asks this service for more than that, so the
// handler does nothing at all: it cannot fail, and it cannot change a thing.
void HandleCimRequest(Context& context, pugi::xml_document& request);

}  // namespace orba
