#pragma once
// Place lookup (SLA, table mode): an occupied place of an environment, found
// by name, with the full name of the customer of its sale. Reads only.

#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "common/context.h"

namespace orba {

class DatabaseSession;

// "\n" written as the two characters; the blank after the second is part of it.
inline constexpr std::string_view kPlaceNotFoundOrFree = "LOCAL\\nNÃO ENCONTRADA.\\n OU NÃO OCUPADO";

struct PlaceLookup {
  std::string place_id;    // local.id_loc; empty when not found
  std::string place_name;  // local.nm_loc; empty when not found
  std::string message;     // the customer's full name, or kPlaceNotFoundOrFree
};

// The place named `place` in environment `environment` that has a sale, with
// the customer of its first sale (lowest sale number). Throws DatabaseError.
PlaceLookup LookUpPlace(DatabaseSession& db, std::string_view place, long long environment);

// SLA: reads mesa and ambiente of the first `local` element and writes
// id_loc, nm_loc and mensagem; "X" / "Erro na leitura" when the request
// cannot be served (an ambiente that is not a whole number included).
void HandlePlaceLookup(Context& context, pugi::xml_document& request);

}  // namespace orba
