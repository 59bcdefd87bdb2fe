#include "orders/order_stamp.h"

#include <cstdio>

#include "common/clock.h"
#include "common/database.h"
#include "common/service_tables.h"
#include "common/sql_text.h"

namespace orba {

namespace {

// The stamp is the handheld's text: it is stored unchanged but for the quote
// characters (a stamp is digits in practice).
Value StoredStamp(std::string_view stamp) { return Value(ReplaceQuotes(stamp)); }

}  // namespace

DatabaseSession::Statement AcceptedStampRead(const StampOwner& owner, std::string_view stamp) {
  // One lookup of the whole key.
  return {"select 1 from controle_pedido_pda\r"
          "where ic_tip_loc = $1 and id_loc = $2 and dc_dth_ped = $3",
          {std::string(1, owner.kind), owner.id, StoredStamp(stamp)}};
}

bool IsAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp) {
  const DatabaseSession::Statement read = AcceptedStampRead(owner, stamp);
  return !db.Query(read.text, read.values).Eof();
}

void RecordAcceptedStamp(DatabaseSession& db, const StampOwner& owner, std::string_view stamp,
                         const Clock& clock) {
  const LocalTime now = clock.Now();
  char when[32];
  std::snprintf(when, sizeof when, "%04d%02d%02d %02d:%02d:%02d", now.year % 10000, now.month % 100,
                now.day % 100, now.hour % 100, now.minute % 100, now.second % 100);
  // A row of an earlier day not yet forgotten becomes today's.
  db.ExecuteSql(std::string("insert into controle_pedido_pda (ic_tip_loc, id_loc, dc_dth_ped, dt_dia, dth_grv)\r"
                            "values ($1, $2, $3, ") +
                    kCurrentBusinessDay +
                    ", $4)\r"
                    "on conflict (ic_tip_loc, id_loc, dc_dth_ped) do update\r"
                    "set dt_dia = excluded.dt_dia, dth_grv = excluded.dth_grv",
                {std::string(1, owner.kind), owner.id, StoredStamp(stamp), when});
}

}  // namespace orba
