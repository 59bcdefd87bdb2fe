#include "services/table_status.h"

#include <limits>
#include <optional>

#include "common/database.h"
#include "common/sql_text.h"

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

// The first finalized or locked sale of the place decides over its state.
void CheckPlaceSales(DatabaseSession& session, const std::string& place_id, TableStatus& result) {
  session.SqlClear();
  session.SqlAppend("select lv.nr_orc_loc, vd.ic_tip_ope, vd.nm_comp_lock");
  session.SqlAppend("from local_vnd lv");
  session.SqlAppend("  inner join local l on l.id_loc = lv.id_loc");
  session.SqlAppend("  inner join venda_direta vd on vd.nr_orc_loc = lv.nr_orc_loc");
  session.SqlAppend("where lv.id_loc = " + place_id);
  session.SqlAppend("order by lv.nr_orc_loc");
  Recordset rs = session.Query(session.SqlText());
  for (; !rs.Eof(); rs.MoveNext()) {
    if (rs.Field("ic_tip_ope").Text() == "V") {
      result.status = "V";
      result.message = kOrderFinalized;
      break;
    }
    if (HasText(rs.Field("nm_comp_lock"))) {
      result.status = "B";
      result.message = kOrderLocked;
      break;
    }
  }
  rs.Close();
}

// Writes an attribute the request carries; false when it does not carry it.
bool WriteExisting(pugi::xml_node element, const char* name, std::string_view value) {
  pugi::xml_attribute attribute = element.attribute(name);
  if (!attribute) return false;
  attribute.set_value(std::string(value).c_str());
  return true;
}

// The failure answer; stops at the first attribute the request lacks.
void WriteReadFailure(pugi::xml_node element) {
  if (WriteExisting(element, "status", "X")) WriteExisting(element, "mensagem", kReadFailed);
}

}  // namespace

bool CheckTableStatus(DatabaseSession& session, std::string_view table, TableStatus& result) {
  result.place_id.clear();
  result.people = 1;
  result.message.clear();
  try {
    session.SqlClear();
    session.SqlAppend("select l.ic_atv_ina, l.ic_stt_loc, l.id_loc, l.qt_loc_ocu, l.ic_pap_fil, l.id_amb,");
    session.SqlAppend("       al.ic_ocu_chk_in");
    session.SqlAppend("from local l");
    session.SqlAppend("  inner join ambiente_local al on l.id_amb = al.id_amb");
    session.SqlAppend("where l.nm_loc = '" + SqlEscapeValue(table) + "'");
    Recordset rs = session.Query(session.SqlText());
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
    rs.Close();
    if (!result.place_id.empty()) CheckPlaceSales(session, result.place_id, result);
    return true;
  } catch (const DatabaseError&) {
    return false;
  }
}

bool ReadTablePositions(DatabaseSession& session, std::string_view table, std::string& positions,
                        std::string& account_type) {
  positions.clear();
  account_type.clear();
  try {
    session.SqlClear();
    session.SqlAppend("select lv.nr_pos_com, lv.id_tp_cta, lv.id_loc_ass");
    session.SqlAppend("from local l");
    session.SqlAppend("  inner join local_vnd lv on l.id_loc = lv.id_loc");
    session.SqlAppend("where l.nm_loc = '" + SqlEscapeValue(table) + "'");
    Recordset rs = session.Query(session.SqlText());
    if (rs.Eof()) return true;
    const Value& first_type = rs.Field("id_tp_cta");
    account_type = first_type.IsNull() ? std::string("1") : first_type.Text();
    for (; !rs.Eof(); rs.MoveNext()) {
      const Value& associated = rs.Field("id_loc_ass");
      if (associated.IsNull()) continue;
      positions += rs.Field("nr_pos_com").Text() + "," + associated.Text() + ",";
    }
    if (!positions.empty()) positions.pop_back();
    rs.Close();
    return true;
  } catch (const DatabaseError&) {
    positions.clear();
    return false;
  }
}

void HandleTableStatus(Context& context, pugi::xml_document& request) {
  const pugi::xml_node local = request.find_node([](const pugi::xml_node& node) {
    return node.type() == pugi::node_element && std::string_view(node.name()) == "local";
  });
  if (!local) return;
  try {
    const pugi::xml_attribute mesa = local.attribute("mesa");
    if (!mesa) return WriteReadFailure(local);
    const std::string table = mesa.value();

    TableStatus status;
    if (!CheckTableStatus(context.db, table, status)) return WriteReadFailure(local);
    if (!WriteExisting(local, "status", status.status) || !WriteExisting(local, "mensagem", status.message) ||
        !WriteExisting(local, "ambiente", status.environment)) {
      return WriteReadFailure(local);
    }

    std::string positions;
    std::string account_type;
    if (!ReadTablePositions(context.db, table, positions, account_type)) return WriteReadFailure(local);
    if (!WriteExisting(local, "posisaoAss", positions) || !WriteExisting(local, "tipoConta", account_type) ||
        !WriteExisting(local, "pessoas", std::to_string(status.people))) {
      return WriteReadFailure(local);
    }
  } catch (...) {
    try {
      WriteReadFailure(local);
    } catch (...) {
      // Out of memory while writing the answer: it goes back as it stands.
    }
  }
}

}  // namespace orba
