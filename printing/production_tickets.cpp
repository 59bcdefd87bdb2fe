#include "printing/production_tickets.h"

#include <exception>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/database.h"
#include "common/error_report.h"
#include "common/general_parameters.h"
#include "common/text.h"
#include "printing/pre_bill.h"
#include "printing/routing.h"

namespace orba {

namespace {

using LineKey = std::pair<long long, long long>;  // nr_orc_loc, id_seq

// Header of every ticket of one request.
struct TicketHeader {
  std::string place;
  std::string operation_type;
  std::string sale_date;
  std::string start_time;
  std::string customer;
  std::string waiter;
  bool has_agreement = false;
  std::string agreement;
};

class TicketWriter {
 public:
  TicketWriter(Context& context, std::string sale_list, bool several, int printer_type,
               std::string_view title, const PrinterSettings& settings)
      : context_(context),
        db_(context.db),
        sale_list_(std::move(sale_list)),
        several_(several),
        compact_(printer_type == 2),
        title_(title),
        settings_(settings) {}

  void ReadHeader();
  // One ticket with the item rows of `items` (main items), for `printer`.
  PrintedDocument Ticket(Recordset& items, std::string_view printer, bool printer_ticket,
                         std::vector<LineKey>& lines);

 private:
  std::string Heading() const;
  void ItemLines(const Recordset& item, PrintedDocument& document);
  void CharacteristicLines(long long sale, long long sequence, bool printer_ticket,
                           PrintedDocument& document);
  void AccompanimentLines(long long sale, long long sequence, const std::string& position,
                          bool printer_ticket, PrintedDocument& document, std::vector<LineKey>& lines);
  std::string Quantity(const Value& value) const {
    return FormatQuantity(NumberOrZero(value), context_.parameters.DecimalSeparator);
  }

