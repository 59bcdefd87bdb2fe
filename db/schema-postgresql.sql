-- OrbaPDA: the shared back-office database as far as the service reads or
-- writes it, for a PostgreSQL server.  The same tables, columns, keys and
-- indexes as db/schema.sql (the SQLite file ORBA.MDB); safe to apply to a
-- fresh database or again to an existing one:
--
--   psql -v ON_ERROR_STOP=1 -d orba -f db/schema-postgresql.sql
--
-- Column types follow the naming of the back office:
--   dt_, dth_, hr_, ic_, nm_, dc_, sg_, cd_  TEXT     (dates are 'yyyymmdd',
--                                                     times 'hh:mm:ss')
--   id_, nr_                                 INTEGER
--   vl_ amounts                              NUMERIC(15,2)  cents exact
--   qt_ quantities, pr_ and vl_ unit prices  NUMERIC(15,3)
--   aq_, pc_, tx_ rates in percent           NUMERIC(9,4)
-- Exceptions are commented where they are declared.  Unquoted names are
-- folded to lower case, so NR_CMD and nr_cmd are the same column.
--
-- Create the database with a UTF-8 encoding (the service's texts are
-- UTF-8), for example: createdb -E UTF8 -T template0 orba

------------------------------------------------------------------------------
-- General parameters: one row, written by the back office when it is
-- configured and when it opens the business day.
------------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS parametro_geral (
    dt_dia                  TEXT,     -- open business day, 'yyyymmdd'; NULL = day not open
    id_emp_orba             INTEGER,  -- company in the back-office numbering
    id_etb_orba             INTEGER,  -- establishment in the back-office numbering
    nm_emp                  TEXT,     -- company name (pre-bill heading)
    sg_fil                  TEXT,     -- branch abbreviation (tickets)
    servername              TEXT,
    ic_tra_cmd              TEXT,     -- 'S' = works by comanda
    ic_tra_cmd_sem_ctrl_es  TEXT,     -- 'S' = works by comanda without stock control
    ic_pap_fil              TEXT,     -- kept for the back office; orders go by the
                                      -- place's own flag, local.ic_pap_fil
    id_seq_tsa              INTEGER,  -- transaction sequence of the audit log (last number drawn)
    id_vnd_dir              INTEGER,  -- last sale number given out; NULL before the first sale
    tx_srv                  NUMERIC(9,4), -- service charge, percent
    tp_impr                 INTEGER,  -- 1 = no pre-bill when a table is closed
    ic_imp_orc              TEXT,     -- 'S' = pre-bill after an order when there is no production printer
    ic_imp_end_cli_orc      TEXT,     -- 'S' = pre-bill shows the customer's address
    ic_abr_comanda          TEXT,     -- 'S' = a handheld may open an unknown comanda
    ic_abr_cartao           TEXT      -- 'S' = a handheld may open a customer card
);

------------------------------------------------------------------------------
-- Command audit log read by the back office.
------------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS LOG_DONE (
    id_seq_log   INTEGER NOT NULL PRIMARY KEY,  -- max + 1; the key makes max() a single probe
    dth_ger_log  TEXT,                          -- 'yyyymmdd HH:MM'
    cmd_log      TEXT,
    dc_cpl_cmd   TEXT,
    Id_Seq_Tsa   INTEGER,
    dth_done     TEXT,
    dc_msg_adc   TEXT
);
-- Not unique on purpose: the back office writes this table too, and a
-- colliding row of its own must not make our orders fail.  Writers probe it
-- before they insert.
CREATE INDEX IF NOT EXISTS ix_log_done_seq_tsa ON LOG_DONE (Id_Seq_Tsa);

CREATE TABLE IF NOT EXISTS LOG_TO_UP (
    id_seq_log  INTEGER NOT NULL PRIMARY KEY    -- log rows still to be passed on
);

------------------------------------------------------------------------------
-- People, customers, establishments, addresses.
------------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS pessoa (
    id_pes      INTEGER NOT NULL PRIMARY KEY,
    nm_pes_cpl  TEXT                            -- full name
);

