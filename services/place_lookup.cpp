#include "services/place_lookup.h"

#include <optional>

#include "common/database.h"
#include "common/text.h"
#include "exchange/failure_path.h"
#include "services/answer_attributes.h"

namespace orba {

PlaceLookup LookUpPlace(DatabaseSession& db, std::string_view place, long long environment) {
  const std::string text =
      "select l.id_loc, l.nm_loc, p.id_pes, p.nm_pes_cpl\n"
      "from local l\n"
      "  inner join local_vnd lv on l.id_loc = lv.id_loc\n"
      "  inner join venda_direta vd on lv.nr_orc_loc = vd.nr_orc_loc\n"
      "  inner join estabelecimento e on vd.id_etb_cli = e.id_etb\n"
      "  inner join pessoa p on e.id_pes = p.id_pes\n"
      "where " + db.NameMatches("l.nm_loc", "$1") + "\n"
      "  and l.id_amb = $2\n"
      // The first sale opened at the place names its customer.
      "order by lv.nr_orc_loc\n"
      "limit 1";
  const Recordset rs = db.Query(text, {db.NameValue(place), environment});
  PlaceLookup found;
  if (rs.Eof()) {
    found.message = kPlaceNotFoundOrFree;
    return found;
  }
  found.place_id = rs.Field("id_loc").Text();
  found.place_name = rs.Field("nm_loc").Text();
  found.message = rs.Field("nm_pes_cpl").Text();
  return found;
}

void HandlePlaceLookup(Context& context, pugi::xml_document& request) {
  const pugi::xml_node local = FirstElement(request, "local");
  if (!local) return;
  RunHandler(
      context, "consulta de local",
      [&]() {
        const std::string place = RequiredAttribute(local, "mesa");
        const std::string environment_text = RequiredAttribute(local, "ambiente");
        const std::optional<long long> environment = ParseInteger(environment_text);
        // Only a whole number reaches the statement.
        if (!environment) throw RequestFailure("ambiente não é um número inteiro");
        const PlaceLookup found = LookUpPlace(context.db, place, *environment);
        WriteAttribute(local, "id_loc", found.place_id);
        WriteAttribute(local, "nm_loc", found.place_name);
        WriteAttribute(local, "mensagem", found.message);
      },
      [](const std::string&) {}, [&](const std::exception&) { WriteReadFailure(local); });
}

}  // namespace orba
