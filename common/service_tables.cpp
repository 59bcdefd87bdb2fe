#include "common/service_tables.h"

#include "common/database.h"

namespace orba {

void EnsureServiceTables(DatabaseSession& db) {
  // Plain SQL that every database the service runs on accepts.
  db.ExecuteSql(
      "CREATE TABLE IF NOT EXISTS controle_pedido_pda (\r"
      "    ic_tip_loc  CHAR(1)      NOT NULL,\r"  // 'L' place (local.id_loc), 'C' comanda (NR_CMD)
      "    id_loc      BIGINT       NOT NULL,\r"
      "    dc_dth_ped  VARCHAR(64)  NOT NULL,\r"  // the order's datahora stamp
      "    dth_grv     VARCHAR(17),\r"            // when it was accepted, 'yyyymmdd hh:mm:ss'
      "    PRIMARY KEY (ic_tip_loc, id_loc)\r"
      ")");
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