CREATE TABLE IF NOT EXISTS cliente (
    id_pes_cli  INTEGER NOT NULL PRIMARY KEY,   -- the customer's pessoa
    CD_EXT      TEXT,                           -- external code = customer card number;
                                                -- looked up as quoted text
    id_tip_emp  INTEGER                         -- company type (tax rules)
);
-- Partial: most customers carry no card.
CREATE INDEX IF NOT EXISTS ix_cliente_cd_ext ON cliente (CD_EXT) WHERE CD_EXT IS NOT NULL;

CREATE TABLE IF NOT EXISTS CLIENTE_BLOQUEADO (
    ID_PES_CLI  INTEGER NOT NULL PRIMARY KEY
);

CREATE TABLE IF NOT EXISTS estabelecimento (
    id_etb  INTEGER NOT NULL PRIMARY KEY,       -- a customer's establishment
    id_pes  INTEGER                             -- its owner (cliente.id_pes_cli / pessoa.id_pes)
);
CREATE INDEX IF NOT EXISTS ix_estabelecimento_pes ON estabelecimento (id_pes);

CREATE TABLE IF NOT EXISTS municipio (
    id_mun  INTEGER NOT NULL PRIMARY KEY,
    nm_mun  TEXT,
    id_uf   INTEGER                             -- state; goes unquoted into the tax-rule lookup
);

CREATE TABLE IF NOT EXISTS endereco_geo (
    id_end_geo  INTEGER NOT NULL PRIMARY KEY,
    id_etb      INTEGER,                        -- establishment the address belongs to
    dc_lg       TEXT,                           -- street
    dc_cpl_end  TEXT,                           -- complement
    nm_brr      TEXT,                           -- district
    id_mun      INTEGER
);
CREATE INDEX IF NOT EXISTS ix_endereco_geo_etb ON endereco_geo (id_etb);

-- Walk-in ("final consumer") customer of the establishment: new sales of
-- tables and anonymous comandas copy its first row.  One address serves as
-- billing, delivery and collection address.
CREATE TABLE IF NOT EXISTS consumidor (
    ID_PES      INTEGER NOT NULL PRIMARY KEY,
    nm_pes_cpl  TEXT,
    ID_UF       INTEGER,
    ID_MUN      INTEGER,
    ID_UTI_PRO  INTEGER,                        -- product use
    ID_END_GEO  INTEGER,
    ID_TIP_EMP  INTEGER,                        -- company type
    ID_ETB_CLI  INTEGER,                        -- customer establishment
    ID_TIP_NF   INTEGER,                        -- invoice type
    IC_CTB_IPI  TEXT                            -- 'S' = IPI contributor
);

CREATE TABLE IF NOT EXISTS usuario (
    id_pes_usu  INTEGER NOT NULL PRIMARY KEY,   -- waiter / operator (venda_direta.id_pes_atd)
    nm_pes_cpl  TEXT
);

CREATE TABLE IF NOT EXISTS conveniado (
    id_pes_cnv  INTEGER NOT NULL PRIMARY KEY,   -- agreement holder
    nm_pes_cnv  TEXT
);

------------------------------------------------------------------------------
-- Products, options, tax rules.
------------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS produto (
    id_mat_pro  INTEGER NOT NULL PRIMARY KEY,
    cd_pro      TEXT,                           -- code keyed on the handheld; looked up as quoted text
    dc_pro_nf   TEXT,                           -- description
    sg_umed     TEXT,                           -- unit
    aq_ipi                     NUMERIC(9,4),
    id_gru_fsc  INTEGER                         -- fiscal group (tax rules)
);
-- Not unique: the back office owns the catalogue; the first match is used.
CREATE INDEX IF NOT EXISTS ix_produto_cd_pro ON produto (cd_pro);

CREATE TABLE IF NOT EXISTS caracteristica_produto (
    id_car_pro  INTEGER NOT NULL PRIMARY KEY,   -- option ("mal passado", "sem gelo", ...)
    dc_car_pro  TEXT
);

