#pragma once

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

// PEM in table mode: the order of one table, lines per seat position with
// their options and accompaniments. Writes the sales, links them to the table,
// marks it served, commits, records the request's stamp and prints; the
// document becomes the answer (items removed, `mensagem` set on a refusal).
void HandleTableOrder(Context& context, pugi::xml_document& request);

}  // namespace orba
