#include "services/table_status.h"

#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "common/database.h"
#include "common/sql_text.h"
#include "exchange/failure_path.h"
#include "services/answer_attributes.h"

namespace orba {

namespace {

bool HasText(const Value& value) { return !value.IsNull() && !value.Text().empty(); }

std::int16_t PeopleCount(const Value& value) {
  const long long count = value.Int();
  if (count > std::numeric_limits<std::int16_t>::max() || count < std::numeric_limits<std::int16_t>::min()) {
    throw DatabaseError("Estouro de capacidade");
  }
  // Nobody at the table still counts as one person, and so does a count
  // that makes no sense.
  return count < 1 ? std::int16_t{1} : static_cast<std::int16_t>(count);
}

void DecidePlaceState(const Recordset& rs, TableStatus& result) {
  const std::string state = rs.Field("ic_stt_loc").Text();
  if (state == kPlaceFree) {
    result.status = "L";
    result.message = rs.Field("ic_ocu_chk_in").Text() == "S" ? std::string(kCheckInRequired) : std::string();
  } else if (state == kPlaceServed) {
    result.status = "E";
    result.message.clear();
  } else if (state == kPlaceAwaitingPayment) {
    result.status = "P";
    result.message = kTableAwaitingPayment;
    if (rs.Field("ic_pap_fil").Text() == "S") {
      // Every order of this place opens a sale of its own: it may go on
      // ordering while the earlier sales are being paid.
      result.status = "E";
      result.message.clear();
    }
  } else if (state == kPlaceGrouped) {
    result.status = "A";
    result.message = kTableGrouped;
  } else if (state == kPlaceReserved) {
    result.status = "R";
    result.message = kTableReserved;
  } else {
    result.message.clear();
  }
}

}  // namespace

DatabaseSession::Statement TableStatusStatement(const DatabaseSession& session, std::string_view table) {
  return {"select l.ic_atv_ina, l.ic_stt_loc, l.id_loc, l.qt_loc_ocu, l.ic_pap_fil, l.id_amb,\n"
          "       al.ic_ocu_chk_in\n"
          "from local l\n"
          "  inner join ambiente_local al on l.id_amb = al.id_amb\n"
          "where " + session.NameMatches("l.nm_loc", "$1"),
          {session.NameValue(table)}};
}

void DecideTableStatus(const Recordset& rs, TableStatus& result) {
  result.place_id.clear();
  result.people = 1;
  result.message.clear();
  if (rs.Eof()) {
    result.status = "N";
    result.message = kTableNotFound;
  } else if (rs.Field("ic_atv_ina").Text() == "I") {
    result.status = "I";
    result.message = kTableInactive;
  } else {
    DecidePlaceState(rs, result);
    result.place_id = SqlNumber(rs.Field("id_loc").Int());
    result.environment = rs.Field("id_amb").Text();
    if (HasText(rs.Field("qt_loc_ocu"))) result.people = PeopleCount(rs.Field("qt_loc_ocu"));
  }
}

std::optional<BlockedSale> FirstBlockedAmong(const Recordset& sales, std::optional<long long> place) {
  std::map<long long, std::pair<std::string, std::string>> states;  // by sale number
  for (Recordset rs = sales; !rs.Eof(); rs.MoveNext()) {
    if (place && rs.Field("id_loc").Int() != *place) continue;
    states[rs.Field("nr_orc_loc").Int()] = {rs.Field("ic_tip_ope").Text(), rs.Field("nm_comp_lock").Text()};
  }
  for (const auto& [sale, state] : states) {
    if (state.first == "V") return BlockedSale{"V", std::string(kOrderFinalized)};
    if (!state.second.empty()) return BlockedSale{"B", std::string(kOrderLocked)};
  }
  return std::nullopt;
}

namespace {

// The state of the sales of every place of that name, for the place found.
DatabaseSession::Statement TableSalesStatement(const DatabaseSession& session, std::string_view table) {
  return {"select l.id_loc, lv.nr_orc_loc, vd.ic_tip_ope, vd.nm_comp_lock\n"
          "from local l\n"
          "  inner join local_vnd lv on l.id_loc = lv.id_loc\n"
          "  inner join venda_direta vd on vd.nr_orc_loc = lv.nr_orc_loc\n"
          "where " + session.NameMatches("l.nm_loc", "$1"),
          {session.NameValue(table)}};
}

// The rows of TableStatusStatement, then the sales of the place found: a
// finalized or locked one decides last.
void DecideWithSales(const Recordset& place, const Recordset& sales, TableStatus& result) {
  DecideTableStatus(place, result);
  if (result.place_id.empty()) return;
  if (const auto blocked = FirstBlockedAmong(sales, place.Field("id_loc").Int())) {
    result.status = blocked->status;
    result.message = blocked->message;
  }
}

DatabaseSession::Statement TablePositionsStatement(const DatabaseSession& session, std::string_view table) {
  return {"select lv.nr_pos_com, lv.id_tp_cta, lv.id_loc_ass\n"
          "from local l\n"
          "  inner join local_vnd lv on l.id_loc = lv.id_loc\n"
          "where " + session.NameMatches("l.nm_loc", "$1"),
          {session.NameValue(table)}};
}

void ListTablePositions(Recordset& rs, std::string& positions, std::string& account_type) {
  positions.clear();
  account_type.clear();
  if (rs.Eof()) return;
  const Value& first_type = rs.Field("id_tp_cta");
  std::string types = first_type.IsNull() ? std::string("1") : first_type.Text();
  std::string list;
  for (; !rs.Eof(); rs.MoveNext()) {
    // Orders write 0 for a position without an associated place: none.
    const std::string associated = rs.Field("id_loc_ass").Text();
    if (associated.empty() || associated == "0") continue;
    list += rs.Field("nr_pos_com").Text() + "," + associated + ",";
  }
  if (!list.empty()) list.pop_back();
  positions = std::move(list);
  account_type = std::move(types);
}

}  // namespace

void CheckTableStatus(DatabaseSession& session, std::string_view table, TableStatus& result) {
  const std::vector<Recordset> read =
      session.Queries({TableStatusStatement(session, table), TableSalesStatement(session, table)});
  DecideWithSales(read[0], read[1], result);
}

void ReadTablePositions(DatabaseSession& session, std::string_view table, std::string& positions,
                        std::string& account_type) {
  positions.clear();
  account_type.clear();
  const DatabaseSession::Statement read = TablePositionsStatement(session, table);
  Recordset rs = session.Query(read.text, read.values);
  ListTablePositions(rs, positions, account_type);
}

void HandleTableStatus(Context& context, pugi::xml_document& request) {
  const pugi::xml_node local = FirstElement(request, "local");
  if (!local) return;
  RunHandler(
      context, "situação da mesa",
      [&]() {
        const std::string table = RequiredAttribute(local, "mesa");
        // The table, its sales and its positions in one round trip.
        std::vector<Recordset> read =
            context.db.Queries({TableStatusStatement(context.db, table), TableSalesStatement(context.db, table),
                                TablePositionsStatement(context.db, table)});
        TableStatus status;
        DecideWithSales(read[0], read[1], status);
        WriteAttribute(local, "status", status.status);
        WriteAttribute(local, "mensagem", status.message);
        WriteAttribute(local, "ambiente", status.environment);

        std::string positions;
        std::string account_type;
        ListTablePositions(read[2], positions, account_type);
        WriteAttribute(local, "posisaoAss", positions);
        WriteAttribute(local, "tipoConta", account_type);
        WriteAttribute(local, "pessoas", std::to_string(status.people));
      },
      [](const std::string&) {}, [&](const std::exception&) { WriteReadFailure(local); });
}

}  // namespace orba