-- Tax rule for a customer profile and a product.  id_mun and id_mat_pro NULL
-- mean "any"; the lookup tries municipality+product, municipality,
-- product, then neither.
CREATE TABLE IF NOT EXISTS tributacao (
    id_tri           INTEGER NOT NULL PRIMARY KEY,
    id_tip_emp       INTEGER,
    id_etb_orba      INTEGER,
    id_tip_nf        INTEGER,
    id_gru_fsc       INTEGER,
    id_uti_pro       INTEGER,
    id_Uf            INTEGER,
    id_mun           INTEGER,
    id_mat_pro       INTEGER,
    Ic_Tri_Ipi       TEXT,                      -- 'T' = IPI taxed
    Ic_Ipi_Bas_Icms  TEXT,                      -- 'S' = IPI added to the ICMS base
    Ic_Zon_Frc       TEXT,                      -- 'S' = free-trade zone: ICMS granted as discount
    ic_tri_icms      TEXT,                      -- 'T' = ICMS taxed
    Aq_Icms          NUMERIC(9,4),
    Aq_Rdu_Icms      NUMERIC(9,4),              -- ICMS base reduction, percent
    cd_nat_ope       INTEGER                    -- operation nature (CFOP), a number despite its
                                                -- cd_ prefix: it is read as a 32-bit integer
);
-- Every attempt of the lookup is an equality (or IS NULL) on all eight
-- columns, so one index answers all four.
CREATE INDEX IF NOT EXISTS ix_tributacao_lookup ON tributacao
    (id_tip_emp, id_etb_orba, id_tip_nf, id_gru_fsc, id_uti_pro, id_Uf, id_mun, id_mat_pro);

------------------------------------------------------------------------------
-- Sales.  venda_direta is the header (one row per sale number), the other
-- tables hang off (nr_orc_loc, id_seq).  These grow for years: every lookup
-- goes through a key or an index.
------------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS venda_direta (
    nr_orc_loc      INTEGER NOT NULL PRIMARY KEY,  -- sale number
    ic_tip_ope      TEXT,      -- 'O' open order, 'V' finalized, 'C' internal use
    dt_vnd_dir      TEXT,
    id_tip_nf       INTEGER,
    id_uti_pro      INTEGER,
    nm_pes_cli      TEXT,
    id_etb_cli      INTEGER,
    id_usu_req      INTEGER,
    id_end_geo_fat  INTEGER,
    id_end_geo_etg  INTEGER,
    id_end_geo_cob  INTEGER,
    id_pes_atd      INTEGER,   -- waiter (usuario.id_pes_usu)
    vl_tot_ite      NUMERIC(15,2),
    vl_bon          NUMERIC(15,2),
    vl_tot_dsc      NUMERIC(15,2),
    vl_tot_vnd      NUMERIC(15,2),
    pc_dsc          NUMERIC(9,4),
    id_usu_aut_dsc  INTEGER,
    id_cnd_pag      INTEGER,
    ic_tp_ent       TEXT,
    dt_ent          TEXT,
    vl_ent          NUMERIC(15,2),
    dt_pri_prst     TEXT,
    qp_pri_prst     NUMERIC(15,2), -- first instalment amount
    ecf_loj_ope     TEXT,      -- fiscal printer of the store
    nr_cf           TEXT,      -- fiscal coupon number: written as quoted text, leading zeros kept
    nr_seq_ope      TEXT,      -- operation sequence: written as quoted text, leading zeros kept
    id_vnd_dir      INTEGER,
    id_etb_frq      INTEGER,
    vl_tot_prl      NUMERIC(15,2),
    vl_tot_frt      NUMERIC(15,2),
    qt_prl          NUMERIC(15,3),
    id_ori_venda    INTEGER,
    id_ori_midia    INTEGER,
    id_pes_cnv      INTEGER,   -- agreement holder (conveniado)
    dt_vnd_ini      TEXT,
    hr_vnd_ini      TEXT,
    hr_vnd_dir      TEXT,
    vl_tx_srv       NUMERIC(15,2),
    dc_obs_ger      TEXT,
    nm_comp_lock    TEXT       -- workstation holding the sale; non-empty = locked
);

