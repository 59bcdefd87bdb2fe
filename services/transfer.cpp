#include "services/transfer.h"

#include <optional>
#include <string>
#include <vector>

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
  std::string state;  // ic_stt_loc
  Value people;       // qt_loc_ocu as it stands: a number or Null
};

// The first active place named by each of `names`, read together; nothing
// for a name without one. A name that is empty (or only blanks) names no
// place. Each place is held until the transfer ends: what was checked is what
// gets moved.
std::vector<std::optional<Place>> FindActivePlaces(DatabaseSession& db, const std::vector<std::string>& names) {
  const std::string text =
      "select l.id_loc, l.ic_stt_loc, l.qt_loc_ocu\n"
      "from local l\n"
      "where " + db.NameMatches("l.nm_loc", "$1") + "\n"
      "  and l.ic_atv_ina = 'A'" + db.ForUpdate();
  std::vector<DatabaseSession::Statement> reads;
  for (const std::string& name : names) {
    // An empty list of spellings matches no place.
    reads.push_back({text, {TrimSpaces(name).empty() ? db.ListOf(std::vector<std::string>()) : db.NameValue(name)}});
  }
  std::vector<std::optional<Place>> places;
  for (const Recordset& rs : db.Queries(reads)) {
    places.emplace_back();
    if (rs.Eof()) continue;
    places.back() = Place{rs.Field("id_loc").Int(), rs.Field("ic_stt_loc").Text(),
                          rs.Field("qt_loc_ocu").IsNull() ? Value() : Value(rs.Field("qt_loc_ocu").Int())};
  }
  return places;
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
  // Tables grouped under the origin are freed and leave the group; their own
  // sale links stay where they are.
  db.ExecuteSql(
      "update local set ic_stt_loc = 'L', qt_loc_ocu = 0\n"
      "where id_loc in (select la.id_loc_agr from local_agrupado la where la.id_loc = $1)",
      {origin.id});
  db.ExecuteSql("delete from local_agrupado where id_loc = $1", {origin.id});
  // Every sale of the origin, with its position, account type and associated place.
  db.ExecuteSql("update local_vnd set id_loc = $1 where id_loc = $2", {destination.id, origin.id});
  db.ExecuteSql("update local set ic_stt_loc = $1, qt_loc_ocu = $2 where id_loc = $3",
                {origin_state, origin.people, destination.id});
  db.ExecuteSql("update local set qt_loc_ocu = 0, ic_stt_loc = 'L' where id_loc = $1", {origin.id});
}

// The same transfer done earlier in the business day (its answer lost, the
// request sent again): the origin is free now, the transfer is recorded, and
// the destination holds sales.
bool AlreadyMoved(DatabaseSession& db, const Place& origin, const std::optional<Place>& destination) {
  if (!destination || !IsAcceptedStamp(db, StampOwner::TransferFrom(origin.id), SqlNumber(destination->id))) {
    return false;
  }
  return !db.Query("select lv.nr_orc_loc from local_vnd lv where lv.id_loc = $1 limit 1", {destination->id}).Eof();
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
        const std::vector<std::optional<Place>> places = FindActivePlaces(context.db, {origin_name, destination_name});
        const std::optional<Place>& origin = places[0];
        if (!origin) throw Refusal(std::string(kOriginNotFound));
        const std::optional<Place>& destination = places[1];
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
