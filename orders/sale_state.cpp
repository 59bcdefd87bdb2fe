#include "orders/sale_state.h"

#include "common/database.h"
#include "common/sql_text.h"

namespace orba {

namespace {

// Rows of ic_tip_ope and nm_comp_lock, in the order that decides.
std::optional<BlockedSale> FirstBlocked(Recordset& sales) {
  for (; !sales.Eof(); sales.MoveNext()) {
    if (sales.Field("ic_tip_ope").Text() == "V") return BlockedSale{"V", std::string(kOrderFinalized)};
    if (!sales.Field("nm_comp_lock").Text().empty()) return BlockedSale{"B", std::string(kOrderLocked)};
  }
  return std::nullopt;
}

// Inside an order the sales checked are the sales written to: the back office
// cannot finalize or lock one between the check and the new lines.
const char* LockInsideTransaction(const DatabaseSession& db) { return db.InTransaction() ? db.ForUpdate() : ""; }

}  // namespace

std::optional<BlockedSale> FirstBlockedSaleOfPlace(DatabaseSession& db, std::int32_t place) {
  db.SqlClear();
  db.SqlAppend("select lv.nr_orc_loc, vd.ic_tip_ope, vd.nm_comp_lock");
  db.SqlAppend("from local_vnd lv");
  db.SqlAppend("  inner join venda_direta vd on vd.nr_orc_loc = lv.nr_orc_loc");
  db.SqlAppend("where lv.id_loc = " + SqlNumber(static_cast<long long>(place)));
  db.SqlAppend(std::string("order by lv.nr_orc_loc") + LockInsideTransaction(db));
  Recordset sales = db.Query(db.SqlText());
  return FirstBlocked(sales);
}

std::optional<BlockedSale> FirstBlockedSaleOfComanda(DatabaseSession& db, long long comanda) {
  db.SqlClear();
  db.SqlAppend("select cco.NR_ORC_LOC, vd.ic_tip_ope, vd.nm_comp_lock");
  db.SqlAppend("from CONTROLE_COMANDA_ORCAMENTO cco");
  db.SqlAppend("  inner join VENDA_DIRETA vd on vd.nr_orc_loc = cco.NR_ORC_LOC");
  db.SqlAppend("where cco.NR_CMD = " + SqlNumber(comanda));
  db.SqlAppend(std::string("order by cco.NR_ORC_LOC") + LockInsideTransaction(db));
  Recordset sales = db.Query(db.SqlText());
  return FirstBlocked(sales);
}

}  // namespace orba