CREATE TABLE IF NOT EXISTS item_venda_direta (
    nr_orc_loc                 INTEGER NOT NULL,
    id_seq                     INTEGER NOT NULL,  -- line number within the sale
    id_mat_pro                 INTEGER,
    id_tri                     INTEGER,
    pr_un_it_atd               NUMERIC(15,3),     -- unit price charged
    qt_pro_atd                 NUMERIC(15,3),
    vl_dsc                     NUMERIC(15,3),     -- discount per unit
    vl_icms                    NUMERIC(15,2),
    vl_ipi                     NUMERIC(15,2),
    vl_icms_rtd                NUMERIC(15,2),
    vl_dsc_icms                NUMERIC(15,2),
    vl_bas_icms                NUMERIC(15,2),
    aq_icms                    NUMERIC(9,4),
    aq_ipi                     NUMERIC(9,4),
    vl_pr_un_ori               NUMERIC(15,3),     -- list unit price
    dc_pro_epc                 TEXT,
    id_prt_ite                 TEXT,              -- printed flag 'N'/'S': a letter, compared
                                                  -- with 'N', hence TEXT despite id_
    id_seq_pro_prn             INTEGER,           -- parent line of an accompaniment; NULL = main line
    nr_lot_ite                 TEXT,              -- lot number: quoted text, may hold letters
    dt_val_ite                 TEXT,
    ic_usa_lot_per_ser         TEXT,
    ic_usa_pro_rst             TEXT,
    dc_doc_med                 TEXT,
    nr_ped_ext                 INTEGER,
    id_usu_aut_dsc_ite         INTEGER,
    id_etb_cli_cnv_ite         INTEGER,
    id_pes_cnv_ite             INTEGER,
    nr_crt_cnv_ite             TEXT,              -- agreement card number: quoted text, leading zeros kept
    id_sit_osv                 INTEGER,           -- written quoted; INTEGER affinity stores digits as numbers
    ic_gera_ord_srv            TEXT,
    ic_recebe_vnd_sem_ord_srv  TEXT,
    id_seq_osv_off             INTEGER,
    dt_vnd_ite                 TEXT,
    hr_vnd_ite                 TEXT,              -- 'hh:mm:ss'; package windows read hh and mm
    ic_inc_pac                 TEXT,              -- 'S' = included in a guest package
    id_usu_aut_inc_pac         INTEGER,           -- written quoted; INTEGER affinity keeps it a user id
    PRIMARY KEY (nr_orc_loc, id_seq)
);
-- The key serves every per-sale read (lines, max(id_seq), unprinted lines);
-- this one serves the accompaniments of a line.
CREATE INDEX IF NOT EXISTS ix_ivd_parent ON item_venda_direta (nr_orc_loc, id_seq_pro_prn);

-- Salesperson of a line.
CREATE TABLE IF NOT EXISTS forca_vnd_item_vnd (
    nr_orc_loc  INTEGER NOT NULL,
    id_seq      INTEGER NOT NULL,
    id_pes_atd  INTEGER NOT NULL,
    id_etb_cli  INTEGER,
    qt_pro_atd  NUMERIC(15,3),
    PRIMARY KEY (nr_orc_loc, id_seq, id_pes_atd)
);

