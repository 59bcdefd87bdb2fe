// POM in comanda mode: the position of one comanda, which the check may open.

#include <optional>

#include "common/database.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "exchange/failure_path.h"
#include "services/comanda_status.h"
#include "services/position.h"

namespace orba {

PositionPlace FindComandaPosition(DatabaseSession& db, std::string_view mesa) {
  const std::optional<long long> number = ParseInteger(mesa);
  if (!number) throw RequestFailure("comanda não é um número: '" + std::string(mesa) + "'");
  ComandaStatus status;
  CheckComanda(db, mesa, status);
  PositionPlace place;
  place.listed = true;
  place.status = status.status;
  place.message = status.message;
  place.people = 1;

  db.SqlClear();
  db.SqlAppend("select VD.NR_ORC_LOC");
  db.SqlAppend("from CONTROLE_COMANDA CC, CONTROLE_COMANDA_ORCAMENTO CCO, VENDA_DIRETA VD");
  db.SqlAppend("where CC.NR_CMD = " + SqlNumber(*number));
  db.SqlAppend("  and CC.NR_CMD = CCO.NR_CMD");
  db.SqlAppend("  and CCO.NR_ORC_LOC = VD.NR_ORC_LOC");
  db.SqlAppend("order by VD.NR_ORC_LOC");
  Recordset rs = db.Query(db.SqlText());
  for (; !rs.Eof(); rs.MoveNext()) place.sales.push_back(PositionSale{rs.Field("NR_ORC_LOC").Int(), 1});
  return place;
}

void HandleComandaPosition(Context& context, pugi::xml_document& request) {
  AnswerPosition(context, request, PositionMode::Comanda, &FindComandaPosition);
}

}  // namespace orba
