#include "orders/sale.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/database.h"
#include "common/general_parameters.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "orders/customer.h"

namespace orba {

namespace {

// A required input that is empty. Raised and caught inside the operation.
class MissingInput : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr const char* kNoSaleNumber = "O Item não foi aceito. Não foi informada o Número da Venda.     ";
constexpr const char* kNoEstablishment =
    "O Item não foi aceito. Não foi informado o Estabelecimento do Cliente.     ";

void Require(const InputValue& value, const char* description) {
  if (value.Empty()) throw MissingInput(description);
}

std::string BusinessDate(const GeneralParameters& parameters) {
  return SqlEscapeValue(ConvertDate(parameters.BusinessDay, "yyyymmdd"));
}

// The values bound to a statement, each of the kind its literal would have
// ( (an integer, a real, a text or Null), so that the row written
// is the same: a number as Raw() or SqlNumber() writes it, a text as Quoted()
// puts it between its quotes.
Value LiteralValue(const std::string& literal) {
  if (const auto whole = ParseInteger(literal)) return Value(*whole);
  double real = 0;
  std::from_chars(literal.data(), literal.data() + literal.size(), real);
  return Value(real);
}
Value RawValue(const InputValue& value) { return LiteralValue(value.Raw()); }
Value RawOrNull(const InputValue& value) { return value.Empty() ? Value() : RawValue(value); }
Value NumberValue(const InputValue& value) { return LiteralValue(SqlNumber(value.Number())); }
Value QuotedOrNull(const InputValue& value) { return value.Empty() ? Value() : Value(SqlEscapeValue(value.Text())); }
// The column's fixed default when the input is empty.
Value RawOr(const InputValue& value, Value fallback) { return value.Empty() ? fallback : RawValue(value); }
Value NumberOr(const InputValue& value, Value fallback) { return value.Empty() ? fallback : NumberValue(value); }
Value QuotedOr(const InputValue& value, Value fallback) {
  return value.Empty() ? fallback : Value(SqlEscapeValue(value.Text()));
}

// Runs `write`, turning every failure into false and its description.
template <typename Write>
bool Trapped(std::string* failure, Write&& write) {
  try {
    write();
    return true;
  } catch (const std::exception& e) {
    if (failure != nullptr) *failure = e.what();
    return false;
  }
}

}  // namespace

std::string CurrentTimeText(const Clock& clock) {
  const LocalTime now = clock.Now();
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", now.hour % 100, now.minute % 100, now.second % 100);
  return text;
}

DatabaseSession::Statement SaleNumbersDraw(int count) {
  return {"Update parametro_geral set id_vnd_dir = coalesce(id_vnd_dir, 0) + $1 returning id_vnd_dir", {count}};
}

bool NextSaleNumber(DatabaseSession& db, std::int32_t& number, bool in_caller_transaction, std::string* failure,
                    int count) {
  const bool own_transaction = !in_caller_transaction;
  bool begun = false;
  try {
    if (own_transaction) {
      begun = true;
      // A number taken outside a transaction could be read back after another
      // writer's increment: without the bracket there is no number.
      if (!db.BeginTransaction()) {
        db.RollbackTransaction();
        return false;
      }
    }
    // One statement raises the number and reads it under the row's write
    // lock: another writer (the back office, or a second connection) waits
    // for this transaction and then raises the number it leaves, so no number
    // is given twice, the first one included.
    const DatabaseSession::Statement draw = SaleNumbersDraw(count);
    Recordset rs = db.Query(draw.text, draw.values);
    if (rs.Eof()) {
      if (begun) db.RollbackTransaction();
      if (failure != nullptr) *failure = "parametro_geral sem registro";
      return false;
    }
    const std::int32_t last = rs.Field("id_vnd_dir").Int32();
    if (own_transaction) {
      db.CommitTransaction();
      if (db.InTransaction()) throw DatabaseError("commit failed");
    }
    number = last - count + 1;
    return true;
  } catch (const DatabaseError& e) {
    // A lock held too long by another writer is the caller's to tell: its
    // transaction is spoiled anyway, and the waiter may send again.
    if (e.Busy() && in_caller_transaction) throw;
    if (begun) db.RollbackTransaction();
    if (failure != nullptr) *failure = e.what();
    return false;
  }
}

bool InsertSale(DatabaseSession& db, const GeneralParameters& parameters, const Clock& clock,
                const SaleInput& in, std::string* failure) {
  return Trapped(failure, [&] {
    Require(in.nr_orc_loc, kNoSaleNumber);
    Require(in.ic_tip_ope, "O Item não foi aceito. Não foi informado o Tipo de Operação da Venda.     ");
    Require(in.id_tip_nf, "O Item não foi aceito. Não foi informado o Tipo de Nota Fiscal do Cliente.     ");
    Require(in.id_uti_pro,
            "O Item não foi aceito. Não foi informado a Utilização do Produto do Cliente.     ");
    Require(in.nm_pes_cli, "O Item não foi aceito. Não foi informado o Nome do Cliente.     ");
    Require(in.id_etb_cli, kNoEstablishment);
    Require(in.id_end_geo_fat,
            "O Item não foi aceito. Não foi informado o Endereço de Faturamento do Cliente.     ");
    Require(in.id_end_geo_etg,
            "O Item não foi aceito. Não foi informado o Endereço de Entrega do Cliente.     ");
    Require(in.id_end_geo_cob,
            "O Item não foi aceito. Não foi informado o Endereço de Cobrança do Cliente.     ");

    const Value day = BusinessDate(parameters);
    const Value time = CurrentTimeText(clock);
    const Value null;
    // Every value is formed before the statement is sent, so a value that is
    // not a number stops the operation with nothing written.
    const std::vector<std::pair<const char*, Value>> columns = {
        {"nr_orc_loc", RawValue(in.nr_orc_loc)},
        {"ic_tip_ope", QuotedOrNull(in.ic_tip_ope)},
        {"dt_vnd_dir", day},
        {"id_tip_nf", RawValue(in.id_tip_nf)},
        {"id_uti_pro", RawValue(in.id_uti_pro)},
        {"nm_pes_cli", QuotedOrNull(in.nm_pes_cli)},
        {"id_etb_cli", RawValue(in.id_etb_cli)},
        {"id_usu_req", RawOr(in.id_usu_req, 0)},
        {"id_end_geo_fat", RawValue(in.id_end_geo_fat)},
        {"id_end_geo_etg", RawValue(in.id_end_geo_etg)},
        {"id_end_geo_cob", RawValue(in.id_end_geo_cob)},
        {"id_pes_atd", RawOrNull(in.id_pes_atd)},
        {"vl_tot_ite", NumberOr(in.vl_tot_ite, 0)},
        {"vl_bon", NumberOr(in.vl_bon, 0)},
        {"vl_tot_dsc", NumberOr(in.vl_tot_dsc, 0)},
        {"vl_tot_vnd", NumberOr(in.vl_tot_vnd, 0)},
        {"pc_dsc", NumberOr(in.pc_dsc, 0)},
        {"id_usu_aut_dsc", RawOrNull(in.id_usu_aut_dsc)},
        {"id_cnd_pag", RawOr(in.id_cnd_pag, 0)},
        {"ic_tp_ent", QuotedOr(in.ic_tp_ent, "0")},
        {"dt_ent", QuotedOr(in.dt_ent, day)},
        {"vl_ent", NumberOr(in.vl_ent, 0)},
        {"dt_pri_prst", QuotedOr(in.dt_pri_prst, day)},
        {"qp_pri_prst", NumberOr(in.qp_pri_prst, 0)},
        {"ecf_loj_ope", QuotedOrNull(in.ecf_loj_ope)},
        {"nr_cf", QuotedOrNull(in.nr_cf)},
        {"nr_seq_ope", QuotedOrNull(in.nr_seq_ope)},
        {"id_vnd_dir", RawOrNull(in.id_vnd_dir)},
        {"id_etb_frq", RawOrNull(in.id_etb_frq)},
        {"vl_tot_prl", NumberOr(in.vl_tot_prl, null)},
        {"vl_tot_frt", NumberOr(in.vl_tot_frt, 0)},
        {"qt_prl", NumberOr(in.qt_prl, null)},
        {"id_ori_venda", RawOrNull(in.id_ori_venda)},
        {"id_ori_midia", RawOrNull(in.id_ori_midia)},
        {"id_pes_cnv", RawOrNull(in.id_pes_cnv)},
        {"dt_vnd_ini", day},
        {"hr_vnd_ini", time},
        {"hr_vnd_dir", time},
        {"vl_tx_srv", NumberOr(in.vl_tx_srv, null)},
        {"dc_obs_ger", QuotedOrNull(in.dc_obs_ger)},
        {"nm_comp_lock", QuotedOrNull(in.nm_comp_lock)},
    };
    RowInserts header("venda_direta");
    header.Add(columns);
    header.Flush(db);
  });
}

bool InsertSaleItem(DatabaseSession& db, const GeneralParameters& parameters, const Clock& clock,
                    const SaleItemInput& in, std::string* failure) {
  SaleLineRows rows;
  return AddSaleItem(parameters, clock, in, rows, failure) && Trapped(failure, [&] { rows.Flush(db); });
}

bool AddSaleItem(const GeneralParameters& parameters, const Clock& clock, const SaleItemInput& in, SaleLineRows& rows,
                 std::string* failure) {
  return Trapped(failure, [&] {
    Require(in.nr_orc_loc, kNoSaleNumber);
    Require(in.id_seq,
            "O Item não foi aceito. Não foi informado o Sequencial da tabela Item_Venda_Direta.     ");
    Require(in.id_mat_pro, "O Item não foi aceito. Não foi informado o Produto.     ");
    Require(in.id_tri, "O Item não foi aceito. Não foi informado a Tributação.     ");
    Require(in.pr_un_it_atd, "O Item não foi aceito. Não foi informado o Preço Unitário.     ");
    Require(in.qt_pro_atd, "O Item não foi aceito. Não foi informado a Quantidade de itens.     ");
    Require(in.vl_dsc, "O Item não foi aceito. Não foi informado o Valor de Desconto.     ");
    Require(in.vl_icms, "O Item não foi aceito. Não foi informado o Valor de ICMS.     ");
    Require(in.vl_ipi, "O Item não foi aceito. Não foi informado o Valor de IPI.     ");
    Require(in.vl_icms_rtd, "O Item não foi aceito. Não foi informado o Valor de ICMS Retido.     ");
    Require(in.vl_dsc_icms,
            "O Item não foi aceito. Não foi informado o Valor de Desconto de ICMS.     ");
    Require(in.vl_bas_icms, "O Item não foi aceito. Não foi informado o Valor Base de ICMS.     ");
    Require(in.aq_icms, "O Item não foi aceito. Não foi informado a Alíquota de ICMS.     ");
    Require(in.aq_ipi, "O Item não foi aceito. Não foi informado a Alíquota de IPI.     ");
    Require(in.vl_pr_un_ori,
            "O Item não foi aceito. Não foi informado o Preço Unitário Original.     ");
    Require(in.id_pes_atd, "O Item não foi aceito. Não foi informado o Vendedor.     ");
    Require(in.id_etb_cli, kNoEstablishment);

    const Value sale = RawValue(in.nr_orc_loc);
    const Value seq = RawValue(in.id_seq);
    const Value quantity = NumberValue(in.qt_pro_atd);
    const std::vector<std::pair<const char*, Value>> line = {
        {"nr_orc_loc", sale},
        {"id_seq", seq},
        {"id_mat_pro", RawValue(in.id_mat_pro)},
        {"id_tri", RawValue(in.id_tri)},
        {"pr_un_it_atd", NumberValue(in.pr_un_it_atd)},
        {"qt_pro_atd", quantity},
        {"vl_dsc", NumberValue(in.vl_dsc)},
        {"vl_icms", NumberValue(in.vl_icms)},
        {"vl_ipi", NumberValue(in.vl_ipi)},
        {"vl_icms_rtd", NumberValue(in.vl_icms_rtd)},
        {"vl_dsc_icms", NumberValue(in.vl_dsc_icms)},
        {"vl_bas_icms", NumberValue(in.vl_bas_icms)},
        {"aq_icms", NumberValue(in.aq_icms)},
        {"aq_ipi", NumberValue(in.aq_ipi)},
        {"vl_pr_un_ori", NumberValue(in.vl_pr_un_ori)},
        {"dc_pro_epc", QuotedOrNull(in.dc_pro_epc)},
        {"id_prt_ite", QuotedOrNull(in.id_prt_ite)},
        {"id_seq_pro_prn", RawOrNull(in.id_seq_pro_prn)},
        {"nr_lot_ite", QuotedOrNull(in.nr_lot_ite)},
        {"dt_val_ite", QuotedOrNull(in.dt_val_ite)},
        {"ic_usa_lot_per_ser", QuotedOrNull(in.ic_usa_lot_per_ser)},
        {"ic_usa_pro_rst", QuotedOrNull(in.ic_usa_pro_rst)},
        {"dc_doc_med", QuotedOrNull(in.dc_doc_med)},
        {"nr_ped_ext", RawOrNull(in.nr_ped_ext)},
        {"id_usu_aut_dsc_ite", RawOrNull(in.id_usu_aut_dsc_ite)},
        {"id_etb_cli_cnv_ite", RawOrNull(in.id_etb_cli_cnv_ite)},
        {"id_pes_cnv_ite", RawOrNull(in.id_pes_cnv_ite)},
        {"nr_crt_cnv_ite", QuotedOrNull(in.nr_crt_cnv_ite)},
        {"id_sit_osv", QuotedOrNull(in.id_sit_osv)},
        {"ic_gera_ord_srv", QuotedOrNull(in.ic_gera_ord_srv)},
        {"ic_recebe_vnd_sem_ord_srv", QuotedOrNull(in.ic_recebe_vnd_sem_ord_srv)},
        {"id_seq_osv_off", RawOrNull(in.id_seq_osv_off)},
        {"dt_vnd_ite", BusinessDate(parameters)},
        {"hr_vnd_ite", CurrentTimeText(clock)},
        {"ic_inc_pac", QuotedOrNull(in.ic_inc_pac)},
        {"id_usu_aut_inc_pac", QuotedOrNull(in.id_usu_aut_inc_pac)},
    };
    const std::vector<std::pair<const char*, Value>> salesperson = {
        {"nr_orc_loc", sale},
        {"id_seq", seq},
        {"id_pes_atd", RawValue(in.id_pes_atd)},
        {"id_etb_cli", RawValue(in.id_etb_cli)},
        {"qt_pro_atd", quantity},
    };
    rows.lines.Add(line);
    rows.salespeople.Add(salesperson);
  });
}

DatabaseSession::Statement SaleLinesRead(const DatabaseSession& db, const std::vector<std::int32_t>& sales) {
  std::vector<long long> numbers(sales.begin(), sales.end());
  return {"Select ivd.nr_orc_loc, ivd.pr_un_it_atd, ivd.qt_pro_atd, ivd.vl_dsc from item_venda_direta ivd where " +
              db.InList("ivd.nr_orc_loc", "$1", Value::Kind::Integer) + " order by ivd.nr_orc_loc, ivd.id_seq_pro_prn nulls first, ivd.id_seq",
          {db.ListOf(numbers)}};
}

void WriteSaleTotals(DatabaseSession& db, const Clock& clock, const std::vector<std::int32_t>& sales,
                     Recordset lines, const InputValue& waiter) {
  const Value waiter_value = RawValue(waiter);
  const std::string time = CurrentTimeText(clock);
  // The lines of each sale as its index of accompaniments lists them (main
  // lines first, then the accompaniments by their item): the order in which
  // the totals have always been summed, so that a real total comes out the
  // same to the last bit.
  struct Sums {
    double items = 0;
    double discount = 0;
  };
  std::map<long long, Sums> sums;
  for (; !lines.Eof(); lines.MoveNext()) {
    Sums& sale = sums[lines.Field("nr_orc_loc").Int()];
    const double quantity = lines.Field("qt_pro_atd").Real();
    sale.items += quantity * lines.Field("pr_un_it_atd").Real();
    sale.discount += quantity * lines.Field("vl_dsc").Real();
    if (!std::isfinite(sale.items) || !std::isfinite(sale.discount)) {
      throw DatabaseError("Estouro de capacidade no total da venda " + lines.Field("nr_orc_loc").Text());
    }
  }
  for (const std::int32_t sale : sales) {
    const Sums found = sums[sale];
    const double total = found.items - found.discount;
    if (!std::isfinite(total)) throw DatabaseError("Estouro de capacidade no total da venda " + std::to_string(sale));
    db.ExecuteSql(
        "Update venda_direta set id_pes_atd = $1, vl_tot_frt = 0, vl_tot_ite = $2, vl_tot_dsc = $3, vl_tot_vnd = $4,"
        " hr_vnd_dir = $5 where nr_orc_loc = $6",
        {waiter_value, LiteralValue(SqlNumber(found.items)), LiteralValue(SqlNumber(found.discount)),
         LiteralValue(SqlNumber(total)), time, sale});
  }
}

SaleInput NewOrderSale(const CustomerRecord& customer, std::int32_t number, const InputValue& waiter) {
  SaleInput input;
  input.nr_orc_loc = number;
  input.ic_tip_ope = "O";
  input.id_tip_nf = customer.invoice_type;
  input.id_uti_pro = customer.product_use;
  input.nm_pes_cli = customer.name;
  input.id_etb_cli = customer.establishment;
  input.id_usu_req = customer.requesting_user;
  input.id_end_geo_fat = customer.billing_address;
  input.id_end_geo_etg = customer.delivery_address;
  input.id_end_geo_cob = customer.collection_address;
  input.id_pes_atd = waiter;
  return input;
}

}  // namespace orba