-- Options chosen for a line.  No unique key: a handheld may send the same
-- option twice for one line, and that must not reject the order.
CREATE TABLE IF NOT EXISTS ivd_caracteristica_produto (
    nr_orc_loc  INTEGER NOT NULL,
    id_seq      INTEGER NOT NULL,
    id_car_pro  INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS ix_ivd_car_line ON ivd_caracteristica_produto (nr_orc_loc, id_seq);

-- Planned dispatch of a line (pre-bill, optional block).
CREATE TABLE IF NOT EXISTS item_programacao_entrega (
    nr_orc_loc  INTEGER NOT NULL,
    id_seq      INTEGER NOT NULL,
    id_seq_etg  INTEGER NOT NULL,
    dt_prv_etg  TEXT,          -- planned dispatch, 'yyyymmdd hhmm'
    ic_ret_etg  TEXT,          -- 'R' pick-up, 'E' delivery
    PRIMARY KEY (nr_orc_loc, id_seq, id_seq_etg)
);

------------------------------------------------------------------------------
-- Places (tables, rooms), environments, and the links place -> sale.
------------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS ambiente_local (
    id_amb         INTEGER NOT NULL PRIMARY KEY,
    nm_amb         TEXT,
    id_amb_ass     INTEGER,    -- associated environment: set on environments whose places are rooms
    ic_ocu_chk_in  TEXT        -- 'S' = a free place must be checked in at the reception
);
CREATE INDEX IF NOT EXISTS ix_ambiente_local_ass ON ambiente_local (id_amb_ass);

CREATE TABLE IF NOT EXISTS local (
    id_loc      INTEGER NOT NULL PRIMARY KEY,
    nm_loc      TEXT,          -- name the handheld sends as "mesa"; the handheld
                               -- upper-cases it, the back office may not, so it
                               -- is compared as upper(nm_loc)
    id_amb      INTEGER,
    ic_atv_ina  TEXT,          -- 'A' active, 'I' inactive
    ic_stt_loc  TEXT,          -- 'L' free, 'E' being served, 'P' awaiting payment,
                               -- 'R' reserved, 'A' grouped
    qt_loc_ocu  INTEGER,       -- people at the place: a head count, answered and printed as a whole
                               -- number, hence INTEGER despite qt_
    ic_pap_fil  TEXT           -- 'S' = every order opens a new sale
);
-- Places are found by name without regard to case (also within an environment).
CREATE INDEX IF NOT EXISTS ix_local_nm_loc ON local (upper(nm_loc), id_amb);

CREATE TABLE IF NOT EXISTS local_vnd (
    id_loc      INTEGER NOT NULL,
    nr_orc_loc  INTEGER NOT NULL,
    nr_pos_com  INTEGER,       -- seat position
    id_loc_ass  INTEGER,       -- associated place (hotel room)
    id_tp_cta   INTEGER,       -- account type: 2 = one bill per sale
    PRIMARY KEY (id_loc, nr_orc_loc)
);
CREATE INDEX IF NOT EXISTS ix_local_vnd_pos  ON local_vnd (id_loc, nr_pos_com);
CREATE INDEX IF NOT EXISTS ix_local_vnd_sale ON local_vnd (nr_orc_loc);
-- Partial: links without an associated place hold NULL (or 0).  Leaving the
-- NULLs out keeps the index small, and keeps statistics over a column that
-- is nearly all NULL from steering the planner to a scan of the sale lines.
CREATE INDEX IF NOT EXISTS ix_local_vnd_ass  ON local_vnd (id_loc_ass) WHERE id_loc_ass IS NOT NULL;

-- Tables grouped under a main table.
CREATE TABLE IF NOT EXISTS local_agrupado (
    id_loc      INTEGER NOT NULL,   -- main table
    id_loc_agr  INTEGER NOT NULL,   -- table grouped under it
    PRIMARY KEY (id_loc, id_loc_agr)
);

------------------------------------------------------------------------------
-- Hotel stays and guest packages.
------------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS local_reservado (
    id_loc     INTEGER NOT NULL,
    dt_hr_ent  TEXT NOT NULL,       -- check-in,  'yyyymmddhhmm'
    dt_hr_sai  TEXT,                -- check-out, 'yyyymmddhhmm'
    PRIMARY KEY (id_loc, dt_hr_ent)
);

-- Products and services of a stay.  ic_srv_hsp lives here, and only here
-- among the tables of the active-package query (local_vnd, item_venda_direta,
-- local_reservado_hospede_prod, local_reservado, pacote), which names it
-- without an alias: it tells a guest service apart from the other products
-- reserved for the stay.
CREATE TABLE IF NOT EXISTS local_reservado_hospede_prod (
    id_loc      INTEGER NOT NULL,
    dt_hr_ent   TEXT NOT NULL,      -- the stay (local_reservado)
    id_mat_pro  INTEGER NOT NULL,
    ic_srv_hsp  TEXT,               -- 'S' = guest service
    PRIMARY KEY (id_loc, dt_hr_ent, id_mat_pro)
);
CREATE INDEX IF NOT EXISTS ix_lrh_product ON local_reservado_hospede_prod (id_loc, id_mat_pro);

-- Package definitions.  The package key and the window bounds are numbers:
-- they go unquoted into the consumption query and are compared with the
-- hhmm of a line's time, hence INTEGER despite cd_ / hr_.
CREATE TABLE IF NOT EXISTS pacote (
    cd_det_inf   INTEGER NOT NULL PRIMARY KEY,  -- package key
    id_srv_hsp   INTEGER,                       -- the package service product
    ic_dom_pac   TEXT,                          -- 'S' = valid on Sunday ...
    ic_seg_pac   TEXT,
    ic_ter_pac   TEXT,
    ic_qua_pac   TEXT,
    ic_qui_pac   TEXT,
    ic_sex_pac   TEXT,
    ic_sab_pac   TEXT,                          -- ... Saturday
    hr_ini_pac1  INTEGER,                       -- hhmm
    hr_fim_pac1  INTEGER,
    hr_ini_pac2  INTEGER,                       -- second window, optional
    hr_fim_pac2  INTEGER,
    ic_dia_pac   TEXT,                          -- 'DP' per day and person, 'PF' fixed per stay
    qt_inc_pac   NUMERIC(15,3)                  -- included quantity
);
CREATE INDEX IF NOT EXISTS ix_pacote_srv ON pacote (id_srv_hsp);

CREATE TABLE IF NOT EXISTS pacote_produto (
    cd_det_inf  INTEGER NOT NULL,               -- pacote
    id_mat_pro  INTEGER NOT NULL,               -- product included
    PRIMARY KEY (cd_det_inf, id_mat_pro)
);
CREATE INDEX IF NOT EXISTS ix_pacote_produto_pro ON pacote_produto (id_mat_pro);

------------------------------------------------------------------------------
-- Comandas (numbered consumption cards) and customer cards.
------------------------------------------------------------------------------
-- Exactly these three columns in this order: rows are inserted without a
-- column list.
CREATE TABLE IF NOT EXISTS controle_comanda (
    NR_CMD      INTEGER NOT NULL PRIMARY KEY,
    IC_TIP_CMD  TEXT,                           -- 'CRT' customer card, '' comanda
    ID_PES_CLI  INTEGER                         -- whose consumption it is
);

CREATE TABLE IF NOT EXISTS controle_comanda_orcamento (
    NR_CMD      INTEGER NOT NULL,
    NR_ORC_LOC  INTEGER NOT NULL,
    PRIMARY KEY (NR_CMD, NR_ORC_LOC)
);
CREATE INDEX IF NOT EXISTS ix_cco_sale ON controle_comanda_orcamento (NR_ORC_LOC);

CREATE TABLE IF NOT EXISTS COMANDA_BLOQUEADA (
    NR_CMD_BLQ  INTEGER NOT NULL,
    ID_USU_BLQ  INTEGER,
    DT_BLQ      TEXT,
    DC_MOT_BLQ  TEXT                            -- reason
);
-- Not unique: a number may have been blocked more than once.
CREATE INDEX IF NOT EXISTS ix_comanda_bloqueada_nr ON COMANDA_BLOQUEADA (NR_CMD_BLQ);

CREATE TABLE IF NOT EXISTS COMANDA_RANGE_NUMERACAO (
    ID_CMD_RNG  INTEGER NOT NULL PRIMARY KEY,
    NR_CMD_INI  INTEGER,                        -- inclusive bounds
    NR_CMD_FIM  INTEGER,
    ID_USU_INC  INTEGER,
    DT_INC      TEXT
);
CREATE INDEX IF NOT EXISTS ix_comanda_range ON COMANDA_RANGE_NUMERACAO (NR_CMD_INI, NR_CMD_FIM);

------------------------------------------------------------------------------
-- Production printers and handhelds.
------------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS impressora (
    id_imp      INTEGER NOT NULL PRIMARY KEY,
    nm_end_imp  TEXT                            -- printer device name; NULL = print a pre-bill instead
);

CREATE TABLE IF NOT EXISTS impressora_produto (
    id_imp      INTEGER NOT NULL,
    id_mat_pro  INTEGER NOT NULL,
    PRIMARY KEY (id_imp, id_mat_pro)
);
-- Products without a printer are found through this one.
CREATE INDEX IF NOT EXISTS ix_impressora_produto_pro ON impressora_produto (id_mat_pro);

CREATE TABLE IF NOT EXISTS IP_FIXO_PDA (
    ID_ETB_ORBA  INTEGER NOT NULL,
    ID_IP_PDA    INTEGER NOT NULL,
    DC_IP_PDA    TEXT,                          -- dotted IPv4 address
    PRIMARY KEY (ID_ETB_ORBA, ID_IP_PDA)
);