  Context& context_;
  DatabaseSession& db_;
  std::string sale_list_;
  bool several_;
  bool compact_;
  std::string title_;
  const PrinterSettings& settings_;
  TicketHeader header_;
};

// Two-digit position of the PS column; two blanks without one.
std::string PositionText(const Value& position) {
  if (position.IsNull()) return "  ";
  const long long n = position.Int();
  return RightAligned((n >= 0 && n < 10 ? "0" : "") + std::to_string(n), 2);
}

std::string Description(const Recordset& rs) {
  const Value& special = rs.Field("dc_pro_epc");
  return special.IsNull() ? rs.Field("dc_pro_nf").Text() : special.Text();
}

void TicketWriter::ReadHeader() {
  {
    Recordset rs;
    db_.SqlClear();
    db_.SqlAppend("Select l.nm_loc, lv.nr_pos_com");
    db_.SqlAppend("from   local_vnd lv, local l");
    db_.SqlAppend("Where  lv.nr_orc_loc in (" + sale_list_ + ")");
    db_.SqlAppend("And    lv.id_loc = l.id_loc");
    rs = db_.Query(db_.SqlText());
    if (!rs.Eof()) {
      header_.place = "LOCAL: " + rs.Field("nm_loc").Text();
      if (!several_) header_.place += "/" + rs.Field("nr_pos_com").Text();
    }
    rs.Close();
  }
  Recordset rs;
  db_.SqlClear();
  db_.SqlAppend("Select vd.ic_tip_ope, vd.dt_vnd_dir, vd.hr_vnd_ini, vd.nm_pes_cli, vd.id_pes_cnv,");
  db_.SqlAppend("       u.nm_pes_cpl as nm_pes_usu");
  db_.SqlAppend("from   venda_direta vd, usuario u");
  db_.SqlAppend("Where  vd.nr_orc_loc in (" + sale_list_ + ")");
  db_.SqlAppend("And    vd.id_pes_atd = u.id_pes_usu");
  db_.SqlAppend("Order by vd.dt_vnd_dir, vd.hr_vnd_ini");
  rs = db_.Query(db_.SqlText());
  if (rs.Eof()) return;
  header_.operation_type = rs.Field("ic_tip_ope").Text();
  header_.sale_date = rs.Field("dt_vnd_dir").Text();
  header_.start_time = rs.Field("hr_vnd_ini").Text();
  header_.customer = rs.Field("nm_pes_cli").Text();
  header_.waiter = rs.Field("nm_pes_usu").Text();
  const Value& agreement = rs.Field("id_pes_cnv");
  if (!agreement.IsNull()) {
    Recordset cnv;
    db_.SqlClear();
    db_.SqlAppend("Select nm_pes_cnv from conveniado");
    db_.SqlAppend("Where  id_pes_cnv = " + std::to_string(agreement.Int()));
    cnv = db_.Query(db_.SqlText());
    if (!cnv.Eof()) {
      header_.has_agreement = true;
      header_.agreement = cnv.Field("nm_pes_cnv").Text();
    }
  }
}

std::string TicketWriter::Heading() const {
  if (!several_) {
    return compact_ ? "CODIGO PRODUTO                   QTDE" : "PRODUTO                          QTDE";
  }
  return compact_ ? "PS CODIGO PRODUTO                QTDE" : "PS CODIGO                        QTDE";
}

PrintedDocument TicketWriter::Ticket(Recordset& items, std::string_view printer, bool printer_ticket,
                                     std::vector<LineKey>& lines) {
  PrintedDocument document;
  StartDocument(document, printer);
  auto& out = document.lines;
  out.emplace_back(kSeparator);
  std::string number;
  if (several_) {
    number = "MULT.";
  } else if (printer == kMecafPrinter) {
    number = RightAligned(sale_list_, 5);
  } else {
    number = LastCharacters("00000" + sale_list_, 5);
  }
  out.push_back(LeftAligned(Cut(TrimSpaces(header_.place), 17), 32) + number);
  out.emplace_back(kSeparator);
  out.push_back(DateLine(header_.sale_date, header_.start_time));
  out.push_back("FILIAL    :" + context_.parameters.sg_fil);
  out.push_back("VENDEDOR  :" + header_.waiter);
  out.push_back(TypeLine(header_.operation_type, title_));
  out.push_back("CLIENTE   :" + Cut(header_.customer, 26));
  if (header_.has_agreement) out.push_back("CONVENIADO:" + Cut(header_.agreement, 26));
  out.emplace_back(kSeparator);
  out.push_back(Heading());
  out.emplace_back(kSeparator);

  for (; !items.Eof(); items.MoveNext()) {
    const long long sale = items.Field("nr_orc_loc").Int();
    const long long sequence = items.Field("id_seq").Int();
    lines.emplace_back(sale, sequence);
    ItemLines(items, document);
    CharacteristicLines(sale, sequence, printer_ticket, document);
    const std::string position = several_ ? PositionText(items.Field("nr_pos_com")) : std::string();
    AccompanimentLines(sale, sequence, position, printer_ticket, document, lines);
  }

  out.emplace_back(kSeparator);
  out.emplace_back("");
  if (printer_ticket && settings_.FeedsPaper(context_.parameters.id_emp_orba)) {
    for (int i = 0; i < 8; ++i) out.emplace_back(" ");
  }
  return document;
}

void TicketWriter::ItemLines(const Recordset& item, PrintedDocument& document) {
  auto& out = document.lines;
  const std::string code = item.Field("cd_pro").Text();
  const std::string description = Description(item);
  const std::string quantity = Quantity(item.Field("qt_pro_atd"));
  if (!several_) {
    if (compact_) {
      out.push_back(RightAligned(code, 6) + " " + LeftAligned(description, 24) + " " +
                    RightAligned(quantity, 5));
    } else {
      out.push_back(Cut(description, 37));
      out.push_back(RightAligned(code, 5) + std::string(26, ' ') + RightAligned(quantity, 6));
    }
    return;
  }
  const std::string position = PositionText(item.Field("nr_pos_com"));
  if (compact_) {
    out.push_back(position + " " + RightAligned(code, 6) + " " + LeftAligned(description, 21) + " " +
                  RightAligned(quantity, 5));
  } else {
    out.push_back(Cut(description, 37));
    out.push_back(position + " " + RightAligned(code, 5) + std::string(23, ' ') +
                  RightAligned(quantity, 6));
  }
}

void TicketWriter::CharacteristicLines(long long sale, long long sequence, bool printer_ticket,
                                       PrintedDocument& document) {
  Recordset rs;
  db_.SqlClear();
  db_.SqlAppend("Select cp.dc_car_pro");
  db_.SqlAppend("from   ivd_caracteristica_produto icp, caracteristica_produto cp");
  db_.SqlAppend("Where  icp.nr_orc_loc = " + std::to_string(sale));
  db_.SqlAppend("And    icp.id_Seq = " + std::to_string(sequence));
  db_.SqlAppend("And    icp.id_car_pro = cp.id_car_pro");
  rs = db_.Query(db_.SqlText());
  for (; !rs.Eof(); rs.MoveNext()) {
    const std::string text = "(*) " + rs.Field("dc_car_pro").Text();
    std::string line;
    if (!several_) {
      line = compact_ ? std::string(7, ' ') + Cut(text, 24) : Cut(text, 37);
    } else if (compact_) {
      line = std::string(10, ' ') + Cut(text, printer_ticket ? 21 : 24);
    } else {
      line = Cut("   " + text, 37);
    }
    document.lines.push_back(line);
  }
}

void TicketWriter::AccompanimentLines(long long sale, long long sequence, const std::string& position,
                                      bool printer_ticket, PrintedDocument& document,
                                      std::vector<LineKey>& lines) {
  Recordset rs;
  db_.SqlClear();
  db_.SqlAppend("Select p.cd_pro, p.dc_pro_nf, p.sg_umed, ivd.nr_orc_loc, ivd.id_seq, ivd.qt_pro_atd,");
  db_.SqlAppend("       ivd.dc_pro_epc, ivd.id_seq_pro_prn");
  db_.SqlAppend("from   item_venda_direta ivd, produto p");
  db_.SqlAppend("Where  ivd.nr_orc_loc = " + std::to_string(sale));
  db_.SqlAppend("And    ivd.id_seq_pro_prn = " + std::to_string(sequence));
  db_.SqlAppend("And    ivd.id_mat_pro = p.id_mat_pro");
  db_.SqlAppend("And    ivd.id_prt_ite = 'N'");
  db_.SqlAppend("Order by ivd.id_seq");
  rs = db_.Query(db_.SqlText());
  auto& out = document.lines;
  for (; !rs.Eof(); rs.MoveNext()) {
    lines.emplace_back(sale, rs.Field("id_seq").Int());
    const std::string code = rs.Field("cd_pro").Text();
    const std::string description = "(+) " + Description(rs);
    const std::string quantity = Quantity(rs.Field("qt_pro_atd"));
    if (!several_) {
      if (compact_) {
        out.push_back(RightAligned(code, 6) + " " + LeftAligned(description, 24) + " " +
                      RightAligned(quantity, 5));
      } else {
        out.push_back(Cut(description, 37));
        out.push_back(RightAligned(code, 5) + std::string(26, ' ') + RightAligned(quantity, 6));
      }
    } else if (compact_) {
      const std::string lead = printer_ticket ? std::string(3, ' ') : position + " ";
      out.push_back(lead + RightAligned(code, 6) + " " + LeftAligned(description, 21) + " " +
                    RightAligned(quantity, 5));
    } else {
      out.push_back(Cut("   " + description, 37));
      out.push_back("   " + RightAligned(code, 5) + std::string(23, ' ') + RightAligned(quantity, 6));
    }
  }
}

// Marks every unprinted item of the sales, or only `lines` when given.
void MarkPrinted(DatabaseSession& db, const std::string& sale_list, const std::vector<LineKey>* lines) {
  db.SqlClear();
  db.SqlAppend("Update item_venda_direta ");
  db.SqlAppend("Set    id_prt_ite = 'S'");
  if (lines == nullptr) {
    db.SqlAppend("Where  nr_orc_loc in (" + sale_list + ")");
  } else {
    db.SqlAppend("Where  (");
    bool first = true;
    for (const LineKey& line : *lines) {
      db.SqlAppend(std::string(first ? "       " : "    Or ") + "(nr_orc_loc = " +
                   std::to_string(line.first) + " And id_seq = " + std::to_string(line.second) + ")");
      first = false;
    }
    db.SqlAppend("       )");
  }
  db.SqlAppend("And    id_prt_ite = 'N'");
  db.ExecuteSql(db.SqlText());
}

}  // namespace

bool PrintProductionTickets(Context& context, std::string_view sale_list_text, std::string_view title,
                            int printer_type, const PrinterSettings& settings, PrintAmounts* amounts) {
  DatabaseSession& db = context.db;
  PrinterSystem& printers = context.printers;
  std::string sale_list;
  std::string starting;
  std::vector<std::string> failures;
  // Each line that went onto a ticket, and whether all its tickets went out.
  std::map<LineKey, bool> delivered;

  try {
    sale_list = RequireSaleList(sale_list_text);
    {
      Recordset rs;
      db.SqlClear();
      db.SqlAppend("Select id_imp, nm_end_imp from impressora");
      rs = db.Query(db.SqlText());
      if (rs.Eof()) return true;
    }
    starting = printers.CurrentPrinter();
    const bool several = sale_list.find(',') != std::string::npos;

    TicketWriter writer(context, sale_list, several, printer_type, title, settings);
    writer.ReadHeader();

    Recordset all_printers;
    db.SqlClear();
    db.SqlAppend("Select id_imp, nm_end_imp from impressora");
    all_printers = db.Query(db.SqlText());
    if (all_printers.Eof()) return true;

    bool without_device = false;
    {
      Recordset rs;
      db.SqlClear();
      db.SqlAppend("Select id_imp from impressora");
      db.SqlAppend("Where  nm_end_imp is null or trim(nm_end_imp) = ''");
      rs = db.Query(db.SqlText());
      without_device = !rs.Eof();
    }

    if (without_device) {
      if (!PrintPreBill(context, sale_list, title, printer_type, settings, amounts)) return false;
    } else {
      const auto print = [&](Recordset& items, bool printer_ticket, const std::string& label) {
        std::vector<LineKey> lines;
        const PrintedDocument document =
            writer.Ticket(items, printers.CurrentPrinter(), printer_ticket, lines);
        bool sent = true;
        try {
          SendDocument(printers, document);
        } catch (const std::exception& e) {
          sent = false;
          failures.push_back(label + ": " + e.what());
        }
        for (const LineKey& line : lines) {
          auto [it, added] = delivered.emplace(line, sent);
          if (!added) it->second = it->second && sent;
        }
      };

      for (; !all_printers.Eof(); all_printers.MoveNext()) {
        const long long printer_id = all_printers.Field("id_imp").Int();
        const std::string device = all_printers.Field("nm_end_imp").Text();
        Recordset items;
        db.SqlClear();
        db.SqlAppend("Select p.cd_pro, p.dc_pro_nf, p.sg_umed, ivd.nr_orc_loc, ivd.id_seq,");
        db.SqlAppend("       ivd.qt_pro_atd, ivd.dc_pro_epc, ivd.id_seq_pro_prn, ip.id_imp, lv.nr_pos_com");
        db.SqlAppend("from   item_venda_direta ivd");
        db.SqlAppend("       inner join produto p on ivd.id_mat_pro = p.id_mat_pro");
        db.SqlAppend("       inner join impressora_produto ip on p.id_mat_pro = ip.id_mat_pro");
        db.SqlAppend("       left join local_vnd lv on ivd.nr_orc_loc = lv.nr_orc_loc");
        db.SqlAppend("Where  ivd.nr_orc_loc in (" + sale_list + ")");
        db.SqlAppend("And    ip.id_imp = " + std::to_string(printer_id));
        db.SqlAppend("And    ivd.id_prt_ite = 'N'");
        db.SqlAppend("And    ivd.id_seq_pro_prn is null");
        db.SqlAppend("Order by lv.nr_pos_com asc, ivd.id_seq, ivd.nr_orc_loc");
        items = db.Query(db.SqlText());
        if (items.Eof()) continue;
        SelectPrinter(printers, device);
        print(items, true, device);
      }

      SelectPrinter(printers, starting);

      // Items whose product has no printer that exists.
      Recordset items;
      db.SqlClear();
      db.SqlAppend("Select p.cd_pro, p.dc_pro_nf, p.sg_umed, ivd.nr_orc_loc, ivd.id_seq,");
      db.SqlAppend("       ivd.qt_pro_atd, ivd.dc_pro_epc, ivd.id_seq_pro_prn, lv.nr_pos_com, p.id_mat_pro");
      db.SqlAppend("from   item_venda_direta ivd");
      db.SqlAppend("       inner join produto p on ivd.id_mat_pro = p.id_mat_pro");
      db.SqlAppend("       left join local_vnd lv on ivd.nr_orc_loc = lv.nr_orc_loc");
      db.SqlAppend("Where  ivd.nr_orc_loc in (" + sale_list + ")");
      db.SqlAppend("And    ivd.id_prt_ite = 'N'");
      db.SqlAppend("And    ivd.id_seq_pro_prn is null");
      db.SqlAppend("And    not exists (Select 1 from impressora_produto ip, impressora i");
      db.SqlAppend("                   Where ip.id_mat_pro = p.id_mat_pro And i.id_imp = ip.id_imp)");
      db.SqlAppend("Order by lv.nr_pos_com, ivd.id_seq, ivd.nr_orc_loc");
      items = db.Query(db.SqlText());
      if (!items.Eof()) print(items, false, starting);
    }
  } catch (const std::exception& e) {
    ReportError(context.op, &db, e.what(), kTicketsFailure);
    return false;
  }

  std::vector<LineKey> marked;
  if (!failures.empty()) {
    for (const auto& [line, sent] : delivered) {
      if (sent) marked.push_back(line);
    }
  }
  try {
    if (failures.empty()) {
      MarkPrinted(db, sale_list, nullptr);
    } else if (!marked.empty()) {
      MarkPrinted(db, sale_list, &marked);
    }
  } catch (const std::exception& e) {
    db.RollbackTransaction();
    ReportError(context.op, &db, e.what());
    return false;
  }
  if (!failures.empty()) {
    std::string description;
    for (const std::string& failure : failures) {
      if (!description.empty()) description += "\r\n";
      description += failure;
    }
    ReportError(context.op, &db, description, kTicketsFailure);
    return false;
  }
  return true;
}

}  // namespace orba
