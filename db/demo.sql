-- OrbaPDA demo establishment: a restaurant with a main hall and a terrace,
-- a kitchen and a bar printer, a walk-in customer and a few products.
-- Apply after schema.sql on a fresh database.
--
--   business day 08/12/2026 open, table mode, service charge 10 %
--   tables  1..6 in SALAO, 21..24 in VARANDA (all free), 99 inactive
--   waiter  operador="10" (GARCOM DEMO)
--   printers COZINHA (food) and BAR (drinks); 301 CAFE EXPRESSO has no
--           printer and goes to the default printer
--   customer card 9001 (JOAO DA SILVA), comanda numbers 1..500

INSERT INTO parametro_geral
    (dt_dia, id_emp_orba, id_etb_orba, nm_emp, sg_fil, servername,
     ic_tra_cmd, ic_tra_cmd_sem_ctrl_es, ic_pap_fil, id_seq_tsa, id_vnd_dir,
     tx_srv, tp_impr, ic_imp_orc, ic_imp_end_cli_orc, ic_abr_comanda, ic_abr_cartao)
VALUES
    ('20261208', 1, 1, 'RESTAURANTE ORBA DEMO', 'CENTRO', 'localhost',
     'N', 'N', 'N', 0, NULL,
     10, 0, 'N', 'N', 'S', 'S');

-- Places of the customers.
INSERT INTO municipio (id_mun, nm_mun, id_uf) VALUES (3550308, 'SAO PAULO', 35);

INSERT INTO pessoa (id_pes, nm_pes_cpl) VALUES (1,  'CONSUMIDOR FINAL');
INSERT INTO pessoa (id_pes, nm_pes_cpl) VALUES (2,  'JOAO DA SILVA');
INSERT INTO pessoa (id_pes, nm_pes_cpl) VALUES (10, 'GARCOM DEMO');

-- The walk-in customer has no card (no external code).
INSERT INTO cliente (id_pes_cli, CD_EXT, id_tip_emp) VALUES (1, NULL,   1);
INSERT INTO cliente (id_pes_cli, CD_EXT, id_tip_emp) VALUES (2, '9001', 1);

INSERT INTO estabelecimento (id_etb, id_pes) VALUES (1, 1);
INSERT INTO estabelecimento (id_etb, id_pes) VALUES (2, 2);

INSERT INTO endereco_geo (id_end_geo, id_etb, dc_lg, dc_cpl_end, nm_brr, id_mun)
VALUES (1, 1, 'RUA DAS FLORES, 100', NULL, 'CENTRO', 3550308);
INSERT INTO endereco_geo (id_end_geo, id_etb, dc_lg, dc_cpl_end, nm_brr, id_mun)
VALUES (2, 2, 'AVENIDA PAULISTA, 1500', 'APTO 42', 'BELA VISTA', 3550308);

-- Walk-in customer: invoice type 1, product use 1, company type 1, state 35.
INSERT INTO consumidor
    (ID_PES, nm_pes_cpl, ID_UF, ID_MUN, ID_UTI_PRO, ID_END_GEO, ID_TIP_EMP,
     ID_ETB_CLI, ID_TIP_NF, IC_CTB_IPI)
VALUES
    (1, 'CONSUMIDOR FINAL', 35, 3550308, 1, 1, 1, 1, 1, 'N');

INSERT INTO usuario (id_pes_usu, nm_pes_cpl) VALUES (10, 'GARCOM DEMO');

-- Environments and tables.
INSERT INTO ambiente_local (id_amb, nm_amb, id_amb_ass, ic_ocu_chk_in) VALUES (1, 'SALAO',   NULL, 'N');
INSERT INTO ambiente_local (id_amb, nm_amb, id_amb_ass, ic_ocu_chk_in) VALUES (2, 'VARANDA', NULL, 'N');

INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (1,  '1',  1, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (2,  '2',  1, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (3,  '3',  1, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (4,  '4',  1, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (5,  '5',  1, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (6,  '6',  1, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (21, '21', 2, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (22, '22', 2, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (23, '23', 2, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (24, '24', 2, 'A', 'L', 0, 'N');
INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) VALUES (99, '99', 1, 'I', 'L', 0, 'N');

-- Products: fiscal group 1 = food, 2 = drinks.
INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) VALUES (1, '101', 'FILE MIGNON GRELHADO',     'UN', 0, 1);
INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) VALUES (2, '102', 'RISOTO DE COGUMELOS',      'UN', 0, 1);
INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) VALUES (3, '103', 'BATATA FRITA',             'PC', 0, 1);
INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) VALUES (4, '201', 'CERVEJA LONG NECK 355ML',  'UN', 0, 2);
INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) VALUES (5, '202', 'AGUA MINERAL 500ML',       'UN', 0, 2);
INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) VALUES (6, '203', 'CAIPIRINHA DE LIMAO',      'UN', 0, 2);
INSERT INTO produto (id_mat_pro, cd_pro, dc_pro_nf, sg_umed, aq_ipi, id_gru_fsc) VALUES (7, '301', 'CAFE EXPRESSO',            'UN', 0, 2);

INSERT INTO caracteristica_produto (id_car_pro, dc_car_pro) VALUES (1, 'MAL PASSADO');
INSERT INTO caracteristica_produto (id_car_pro, dc_car_pro) VALUES (2, 'AO PONTO');
INSERT INTO caracteristica_produto (id_car_pro, dc_car_pro) VALUES (3, 'BEM PASSADO');
INSERT INTO caracteristica_produto (id_car_pro, dc_car_pro) VALUES (4, 'SEM GELO');
INSERT INTO caracteristica_produto (id_car_pro, dc_car_pro) VALUES (5, 'SEM ACUCAR');

-- Tax rules for the walk-in profile (company type 1, invoice type 1,
-- product use 1, state 35) in establishment 1: a general rule per fiscal
-- group, and a more specific one for the water in Sao Paulo (ICMS exempt).
INSERT INTO tributacao
    (id_tri, id_tip_emp, id_etb_orba, id_tip_nf, id_gru_fsc, id_uti_pro, id_Uf, id_mun, id_mat_pro,
     Ic_Tri_Ipi, Ic_Ipi_Bas_Icms, Ic_Zon_Frc, ic_tri_icms, Aq_Icms, Aq_Rdu_Icms, cd_nat_ope)
VALUES (1, 1, 1, 1, 1, 1, 35, NULL, NULL, 'N', 'N', 'N', 'T', 18, 0, 5102);
INSERT INTO tributacao
    (id_tri, id_tip_emp, id_etb_orba, id_tip_nf, id_gru_fsc, id_uti_pro, id_Uf, id_mun, id_mat_pro,
     Ic_Tri_Ipi, Ic_Ipi_Bas_Icms, Ic_Zon_Frc, ic_tri_icms, Aq_Icms, Aq_Rdu_Icms, cd_nat_ope)
VALUES (2, 1, 1, 1, 2, 1, 35, NULL, NULL, 'N', 'N', 'N', 'T', 25, 0, 5102);
INSERT INTO tributacao
    (id_tri, id_tip_emp, id_etb_orba, id_tip_nf, id_gru_fsc, id_uti_pro, id_Uf, id_mun, id_mat_pro,
     Ic_Tri_Ipi, Ic_Ipi_Bas_Icms, Ic_Zon_Frc, ic_tri_icms, Aq_Icms, Aq_Rdu_Icms, cd_nat_ope)
VALUES (3, 1, 1, 1, 2, 1, 35, 3550308, 5, 'N', 'N', 'N', 'N', 0, 0, 5405);

-- Production printers, named as the installed printers (spool folders or
-- CUPS queues) COZINHA and BAR.
INSERT INTO impressora (id_imp, nm_end_imp) VALUES (1, 'COZINHA');
INSERT INTO impressora (id_imp, nm_end_imp) VALUES (2, 'BAR');

INSERT INTO impressora_produto (id_imp, id_mat_pro) VALUES (1, 1);
INSERT INTO impressora_produto (id_imp, id_mat_pro) VALUES (1, 2);
INSERT INTO impressora_produto (id_imp, id_mat_pro) VALUES (1, 3);
INSERT INTO impressora_produto (id_imp, id_mat_pro) VALUES (2, 4);
INSERT INTO impressora_produto (id_imp, id_mat_pro) VALUES (2, 5);
INSERT INTO impressora_produto (id_imp, id_mat_pro) VALUES (2, 6);

-- Comanda numbers that handhelds may open (used when the house works by comanda).
INSERT INTO COMANDA_RANGE_NUMERACAO (ID_CMD_RNG, NR_CMD_INI, NR_CMD_FIM, ID_USU_INC, DT_INC)
VALUES (1, 1, 500, 10, '20261201');

-- Handhelds: only the local machine, so a demo never pings the network.
INSERT INTO IP_FIXO_PDA (ID_ETB_ORBA, ID_IP_PDA, DC_IP_PDA) VALUES (1, 1, '127.0.0.1');
