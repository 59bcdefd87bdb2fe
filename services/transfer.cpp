#include "services/transfer.h"

#include <optional>
#include <string>

#include "common/database.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "common/transaction.h"
#include "exchange/failure_path.h"
#include "orders/order_stamp.h"
#include "services/answer_attributes.h"
#include "services/table_status.h"

namespace orba {

namespace {

struct Place {
  long long id = 0;
  std::string state;   // ic_stt_loc
  std::string people;  // qt_loc_ocu as it goes into a statement: a number or null
};

// The first active place of that name; nothing when there is none. A name
// that is empty (or only blanks) names no place.
std::optional<Place> FindActivePlace(DatabaseSession& db, std::string_view name) {
  if (TrimSpaces(name).empty()) return std::nullopt;
  db.SqlClear();
  db.SqlAppend("select l.id_loc, l.ic_stt_loc, l.qt_loc_ocu");
  db.SqlAppend("from local l");
  db.SqlAppend("where " + db.NameMatches("l.nm_loc", name));
  // Held until the transfer ends: what was checked is what gets moved.
  db.SqlAppend(std::string("  and l.ic_atv_ina = 'A'") + db.ForUpdate());
  Recordset rs = db.Query(db.SqlText());
  if (rs.Eof()) return std::nullopt;
  Place place;
  place.id = rs.Field("id_loc").Int();
  place.state = rs.Field("ic_stt_loc").Text();
  const Value& people = rs.Field("qt_loc_ocu");
  place.people = people.IsNull() ? std::string("null") : SqlNumber(people.Int());
  return place;
}

// Why a destination in `state` cannot take the transfer; empty when it can.
std::string DestinationRefusal(std::string_view state, const std::string& name) {
  if (state == kPlaceReserved) {
    return "O local " + name + " está reservado! A transferência deve ser feita para um local Livre.";
  }
  if (state == kPlaceGrouped) {
    return "O local " + name + " está agrupado! A transferência deve ser feita para um local Livre.";
  }
  if (state == kPlaceServed) {
    return "O local " + name + " está em atendimento! A transferência deve ser feita para um local Livre. ";
  }
  if (state == kPlaceAwaitingPayment) {
    return "O local " + name +
           " está aguardando pagamento! A transferência deve ser feita para um local Livre. ";
  }
  return {};
}

// Moves everything of `origin` to `destination`; runs inside the caller's
// transaction, so that either every statement takes effect or none does.
void MovePlace(DatabaseSession& db, const Place& origin, std::string_view origin_state, const Place& destination) {
  const std::string from = SqlNumber(origin.id);
  const std::string to = SqlNumber(destination.id);

  // Tables grouped under the origin are freed and leave the group; their own
  // sale links stay where they are.
  db.SqlClear();
  db.SqlAppend("update local set ic_stt_loc = 'L', qt_loc_ocu = 0");
  db.SqlAppend("where id_loc in (select la.id_loc_agr from local_agrupado la where la.id_loc = " + from + ")");
  db.ExecuteSql(db.SqlText());

  db.SqlClear();
  db.SqlAppend("delete from local_agrupado where id_loc = " + from);
  db.ExecuteSql(db.SqlText());

  // Every sale of the origin, with its position, account type and associated place.
  db.SqlClear();
  db.SqlAppend("update local_vnd set id_loc = " + to);
  db.SqlAppend("where id_loc = " + from);
  db.ExecuteSql(db.SqlText());

  db.SqlClear();
  db.SqlAppend("update local set ic_stt_loc = '" + std::string(origin_state) + "', qt_loc_ocu = " + origin.people);
  db.SqlAppend("where id_loc = " + to);
  db.ExecuteSql(db.SqlText());

  db.SqlClear();
  db.SqlAppend("update local set qt_loc_ocu = 0, ic_stt_loc = 'L'");
  db.SqlAppend("where id_loc = " + from);
  db.ExecuteSql(db.SqlText());
}

// The same transfer done earlier in the business day (its answer lost, the
// request sent again): the origin is free now, the transfer is recorded, and
// the destination holds sales.
bool AlreadyMoved(DatabaseSession& db, const Place& origin, const std::optional<Place>& destination) {
  if (!destination || !IsAcceptedStamp(db, StampOwner::TransferFrom(origin.id), SqlNumber(destination->id))) {
    return false;
  }
  db.SqlClear();
  db.SqlAppend("select lv.nr_orc_loc from local_vnd lv");
  db.SqlAppend("where lv.id_loc = " + SqlNumber(destination->id));
  return !db.Query(db.SqlText()).Eof();
}

void WriteRefusal(pugi::xml_node trm, std::string_view message) {
  if (pugi::xml_attribute status = trm.attribute("status")) status.set_value("1");
  if (pugi::xml_attribute text = trm.attribute("mensagem")) text.set_value(std::string(message).c_str());
}

}  // namespace

void HandleTableTransfer(Context& context, pugi::xml_document& request) {
  const pugi::xml_node trm = FirstElement(request, "TRM");
  if (!trm) return;
  RunHandler(
      context, "transferência de mesa",
      [&]() {
        // A request that cannot carry a refusal is not carried out either.
        RequiredAttribute(trm, "status");
        RequiredAttribute(trm, "mensagem");
        std::string origin_name;
        std::string destination_name;
        if (trm.first_child()) {
          origin_name = RequiredAttribute(trm, "mesaOrigem");
          destination_name = RequiredAttribute(trm, "mesaDestino");
        }

        // Both places are read under the write lock: what is checked is what
        // gets moved.
        TransactionGuard transaction(context.db);
        const std::optional<Place> origin = FindActivePlace(context.db, origin_name);
        if (!origin) throw Refusal(std::string(kOriginNotFound));
        const std::optional<Place> destination = FindActivePlace(context.db, destination_name);
        std::string_view origin_state;
        if (origin->state == kPlaceServed) {
          origin_state = kPlaceServed;
        } else if (origin->state == kPlaceAwaitingPayment) {
          origin_state = kPlaceAwaitingPayment;
        } else if (AlreadyMoved(context.db, *origin, destination)) {
          return;  // done: answered as done, nothing moves twice
        } else {
          throw Refusal(std::string(kOriginNotInService));
        }

        if (!destination) throw Refusal(std::string(kDestinationNotFound));
        // A table moved onto itself (by the same or another spelling of its
        // name) is told so, not that it is being served.
        if (destination->id == origin->id) throw Refusal(std::string(kDestinationIsOrigin));
        const std::string refusal = DestinationRefusal(destination->state, destination_name);
        if (!refusal.empty()) throw Refusal(refusal);

        MovePlace(context.db, *origin, origin_state, *destination);
        RecordAcceptedStamp(context.db, StampOwner::TransferFrom(origin->id), SqlNumber(destination->id),
                            context.clock);
        transaction.Commit();
      },
      [&](const std::string& message) { WriteRefusal(trm, message); },
      [&](const std::exception&) { WriteRefusal(trm, kTransferFailed); });
}

}  // namespace orba
