#include "orders/order_stamp.h"

#include <cstdio>

#include "common/clock.h"
#include "common/database.h"
#include "common/service_tables.h"
#include "common/sql_text.h"

namespace orba {

namespace {


// The stamp is the handheld's text: it goes in as quoted text, unchanged but
// for the quote characters (a stamp is digits in practice).
std::string QuotedStamp(std::string_view stamp) { return "'" + ReplaceQuotes(stamp) + "'"; }

}  // namespace

bool IsAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp) {
  // One lookup of the whole key.
  db.SqlClear();
  db.SqlAppend("select 1 from controle_pedido_pda");
  db.SqlAppend("where ic_tip_loc = '" + std::string(1, owner.kind) + "' and id_loc = " + SqlNumber(owner.id));
  db.SqlAppend("  and dc_dth_ped = " + QuotedStamp(stamp));
  return !db.Query(db.SqlText()).Eof();
}

void RecordAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp,
                         const Clock& clock) {
  const LocalTime now = clock.Now();
  char when[32];
  std::snprintf(when, sizeof when, "%04d%02d%02d %02d:%02d:%02d", now.year % 10000, now.month % 100,
                now.day % 100, now.hour % 100, now.minute % 100, now.second % 100);
  db.SqlClear();
  db.SqlAppend("insert into controle_pedido_pda (ic_tip_loc, id_loc, dc_dth_ped, dt_dia, dth_grv)");
  db.SqlAppend("values ('" + std::string(1, owner.kind) + "', " + SqlNumber(owner.id) + ", " +
               QuotedStamp(stamp) + ", " + kCurrentBusinessDay + ", '" + when + "')");
  // A row of an earlier day not yet forgotten becomes today's.
  db.SqlAppend("on conflict (ic_tip_loc, id_loc, dc_dth_ped) do update");
  db.SqlAppend("set dt_dia = excluded.dt_dia, dth_grv = excluded.dth_grv");
  db.ExecuteSql(db.SqlText());
}

}  // namespace orba
