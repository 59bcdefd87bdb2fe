#include "common/service_tables.h"

#include <string>

#include "common/database.h"
#include "common/transaction.h"

namespace orba {

namespace {

// Plain SQL that every database the service runs on accepts.
std::string AcceptedRequestsTable(const std::string& name) {
  return "CREATE TABLE IF NOT EXISTS " + name +
         " (\r"
         "    ic_tip_loc  CHAR(1)      NOT NULL,\r"  // 'L' place, 'C' comanda, 'T' transfer from a place
         "    id_loc      BIGINT       NOT NULL,\r"  // local.id_loc or NR_CMD
         "    dc_dth_ped  VARCHAR(64)  NOT NULL,\r"  // the order's datahora stamp; the destination's id_loc
         "    dt_dia      VARCHAR(8)   NOT NULL,\r"  // business day it was accepted in
         "    dth_grv     VARCHAR(17),\r"            // when it was accepted, 'yyyymmdd hh:mm:ss'
         "    PRIMARY KEY (ic_tip_loc, id_loc, dc_dth_ped)\r"
         ")";
}

bool HasBusinessDayColumn(DatabaseSession& db) {
  try {
    db.Query("select dt_dia from controle_pedido_pda where 1 = 0");
    return true;
  } catch (const DatabaseError&) {
    return false;
  }
}

// An earlier version kept one stamp per place (key ic_tip_loc, id_loc) and no
// business day: its rows move to a table of the current form, as stamps of
// the open day, in one transaction.
void MigrateAcceptedRequests(DatabaseSession& db) {
  TransactionGuard transaction(db);
  db.ExecuteSql(AcceptedRequestsTable("controle_pedido_pda_nova"));
  db.ExecuteSql(
      "insert into controle_pedido_pda_nova (ic_tip_loc, id_loc, dc_dth_ped, dt_dia, dth_grv)\r"
      "select ic_tip_loc, id_loc, dc_dth_ped, " +
      std::string(kCurrentBusinessDay) + ", dth_grv from controle_pedido_pda");
  db.ExecuteSql("drop table controle_pedido_pda");
  db.ExecuteSql("alter table controle_pedido_pda_nova rename to controle_pedido_pda");
  transaction.Commit();
}

}  // namespace

void EnsureServiceTables(DatabaseSession& db) {
  db.ExecuteSql(AcceptedRequestsTable("controle_pedido_pda"));
  if (!HasBusinessDayColumn(db)) MigrateAcceptedRequests(db);
  db.ExecuteSql("delete from controle_pedido_pda where dt_dia <> " + std::string(kCurrentBusinessDay));
  db.ExecuteSql(
      "CREATE TABLE IF NOT EXISTS item_impressora_pda (\r"
      "    nr_orc_loc  INTEGER  NOT NULL,\r"
      "    id_seq      INTEGER  NOT NULL,\r"
      "    id_imp      INTEGER  NOT NULL,\r"  // impressora.id_imp; 0 = the starting printer
      "    PRIMARY KEY (nr_orc_loc, id_seq, id_imp)\r"
      ")");
  // The lines an order of this service left to print, written in the order's
  // own transaction and deleted once every printer of the line has printed
  // it: what a crash or a printer left behind is found here, and lines the
  // back office wrote never are.
  db.ExecuteSql(
      "CREATE TABLE IF NOT EXISTS item_a_imprimir_pda (\r"
      "    nr_orc_loc  INTEGER      NOT NULL,\r"
      "    id_seq      INTEGER      NOT NULL,\r"
      "    dt_dia      VARCHAR(10)  NOT NULL,\r"  // business day of the order, 'dd/mm/yyyy'
      "    PRIMARY KEY (nr_orc_loc, id_seq)\r"
      ")");
  db.ExecuteSql("CREATE INDEX IF NOT EXISTS ix_item_a_imprimir_pda_dia ON item_a_imprimir_pda (dt_dia)");
}

}  // namespace orba
