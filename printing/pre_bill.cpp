#include "printing/pre_bill.h"

#include <algorithm>
#include <exception>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "common/database.h"
#include "common/error_report.h"
#include "common/general_parameters.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "printing/routing.h"

namespace orba {

namespace {

// Company whose pre-bills end with five more feed lines.
constexpr long long kLongFeedCompany = 781;

struct SaleHeader {
  std::string operation_type;
  std::string sale_date;
  std::string start_time;
  std::string customer;
  std::string waiter;
  std::string observation;
  bool has_customer_establishment = false;
  long long customer_establishment = 0;
  bool has_agreement = false;
  long long agreement = 0;
};

// Half-way values go to the even neighbour.
long long RoundHalfEven(long long twice) {
  const long long half = twice / 2;
  if (twice % 2 == 0) return half;
  return half % 2 == 0 ? half : half + 1;
}

class PreBillWriter {
 public:
  PreBillWriter(Context& context, std::string_view sale_list, std::string_view title, int printer_type,
                const PrinterSettings& settings)
      : context_(context),
        db_(context.db),
        sales_(RequireSales(sale_list)),
        sale_list_(RequireSaleList(sale_list)),
        several_(sale_list_.find(',') != std::string::npos),
        compact_(printer_type == 2),
        title_(title),
        settings_(settings) {}

  void Gather();
  PrintedDocument Document(std::string_view printer);

  double discount() const { return discount_; }
  double freight() const { return freight_; }

 private:
  std::string Money(double value) const {
    return RightAligned(FormatAmount(value, 2, true, context_.parameters.DecimalSeparator), 9);
  }
  void ReadParameters(const Recordset& rs);
  void ReadPlace(const Recordset& rs);
  void ReadHeader(const Recordset& rs);
  void ReadTotals(const Recordset& rs);
  void ReadAddress(Recordset& rs);
  void ReadDispatch(const Recordset& rs);
  void Items(std::vector<std::string>& out);
  void Totals(std::vector<std::string>& out);
  void Closing(std::vector<std::string>& out);

  Context& context_;
  DatabaseSession& db_;
  std::vector<long long> sales_;
  std::string sale_list_;
  bool several_;
  bool compact_;
  std::string title_;
  const PrinterSettings& settings_;

