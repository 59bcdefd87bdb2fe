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
}

}  // namespace orba
