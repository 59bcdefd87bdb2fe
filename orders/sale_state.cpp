#include "orders/sale_state.h"

namespace orba {

namespace {

// Inside an order the sales checked are the sales written to: the back office
// cannot finalize or lock one between the check and the new lines.
std::string LockInsideTransaction(const DatabaseSession& db) { return db.InTransaction() ? db.ForUpdate() : ""; }

}  // namespace

// Rows of ic_tip_ope and nm_comp_lock, in the order that decides.
std::optional<BlockedSale> FirstBlockedSale(Recordset& sales) {
  for (; !sales.Eof(); sales.MoveNext()) {
    if (sales.Field("ic_tip_ope").Text() == "V") return BlockedSale{"V", std::string(kOrderFinalized)};
    if (!sales.Field("nm_comp_lock").Text().empty()) return BlockedSale{"B", std::string(kOrderLocked)};
  }
  return std::nullopt;
}

DatabaseSession::Statement SalesOfPlaceStatement(const DatabaseSession& db, std::int32_t place) {
  return {"select lv.nr_orc_loc, vd.ic_tip_ope, vd.nm_comp_lock\r"
          "from local_vnd lv\r"
          "  inner join venda_direta vd on vd.nr_orc_loc = lv.nr_orc_loc\r"
          "where lv.id_loc = $1\r"
          "order by lv.nr_orc_loc" +
              LockInsideTransaction(db),
          {place}};
}

DatabaseSession::Statement SalesOfComandaStatement(const DatabaseSession& db, long long comanda) {
  return {"select cco.NR_ORC_LOC, vd.ic_tip_ope, vd.nm_comp_lock\r"
          "from CONTROLE_COMANDA_ORCAMENTO cco\r"
          "  inner join VENDA_DIRETA vd on vd.nr_orc_loc = cco.NR_ORC_LOC\r"
          "where cco.NR_CMD = $1\r"
          "order by cco.NR_ORC_LOC" +
              LockInsideTransaction(db),
          {comanda}};
}

std::optional<BlockedSale> FirstBlockedSaleOfPlace(DatabaseSession& db, std::int32_t place) {
  const DatabaseSession::Statement read = SalesOfPlaceStatement(db, place);
  Recordset sales = db.Query(read.text, read.values);
  return FirstBlockedSale(sales);
}

std::optional<BlockedSale> FirstBlockedSaleOfComanda(DatabaseSession& db, long long comanda) {
  const DatabaseSession::Statement read = SalesOfComandaStatement(db, comanda);
  Recordset sales = db.Query(read.text, read.values);
  return FirstBlockedSale(sales);
}

}  // namespace orba