  std::string company_;
  double service_rate_ = 0;
  std::string address_switch_ = "N";
  std::string place_;
  long long people_ = 0;
  long long account_type_ = 0;
  SaleHeader header_;
  double discount_ = 0;
  double freight_ = 0;
  double service_ = 0;
  double entry_ = 0;
  std::string street_, complement_, district_, city_;
  bool has_dispatch_ = false;
  std::string dispatch_date_, dispatch_kind_;
  std::string agreement_name_;
  bool agreement_found_ = false;
  Recordset items_;
  std::map<std::pair<long long, long long>, std::vector<std::string>> options_;  // by nr_orc_loc, id_seq
  double total_ = 0;
};

void PreBillWriter::Gather() {
  // Everything the document shows, read at once: the queries depend on the
  // sales only, so the rows that depend on the header (the customer's address,
  // the agreement) are read for every sale and picked below.
  const Value sales = db_.ListOf(sales_);
  const auto of_sales = [&](std::string_view column) { return db_.InList(column, "$1", Value::Kind::Integer); };
  std::vector<DatabaseSession::Statement> reads{
      {"Select nm_emp, tx_srv, ic_imp_end_cli_orc\rfrom   parametro_geral", {}},
      context_.parameters.IsComandaMode()
          ? ComandaPlaceQuery(db_, sales)
          : DatabaseSession::Statement{
                "Select l.nm_loc, l.qt_loc_ocu, la.nm_loc as nm_loc_ass, lv.nr_pos_com, lv.id_tp_cta\r"
                "from   local_vnd lv\r"
                "       inner join local l on lv.id_loc = l.id_loc\r"
                "       left join local la on lv.id_loc_ass = la.id_loc\r"
                "Where  " + of_sales("lv.nr_orc_loc"),
                {sales}},
      // The header of the earliest sale.
      {"Select vd.ic_tip_ope, vd.dt_vnd_dir, vd.hr_vnd_ini, vd.nm_pes_cli,\r"
       "       sum(vd.vl_tot_ite) as vl_tot_ite, sum(vd.vl_bon) as vl_bon,\r"
       "       sum(vd.vl_tot_dsc) as vl_tot_dsc, sum(vd.vl_tot_vnd) as vl_tot_vnd,\r"
       "       sum(vd.vl_ent) as vl_ent, sum(vd.vl_tot_frt) as vl_tot_frt,\r"
       "       sum(vd.vl_tx_srv) as vl_tx_srv, vd.pc_dsc, vd.id_cnd_pag, vd.ic_tp_ent,\r"
       "       vd.dt_ent, vd.dt_pri_prst, vd.qp_pri_prst, vd.id_pes_cnv,\r"
       "       u.nm_pes_cpl as nm_pes_usu, vd.dc_obs_ger, vd.id_etb_cli\r"
       "from   venda_direta vd, usuario u\r"
       "Where  " + of_sales("vd.nr_orc_loc") + "\r"
       "And    vd.id_pes_atd = u.id_pes_usu\r"
       "Group by vd.ic_tip_ope, vd.dt_vnd_dir, vd.hr_vnd_ini, vd.nm_pes_cli, vd.pc_dsc,\r"
       "       vd.id_cnd_pag, vd.ic_tp_ent, vd.dt_ent, vd.dt_pri_prst, vd.qp_pri_prst,\r"
       "       vd.id_pes_cnv, u.nm_pes_cpl, vd.dc_obs_ger, vd.id_etb_cli\r"
       "Order by vd.dt_vnd_dir, vd.hr_vnd_ini",
       {sales}},
      // Totals over every listed sale: the sales of one table differ in their
      // header columns, so each one is a group of its own above.
      {"Select sum(vl_tot_dsc) as vl_tot_dsc, sum(vl_tot_frt) as vl_tot_frt,\r"
       "       sum(vl_tx_srv) as vl_tx_srv, sum(vl_ent) as vl_ent\r"
       "from   venda_direta\r"
       "Where  " + of_sales("nr_orc_loc"),
       {sales}},
      {"Select p.cd_pro, p.dc_pro_nf, p.sg_umed, ivd.nr_orc_loc, ivd.id_seq, ivd.qt_pro_atd,\r"
       "       ivd.pr_un_it_atd, ivd.vl_dsc, ivd.dc_pro_epc, ivd.id_seq_pro_prn\r"
       "from   item_venda_direta ivd, produto p\r"
       "Where  " + of_sales("ivd.nr_orc_loc") + "\r"
       "And    ivd.id_mat_pro = p.id_mat_pro\r"
       "Order by ivd.nr_orc_loc, ivd.id_seq",
       {sales}},
      LineOptionsQuery(db_, sales),
      {"Select eg.id_etb, eg.dc_lg, eg.dc_cpl_end, eg.nm_brr, m.nm_mun\r"
       "from   endereco_geo eg, municipio m\r"
       "Where  eg.id_etb in (Select vd.id_etb_cli from venda_direta vd Where " + of_sales("vd.nr_orc_loc") + ")\r"
       "And    eg.id_mun = m.id_mun\r"
       "Order by eg.id_etb, eg.id_end_geo",
       {sales}},
      AgreementsQuery(db_, sales),
  };
  if (settings_.dispatch_lines) {
    reads.push_back({"Select dt_prv_etg, ic_ret_etg\r"
                     "from   item_programacao_entrega\r"
                     "Where  " + of_sales("nr_orc_loc") + "\r"
                     "Order by nr_orc_loc, id_seq, id_seq_etg",
                     {sales}});
  }
  std::vector<Recordset> rows = db_.Queries(reads);
  ReadParameters(rows[0]);
  if (context_.parameters.IsComandaMode()) {
    place_ = ComandaPlaceText(rows[1]);
  } else {
    ReadPlace(rows[1]);
  }
  ReadHeader(rows[2]);
  ReadTotals(rows[3]);
  items_ = std::move(rows[4]);
  for (Recordset& options = rows[5]; !options.Eof(); options.MoveNext()) {
    options_[{options.Field("nr_orc_loc").Int(), options.Field("id_Seq").Int()}].push_back(
        options.Field("dc_car_pro").Text());
  }
  if (address_switch_ == "S" && header_.has_customer_establishment) ReadAddress(rows[6]);
  if (header_.has_agreement) {
    if (const auto name = AgreementName(rows[7], header_.agreement)) {
      agreement_found_ = true;
      agreement_name_ = *name;
    }
  }
  if (settings_.dispatch_lines) ReadDispatch(rows[8]);
}

void PreBillWriter::ReadParameters(const Recordset& rs) {
  if (rs.Eof()) return;
  company_ = rs.Field("nm_emp").Text();
  if (!rs.Field("tx_srv").Text().empty()) service_rate_ = rs.Field("tx_srv").Real();
  if (!rs.Field("ic_imp_end_cli_orc").Text().empty()) address_switch_ = rs.Field("ic_imp_end_cli_orc").Text();
}

void PreBillWriter::ReadPlace(const Recordset& rs) {
  if (rs.Eof()) return;
  const std::string name = rs.Field("nm_loc").Text();
  const std::string associated = rs.Field("nm_loc_ass").Text();
  const std::string position = rs.Field("nr_pos_com").Text();
  if (several_) {
    place_ = "LOCAL: " + name;
  } else if (associated.empty()) {
    place_ = "LOCAL: " + name + "/" + position;
  } else {
    place_ = "LOCAL: " + associated + "/" + name + "/" + position;
  }
  people_ = rs.Field("qt_loc_ocu").IsNull() ? 0 : rs.Field("qt_loc_ocu").Int();
  account_type_ = rs.Field("id_tp_cta").IsNull() ? 1 : rs.Field("id_tp_cta").Int();
}

void PreBillWriter::ReadHeader(const Recordset& rs) {
  if (rs.Eof()) return;
  header_.operation_type = rs.Field("ic_tip_ope").Text();
  header_.sale_date = rs.Field("dt_vnd_dir").Text();
  header_.start_time = rs.Field("hr_vnd_ini").Text();
  header_.customer = rs.Field("nm_pes_cli").Text();
  header_.waiter = rs.Field("nm_pes_usu").Text();
  header_.observation = rs.Field("dc_obs_ger").Text();
  if (!rs.Field("id_etb_cli").Text().empty()) {
    header_.has_customer_establishment = true;
    header_.customer_establishment = rs.Field("id_etb_cli").Int();
  }
  if (!rs.Field("id_pes_cnv").IsNull()) {
    header_.has_agreement = true;
    header_.agreement = rs.Field("id_pes_cnv").Int();
  }
}

void PreBillWriter::ReadTotals(const Recordset& rs) {
  if (rs.Eof()) return;
  discount_ = NumberOrZero(rs.Field("vl_tot_dsc"));
  freight_ = NumberOrZero(rs.Field("vl_tot_frt"));
  service_ = NumberOrZero(rs.Field("vl_tx_srv"));
  entry_ = NumberOrZero(rs.Field("vl_ent"));
}

// The first address of the header's establishment.
void PreBillWriter::ReadAddress(Recordset& rs) {
  for (; !rs.Eof(); rs.MoveNext()) {
    if (rs.Field("id_etb").Int() != header_.customer_establishment) continue;
    street_ = rs.Field("dc_lg").Text();
    complement_ = rs.Field("dc_cpl_end").Text();
    district_ = rs.Field("nm_brr").Text();
    city_ = rs.Field("nm_mun").Text();
    return;
  }
}

void PreBillWriter::ReadDispatch(const Recordset& rs) {
  if (rs.Eof()) return;
  has_dispatch_ = true;
  const std::string planned = rs.Field("dt_prv_etg").Text();
  const auto piece = [&](std::size_t from, std::size_t count) {
    return from < planned.size() ? planned.substr(from, count) : std::string();
  };
  dispatch_date_ = ConvertDate(piece(0, 8), "dd/mm/yyyy") + "-" + piece(9, 2) + ":" + piece(11, 2);
  const std::string kind = rs.Field("ic_ret_etg").Text();
  dispatch_kind_ = kind == "R" ? "RETIRA" : kind == "E" ? "ENTREGA" : "";
}

PrintedDocument PreBillWriter::Document(std::string_view printer) {
  PrintedDocument document;
  StartDocument(document, printer);
  auto& out = document.lines;
  const bool mecaf = printer == kMecafPrinter;

  out.emplace_back(kSeparator);
  const std::string trimmed = TrimSpaces(company_);
  const long long length = static_cast<long long>(std::min<std::size_t>(CharacterCount(trimmed), 14));
  const long long indent = RoundHalfEven(37 - length);
  out.push_back(std::string(static_cast<std::size_t>(indent), ' ') + Cut(trimmed, mecaf ? 18 : 32));
  out.emplace_back(kSeparator);

  const std::string place = Cut(TrimSpaces(place_), 17);
  const std::string right = several_ ? "MULT." : sale_list_;
  const std::size_t used = CharacterCount(place) + CharacterCount(right);
  document.place_line = out.size();
  out.push_back(place + std::string(used < kLineWidth ? kLineWidth - used : 0, ' ') + right);
  out.emplace_back(kSeparator);

  out.push_back("FILIAL    :" + context_.parameters.sg_fil);
  out.push_back(DateLine(header_.sale_date, header_.start_time));
  if (has_dispatch_) {
    out.push_back("DT.EXPEDIR:" + dispatch_date_);
    out.push_back("TP.EXPEDIR:" + dispatch_kind_);
  }
  out.push_back("VENDEDOR  :" + Cut(header_.waiter, 26));
  out.push_back(TypeLine(header_.operation_type, title_));
  out.push_back("CLIENTE   :" + Cut(header_.customer, 26));
  if (agreement_found_) out.push_back("CONVENIADO:" + Cut(agreement_name_, 26));

  if (!header_.observation.empty()) {
    out.emplace_back(kSeparator);
    const std::size_t count = CharacterCount(header_.observation);
    for (std::size_t start = 0; start < count; start += 33) {
      const std::string piece =
          Cut(LastCharacters(header_.observation, count - start), 33);
      out.push_back((start == 0 ? "OBS:" : "    ") + piece);
    }
  }

  if (address_switch_ == "S") {
    out.emplace_back(kSeparator);
    out.push_back("END:" + Cut(street_, 33));
    if (CharacterCount(street_) > 33) {
      out.push_back("    " + Cut(LastCharacters(street_, CharacterCount(street_) - 33), 50));
    }
    out.push_back("CPL:" + Cut(complement_, 30));
    out.push_back("BRR:" + Cut(district_, 30));
    out.push_back("CID:" + Cut(city_, 33));
  }

  out.emplace_back(kSeparator);
  out.push_back(compact_ ? "PRODUTO          QTDE VLR UN.   VALOR" : "CODIGO  QTD  X  VALOR UN.     VALOR  ");
  out.emplace_back(kSeparator);
  Items(out);
  Totals(out);
  Closing(out);
  return document;
}

void PreBillWriter::Items(std::vector<std::string>& out) {
  const char separator = context_.parameters.DecimalSeparator;
  for (Recordset& rs = items_; !rs.Eof(); rs.MoveNext()) {
    const double quantity = NumberOrZero(rs.Field("qt_pro_atd"));
    const double price = NumberOrZero(rs.Field("pr_un_it_atd"));
    const double value = quantity * price;
    total_ += value;
    const bool accompaniment = !rs.Field("id_seq_pro_prn").IsNull();
    const Value& special = rs.Field("dc_pro_epc");
    std::string description = special.IsNull() ? rs.Field("dc_pro_nf").Text() : special.Text();
    if (accompaniment) description = "(+) " + description;
    const std::string q = FormatQuantity(quantity, separator);
    if (compact_) {
      out.push_back(LeftAligned(description, 15) + " " + RightAligned(q, 5) + " " +
                    RightAligned(FormatAmount(price, 2, false, separator), 7) + " " +
                    RightAligned(FormatAmount(value, 2, false, separator), 7));
    } else {
      out.push_back(Cut(description, 37));
      out.push_back(RightAligned(rs.Field("cd_pro").Text(), 5) + " " + RightAligned(q, 6) + " X  " +
                    Money(price) + "   " + Money(value));
    }
    if (accompaniment) continue;
    const auto options = options_.find({rs.Field("nr_orc_loc").Int(), rs.Field("id_seq").Int()});
    if (options == options_.end()) continue;
    for (const std::string& option : options->second) out.push_back(Cut("(*) " + option, compact_ ? 17 : 37));
  }
}

void PreBillWriter::Totals(std::vector<std::string>& out) {
  out.emplace_back(kSeparator);
  out.push_back("Valor da Venda " + std::string(13, ' ') + Money(total_));
  if (discount_ > 0) out.push_back("Desconto  " + std::string(18, ' ') + Money(discount_));
  if (freight_ > 0) out.push_back("Frete     " + std::string(18, ' ') + Money(freight_));
  total_ = total_ - discount_ + freight_;
  if (discount_ > 0 || freight_ > 0) {
    out.emplace_back(kSeparator);
    out.push_back((service_rate_ > 0 ? "Sub Total " : "Total     ") + std::string(18, ' ') + Money(total_));
  }
  if (service_rate_ > 0) {
    if (header_.operation_type == "O") service_ = (total_ - freight_) * service_rate_ / 100;
    total_ += service_;
    out.emplace_back("Taxa de Serviço");
    out.push_back("nao obrigatorio (" +
                  LastCharacters(FormatAmount(service_rate_, 2, false, context_.parameters.DecimalSeparator), 5) +
                  "%)" + std::string(4, ' ') + Money(service_));
    out.emplace_back(kSeparator);
    out.push_back("Total     " + std::string(18, ' ') + Money(total_));
  }
  if (entry_ > 0) total_ -= entry_;
}

void PreBillWriter::Closing(std::vector<std::string>& out) {
  if (header_.operation_type == "C") {
    out.emplace_back(kSeparator);
    out.emplace_back(37, ' ');
    out.emplace_back(37, ' ');
    out.emplace_back(kSeparator);
    out.emplace_back("             ASSINATURA              ");
  } else {
    if (account_type_ == 1 && people_ > 1) {
      out.emplace_back(kSeparator);
      out.push_back("Quant. pessoas:   " + std::to_string(people_));
      out.push_back("Total individual: " +
                    FormatAmount(total_ / static_cast<double>(people_), 2, true,
                                 context_.parameters.DecimalSeparator));
    }
    out.emplace_back(kSeparator);
    out.emplace_back("              OBRIGADO               ");
    out.emplace_back("            VOLTE SEMPRE             ");
    out.emplace_back(kSeparator);
  }
  out.emplace_back("");
  if (context_.parameters.id_emp_orba == kLongFeedCompany) {
    for (int i = 0; i < 5; ++i) out.emplace_back("   ");
  }
}

}  // namespace

bool PrintPreBill(Context& context, std::string_view sale_list, std::string_view title,
                  int printer_type, const PrinterSettings& settings, PrintAmounts* amounts) {
  try {
    PrinterSystem& printers = context.printers;
    const std::string remembered = printers.CurrentPrinter();
    PreBillWriter writer(context, sale_list, title, printer_type, settings);
    writer.Gather();
    if (amounts != nullptr) {
      amounts->discount = writer.discount();
      amounts->freight = writer.freight();
    }
    SendDocument(printers, writer.Document(remembered));
    if (printers.CurrentPrinter() != remembered) SelectPrinter(printers, remembered);
    return true;
  } catch (const std::exception& e) {
    ReportError(context.op, &context.db, e.what(), kPreBillFailure);
    return false;
  }
}

}  // namespace orba
