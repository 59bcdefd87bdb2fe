#include "orders/order_stamp.h"

#include <cstdio>

#include "common/clock.h"
#include "common/database.h"
#include "common/sql_text.h"

namespace orba {

namespace {

std::string OwnerCondition(const StampOwner& owner) {
  return "where ic_tip_loc = '" + std::string(1, owner.kind) + "' and id_loc = " + SqlNumber(owner.id);
}

// The stamp is the handheld's text: it goes in as quoted text, unchanged but
// for the quote characters (a stamp is digits in practice).
std::string QuotedStamp(std::string_view stamp) { return "'" + ReplaceQuotes(stamp) + "'"; }

}  // namespace

bool IsAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp) {
  db.SqlClear();
  db.SqlAppend("select dc_dth_ped from controle_pedido_pda");
  db.SqlAppend(OwnerCondition(owner));
  Recordset rs = db.Query(db.SqlText());
  return !rs.Eof() && rs.Field("dc_dth_ped").Text() == ReplaceQuotes(stamp);
}

void RecordAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp,
                         const Clock& clock) {
  const LocalTime now = clock.Now();
  char when[32];
  std::snprintf(when, sizeof when, "%04d%02d%02d %02d:%02d:%02d", now.year % 10000, now.month % 100,
                now.day % 100, now.hour % 100, now.minute % 100, now.second % 100);
  db.SqlClear();
  db.SqlAppend("insert into controle_pedido_pda (ic_tip_loc, id_loc, dc_dth_ped, dth_grv)");
  db.SqlAppend("values ('" + std::string(1, owner.kind) + "', " + SqlNumber(owner.id) + ", " +
               QuotedStamp(stamp) + ", '" + when + "')");
  db.SqlAppend("on conflict (ic_tip_loc, id_loc) do update");
  db.SqlAppend("set dc_dth_ped = excluded.dc_dth_ped, dth_grv = excluded.dth_grv");
  db.ExecuteSql(db.SqlText());
}

}  // namespace orba
