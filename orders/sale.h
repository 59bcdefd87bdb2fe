#pragma once
// Writing sales: a new sale number, the sale header (venda_direta), its lines
// (item_venda_direta with the salesperson row in forca_vnd_item_vnd) and the
// totals of a sale. The back office reads every column written here, so the
// rows are complete: an input left empty gets the column's fixed default.
//
// None of these opens or commits a transaction, except NextSaleNumber when it
// is not told that the caller holds one.

#include <cstdint>
#include <string>
#include <vector>

#include "common/database.h"
#include "orders/input_value.h"

namespace orba {

class Clock;
struct CustomerRecord;
struct GeneralParameters;

// Inputs of InsertSale, in the order of its argument list; each is named
// after the venda_direta column it fills. Required: nr_orc_loc, ic_tip_ope,
// id_tip_nf, id_uti_pro, nm_pes_cli, id_etb_cli, id_end_geo_fat,
// id_end_geo_etg, id_end_geo_cob.
struct SaleInput {
  InputValue nr_orc_loc;      // 1 sale number
  InputValue ic_tip_ope;      // 2 operation type ("O" open order)
  InputValue id_tip_nf;       // 3 invoice type
  InputValue id_uti_pro;      // 4 product use
  InputValue nm_pes_cli;      // 5 customer name
  InputValue id_etb_cli;      // 6 customer establishment
  InputValue id_usu_req;      // 7 requesting user (0)
  InputValue id_end_geo_fat;  // 8 billing address
  InputValue id_end_geo_etg;  // 9 delivery address
  InputValue id_end_geo_cob;  // 10 collection address
  InputValue id_pes_atd;      // 11 waiter (NULL)
  InputValue vl_tot_ite;      // 12 items total (0)
  InputValue vl_bon;          // 13 bonus (0)
  InputValue vl_tot_dsc;      // 14 discount total (0)
  InputValue vl_tot_vnd;      // 15 sale total (0)
  InputValue pc_dsc;          // 16 discount percent (0)
  InputValue id_usu_aut_dsc;  // 17 user authorising the discount (NULL)
  InputValue id_cnd_pag;      // 18 payment condition (0)
  InputValue ic_tp_ent;       // 19 entry type ('0')
  InputValue dt_ent;          // 20 entry date yyyymmdd (business day)
  InputValue vl_ent;          // 21 entry amount (0)
  InputValue dt_pri_prst;     // 22 first instalment date yyyymmdd (business day)
  InputValue qp_pri_prst;     // 23 first instalment amount (0)
  InputValue ecf_loj_ope;     // 24 fiscal printer of the store (NULL)
  InputValue nr_cf;           // 25 fiscal coupon number (NULL)
  InputValue nr_seq_ope;      // 26 operation sequence (NULL)
  InputValue id_vnd_dir;      // 27 sale id (NULL)
  InputValue id_etb_frq;      // 28 franchise establishment (NULL)
  InputValue vl_tot_prl;      // 29 instalments total (NULL)
  InputValue vl_tot_frt;      // 30 freight total (0)
  InputValue qt_prl;          // 31 number of instalments (NULL)
  InputValue id_ori_venda;    // 32 sale origin (NULL)
  InputValue id_ori_midia;    // 33 media origin (NULL)
  InputValue id_pes_cnv;      // 34 agreement person (NULL)
  InputValue vl_tx_srv;       // 35 service charge (NULL)
  InputValue dc_obs_ger;      // 36 general remark (NULL)
  InputValue nm_comp_lock;    // 37 name of the locking computer (NULL)
};

// Inputs of InsertSaleItem, in the order of its argument list. Required: 1 to
// 15, id_pes_atd (the salesperson) and id_etb_cli.
struct SaleItemInput {
  InputValue nr_orc_loc;                 // 1 sale number
  InputValue id_seq;                     // 2 line sequence
  InputValue id_mat_pro;                 // 3 product id
  InputValue id_tri;                     // 4 tax rule id
  InputValue pr_un_it_atd;               // 5 unit price
  InputValue qt_pro_atd;                 // 6 quantity
  InputValue vl_dsc;                     // 7 unit discount
  InputValue vl_icms;                    // 8 ICMS amount
  InputValue vl_ipi;                     // 9 IPI amount
  InputValue vl_icms_rtd;                // 10 withheld ICMS
  InputValue vl_dsc_icms;                // 11 ICMS discount
  InputValue vl_bas_icms;                // 12 ICMS base
  InputValue aq_icms;                    // 13 ICMS rate
  InputValue aq_ipi;                     // 14 IPI rate
  InputValue vl_pr_un_ori;               // 15 list unit price
  InputValue dc_pro_epc;                 // 16 special product description
  InputValue id_prt_ite;                 // 17 printed flag
  InputValue id_seq_pro_prn;             // 18 id_seq of the parent line
  InputValue nr_lot_ite;                 // 19 lot number
  InputValue dt_val_ite;                 // 20 expiry date
  InputValue ic_usa_lot_per_ser;         // 21 lot/serial flag
  InputValue ic_usa_pro_rst;             // 22 restricted product flag
  InputValue dc_doc_med;                 // 23 prescription document
  InputValue id_pes_atd;                 // 24 salesperson (forca_vnd_item_vnd)
  InputValue id_etb_cli;                 // 25 customer establishment (forca_vnd_item_vnd)
  InputValue nr_ped_ext;                 // 26 external order number
  InputValue id_usu_aut_dsc_ite;         // 27 user authorising the item discount
  InputValue id_etb_cli_cnv_ite;         // 28 agreement establishment
  InputValue id_pes_cnv_ite;             // 29 agreement person
  InputValue nr_crt_cnv_ite;             // 30 agreement card number
  InputValue id_sit_osv;                 // 31 service order state
  InputValue ic_gera_ord_srv;            // 32 creates service order flag
  InputValue ic_recebe_vnd_sem_ord_srv;  // 33 accepts sale without service order flag
  InputValue id_seq_osv_off;             // 34 off-line service order sequence
  InputValue ic_inc_pac;                 // 35 included-in-package flag
  InputValue id_usu_aut_inc_pac;         // 36 user who authorised the package inclusion
};

// The header of a new order's sale for `customer`, taken by `waiter`: type "O",
// the customer's invoice type, product use, name, establishment, requesting
// user and addresses; everything else left to the defaults.
SaleInput NewOrderSale(const CustomerRecord& customer, std::int32_t number, const InputValue& waiter);

// Source of the errors raised for a missing required input.
inline constexpr const char* kSaleErrorSource = "OrbaOffLine";

// Raises parametro_geral.id_vnd_dir by `count` (from 0 when it was Null) and
// gives the first of the `count` new sale numbers, the ones that drawing them
// one by one gives. Without `in_caller_transaction` it runs in a
// transaction of its own; with it, inside the caller's, so that a rollback
// there gives the number back. False (number untouched) when parametro_geral
// has no row or on any database failure, after rolling back its own
// transaction; `failure` (when given) then receives the description. Inside
// the caller's transaction a lock that another writer held past the wait is
// thrown as the busy DatabaseError it is.
// The statement of that draw, for a caller that reads it in a batch inside
// its transaction: one row, the last of the numbers.
DatabaseSession::Statement SaleNumbersDraw(int count);
bool NextSaleNumber(DatabaseSession& db, std::int32_t& number, bool in_caller_transaction = false,
                    std::string* failure = nullptr, int count = 1);

// Writes one sale header. False, with nothing written, when a required input
// is empty, an input that goes unquoted is not a number, or the database
// fails; `failure` (when given) then receives the description. Dates default
// to the business day; the times are the clock's current time.
bool InsertSale(DatabaseSession& db, const GeneralParameters& parameters, const Clock& clock,
                const SaleInput& input, std::string* failure = nullptr);

// Writes one sale line and its salesperson row. False as InsertSale; when the
// line was written and the salesperson row fails, the caller's rollback
// removes the line.
bool InsertSaleItem(DatabaseSession& db, const GeneralParameters& parameters, const Clock& clock,
                    const SaleItemInput& input, std::string* failure = nullptr);
// The rows of sale lines and their salespeople, gathered by AddSaleItem and
// written together, in the order added, by Flush.
struct SaleLineRows {
  RowInserts lines{"item_venda_direta"};
  RowInserts salespeople{"forca_vnd_item_vnd"};
  void Flush(DatabaseSession& db) {
    lines.Flush(db);
    salespeople.Flush(db);
  }
};
// InsertSaleItem's checks, with the rows gathered into `rows` instead of
// written. False as InsertSaleItem, with nothing gathered.
bool AddSaleItem(const GeneralParameters& parameters, const Clock& clock, const SaleItemInput& input,
                 SaleLineRows& rows, std::string* failure = nullptr);

// The lines of `sales`, to be read (in the caller's batch of queries, once
// the lines are written) for WriteSaleTotals.
DatabaseSession::Statement SaleLinesRead(const DatabaseSession& db, const std::vector<std::int32_t>& sales);
// Recomputes vl_tot_ite, vl_tot_dsc and vl_tot_vnd of each sale from its
// lines in `lines`, sets vl_tot_frt 0, the waiter and hr_vnd_dir. A database
// failure, a waiter that is not a number or a floating-point overflow throws
// DatabaseError.
void WriteSaleTotals(DatabaseSession& db, const Clock& clock, const std::vector<std::int32_t>& sales,
                     Recordset lines, const InputValue& waiter);

// "hh:mm:ss" of the clock's current time, the form of the hr_ columns.
std::string CurrentTimeText(const Clock& clock);

}  // namespace orba
