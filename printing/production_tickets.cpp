#include "printing/production_tickets.h"

#include <exception>
#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/database.h"
#include "common/error_report.h"
#include "common/general_parameters.h"
#include "common/text.h"
#include "common/transaction.h"
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

struct Accompaniment {
  long long sequence = 0;
  std::string code;
  std::string description;
  Value quantity;
};

// A main line of a ticket, as read: converted when its ticket is written.
struct TicketItem {
  Value nr_orc_loc;
  Value id_seq;
  Value cd_pro;
  Value dc_pro_nf;
  Value dc_pro_epc;
  Value qt_pro_atd;
  Value nr_pos_com;
};

TicketItem ReadTicketItem(const Recordset& rs) {
  return TicketItem{rs.Field("nr_orc_loc"), rs.Field("id_seq"),     rs.Field("cd_pro"),    rs.Field("dc_pro_nf"),
                    rs.Field("dc_pro_epc"), rs.Field("qt_pro_atd"), rs.Field("nr_pos_com")};
}

class TicketWriter {
 public:
  TicketWriter(Context& context, std::string sale_list, bool several, int printer_type,
               std::string_view title, const PrinterSettings& settings, std::string line_filter)
      : context_(context),
        db_(context.db),
        sale_list_(std::move(sale_list)),
        several_(several),
        compact_(printer_type == 2),
        title_(title),
        settings_(settings),
        line_filter_(std::move(line_filter)) {}

  void ReadHeader();
  // The characteristics and the unprinted accompaniments of every line of the
  // sales, read once per request, so that a ticket costs no statement per item.
  void ReadDetails();
  // One ticket with `items` (main items), for `printer`.
  PrintedDocument Ticket(const std::vector<TicketItem>& items, std::string_view printer, bool printer_ticket,
                         std::vector<LineKey>& lines);

 private:
  std::string Heading() const;
  void ItemLines(const TicketItem& item, PrintedDocument& document);
  void CharacteristicLines(const LineKey& line, bool printer_ticket, PrintedDocument& document);
  void AccompanimentLines(const LineKey& line, const std::string& position, bool printer_ticket,
                          PrintedDocument& document, std::vector<LineKey>& lines);
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
  std::string line_filter_;  // statement line that keeps only the lines due (may be empty)
  TicketHeader header_;
  std::map<LineKey, std::vector<std::string>> characteristics_;  // by the line they belong to
  std::map<LineKey, std::vector<Accompaniment>> accompaniments_;  // by their main line
};

// Two-digit position of the PS column; two blanks without one.
std::string PositionText(const Value& position) {
  if (position.IsNull()) return "  ";
  const long long n = position.Int();
  return RightAligned((n >= 0 && n < 10 ? "0" : "") + std::to_string(n), 2);
}

std::string Description(const Value& special, const Value& description) {
  return special.IsNull() ? description.Text() : special.Text();
}

void TicketWriter::ReadHeader() {
  if (context_.parameters.IsComandaMode()) {
    header_.place = ComandaPlaceText(db_, sale_list_);
  } else {
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

PrintedDocument TicketWriter::Ticket(const std::vector<TicketItem>& items, std::string_view printer,
                                     bool printer_ticket, std::vector<LineKey>& lines) {
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
  document.place_line = out.size();
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

  for (const TicketItem& item : items) {
    const long long sale = item.nr_orc_loc.Int();
    const long long sequence = item.id_seq.Int();
    const LineKey line{sale, sequence};
    lines.push_back(line);
    ItemLines(item, document);
    CharacteristicLines(line, printer_ticket, document);
    const std::string position = several_ ? PositionText(item.nr_pos_com) : std::string();
    AccompanimentLines(line, position, printer_ticket, document, lines);
  }

  out.emplace_back(kSeparator);
  out.emplace_back("");
  if (printer_ticket && settings_.FeedsPaper(context_.parameters.id_emp_orba)) {
    for (int i = 0; i < 8; ++i) out.emplace_back(" ");
  }
  return document;
}

void TicketWriter::ItemLines(const TicketItem& item, PrintedDocument& document) {
  auto& out = document.lines;
  const std::string code = item.cd_pro.Text();
  const std::string description = Description(item.dc_pro_epc, item.dc_pro_nf);
  const std::string quantity = Quantity(item.qt_pro_atd);
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
  const std::string position = PositionText(item.nr_pos_com);
  if (compact_) {
    out.push_back(position + " " + RightAligned(code, 6) + " " + LeftAligned(description, 21) + " " +
                  RightAligned(quantity, 5));
  } else {
    out.push_back(Cut(description, 37));
    out.push_back(position + " " + RightAligned(code, 5) + std::string(23, ' ') +
                  RightAligned(quantity, 6));
  }
}

void TicketWriter::ReadDetails() {
  Recordset options = db_.Query(
      "Select icp.nr_orc_loc, icp.id_Seq, cp.dc_car_pro\r"
      "from   ivd_caracteristica_produto icp, caracteristica_produto cp\r"
      "Where  icp.nr_orc_loc in (" + sale_list_ + ")\r"
      "And    icp.id_car_pro = cp.id_car_pro\r"
      "Order by icp.nr_orc_loc, icp.id_Seq");
  for (; !options.Eof(); options.MoveNext()) {
    characteristics_[{options.Field("nr_orc_loc").Int(), options.Field("id_Seq").Int()}].push_back(
        options.Field("dc_car_pro").Text());
  }
  Recordset sides = db_.Query(
      "Select p.cd_pro, p.dc_pro_nf, ivd.nr_orc_loc, ivd.id_seq, ivd.qt_pro_atd, ivd.dc_pro_epc,\r"
      "       ivd.id_seq_pro_prn\r"
      "from   item_venda_direta ivd, produto p\r"
      "Where  ivd.nr_orc_loc in (" + sale_list_ + ")\r"
      "And    ivd.id_seq_pro_prn is not null\r"
      "And    ivd.id_mat_pro = p.id_mat_pro\r"
      "And    ivd.id_prt_ite = 'N'\r" + line_filter_ +
      "Order by ivd.nr_orc_loc, ivd.id_seq");
  for (; !sides.Eof(); sides.MoveNext()) {
    accompaniments_[{sides.Field("nr_orc_loc").Int(), sides.Field("id_seq_pro_prn").Int()}].push_back(
        Accompaniment{sides.Field("id_seq").Int(), sides.Field("cd_pro").Text(),
                      Description(sides.Field("dc_pro_epc"), sides.Field("dc_pro_nf")),
                      sides.Field("qt_pro_atd")});
  }
}

void TicketWriter::CharacteristicLines(const LineKey& line, bool printer_ticket, PrintedDocument& document) {
  const auto found = characteristics_.find(line);
  if (found == characteristics_.end()) return;
  for (const std::string& characteristic : found->second) {
    const std::string text = "(*) " + characteristic;
    std::string printed;
    if (!several_) {
      printed = compact_ ? std::string(7, ' ') + Cut(text, 24) : Cut(text, 37);
    } else if (compact_) {
      printed = std::string(10, ' ') + Cut(text, printer_ticket ? 21 : 24);
    } else {
      printed = Cut("   " + text, 37);
    }
    document.lines.push_back(printed);
  }
}

void TicketWriter::AccompanimentLines(const LineKey& line, const std::string& position, bool printer_ticket,
                                      PrintedDocument& document, std::vector<LineKey>& lines) {
  const auto found = accompaniments_.find(line);
  if (found == accompaniments_.end()) return;
  auto& out = document.lines;
  for (const Accompaniment& side : found->second) {
    lines.emplace_back(line.first, side.sequence);
    const std::string description = "(+) " + side.description;
    const std::string quantity = Quantity(side.quantity);
    if (!several_) {
      if (compact_) {
        out.push_back(RightAligned(side.code, 6) + " " + LeftAligned(description, 24) + " " +
                      RightAligned(quantity, 5));
      } else {
        out.push_back(Cut(description, 37));
        out.push_back(RightAligned(side.code, 5) + std::string(26, ' ') + RightAligned(quantity, 6));
      }
    } else if (compact_) {
      const std::string lead = printer_ticket ? std::string(3, ' ') : position + " ";
      out.push_back(lead + RightAligned(side.code, 6) + " " + LeftAligned(description, 21) + " " +
                    RightAligned(quantity, 5));
    } else {
      out.push_back(Cut("   " + description, 37));
      out.push_back("   " + RightAligned(side.code, 5) + std::string(23, ' ') + RightAligned(quantity, 6));
    }
  }
}

// Lines as a row-value list for "(nr_orc_loc, id_seq) in (values ...)".
std::string LineValues(const std::vector<LineKey>& lines) {
  std::string values;
  for (const LineKey& line : lines) {
    if (!values.empty()) values += ", ";
    values += "(" + std::to_string(line.first) + ", " + std::to_string(line.second) + ")";
  }
  return values;
}

// The printer that a ticket of lines without a production printer went to.
constexpr long long kStartingPrinter = 0;

// Records that `printer` has printed `lines`: that printer never prints them again.
void RecordPrinted(DatabaseSession& db, long long printer, const std::vector<LineKey>& lines) {
  if (lines.empty()) return;
  std::string values;
  for (const LineKey& line : lines) {
    if (!values.empty()) values += ", ";
    values += "(" + std::to_string(line.first) + ", " + std::to_string(line.second) + ", " +
              std::to_string(printer) + ")";
  }
  // A commit that waits for the disk makes the record durable: the one that
  // marks the finished lines at the end of this request, or the next order's.
  // Until then a power cut (not a crash) may lose it and the ticket is
  // printed once more, as it would be after a cut between the ticket and
  // its record.
  db.ExecuteSqlWithoutDiskWait("Insert into item_impressora_pda (nr_orc_loc, id_seq, id_imp)\rvalues " + values +
                               "\ron conflict do nothing");
}

// Marks printed ("S") every unprinted line of the sales that each of its
// printers has printed: the production printers of its product (an
// accompaniment goes with its main line), or the starting printer for a
// product without one. Their per-printer records are no longer needed.
void MarkFinishedLines(DatabaseSession& db, const std::string& sale_list) {
  std::map<long long, std::set<long long>> printers_of_product;
  Recordset links = db.Query(
      "Select distinct ip.id_mat_pro, ip.id_imp\r"
      "from   item_venda_direta ivd, impressora_produto ip, impressora i\r"
      "Where  ivd.nr_orc_loc in (" + sale_list + ")\r"
      "And    ivd.id_prt_ite = 'N'\r"
      "And    ip.id_mat_pro = ivd.id_mat_pro\r"
      "And    i.id_imp = ip.id_imp");
  for (; !links.Eof(); links.MoveNext()) {
    printers_of_product[links.Field("id_mat_pro").Int()].insert(links.Field("id_imp").Int());
  }
  std::map<LineKey, std::set<long long>> printed;
  Recordset records = db.Query("Select nr_orc_loc, id_seq, id_imp from item_impressora_pda\r"
                               "Where  nr_orc_loc in (" + sale_list + ")");
  for (; !records.Eof(); records.MoveNext()) {
    printed[{records.Field("nr_orc_loc").Int(), records.Field("id_seq").Int()}].insert(
        records.Field("id_imp").Int());
  }
  Recordset lines = db.Query(
      "Select ivd.nr_orc_loc, ivd.id_seq, coalesce(main.id_mat_pro, ivd.id_mat_pro) as id_mat_pro\r"
      "from   item_venda_direta ivd\r"
      "       left join item_venda_direta main\r"
      "              on main.nr_orc_loc = ivd.nr_orc_loc and main.id_seq = ivd.id_seq_pro_prn\r"
      "Where  ivd.nr_orc_loc in (" + sale_list + ")\r"
      "And    ivd.id_prt_ite = 'N'");
  std::vector<LineKey> finished;
  static const std::set<long long> kOnlyTheStartingPrinter{kStartingPrinter};
  for (; !lines.Eof(); lines.MoveNext()) {
    const LineKey line{lines.Field("nr_orc_loc").Int(), lines.Field("id_seq").Int()};
    const auto product = printers_of_product.find(lines.Field("id_mat_pro").Int());
    const std::set<long long>& wanted = product == printers_of_product.end() ? kOnlyTheStartingPrinter : product->second;
    const auto done = printed.find(line);
    if (done == printed.end()) continue;
    if (std::includes(done->second.begin(), done->second.end(), wanted.begin(), wanted.end())) {
      finished.push_back(line);
    }
  }
  if (finished.empty()) return;
  TransactionGuard transaction(db);
  const std::string keys = LineValues(finished);
  db.ExecuteSql("Update item_venda_direta\rSet    id_prt_ite = 'S'\rWhere  nr_orc_loc in (" + sale_list +
                ")\rAnd    (nr_orc_loc, id_seq) in (values " + keys + ")\rAnd    id_prt_ite = 'N'");
  db.ExecuteSql("Delete from item_impressora_pda\rWhere  nr_orc_loc in (" + sale_list +
                ")\rAnd    (nr_orc_loc, id_seq) in (values " + keys + ")");
  db.ExecuteSql("Delete from item_a_imprimir_pda\rWhere  nr_orc_loc in (" + sale_list +
                ")\rAnd    (nr_orc_loc, id_seq) in (values " + keys + ")");
  transaction.Commit();
}

// Marks every unprinted line of the sales printed (after a pre-bill of them).
void MarkAllPrinted(DatabaseSession& db, const std::string& sale_list) {
  TransactionGuard transaction(db);
  db.ExecuteSql("Update item_venda_direta\rSet    id_prt_ite = 'S'\rWhere  nr_orc_loc in (" + sale_list +
                ")\rAnd    id_prt_ite = 'N'");
  db.ExecuteSql("Delete from item_a_imprimir_pda\rWhere  nr_orc_loc in (" + sale_list + ")");
  transaction.Commit();
}

// The printer that was current when printing began is current again on
// every way out, so that the next order's lines without a production printer
// never go to the kitchen.
class CurrentPrinterKeeper {
 public:
  explicit CurrentPrinterKeeper(PrinterSystem& printers) : printers_(printers), starting_(printers.CurrentPrinter()) {}
  ~CurrentPrinterKeeper() {
    try {
      if (printers_.CurrentPrinter() != starting_) SelectPrinter(printers_, starting_);
    } catch (...) {
      // The printer list could not be read: nothing else to do here.
    }
  }
  const std::string& starting() const { return starting_; }

 private:
  PrinterSystem& printers_;
  std::string starting_;
};

// The lines an order of this service left to print: a statement line for
// item_venda_direta ivd.
constexpr const char* kLeftByOrders =
    "And    exists (Select 1 from item_a_imprimir_pda w Where w.nr_orc_loc = ivd.nr_orc_loc "
    "And w.id_seq = ivd.id_seq)\r";

}  // namespace

std::string PrintTickets(Context& context, std::string_view sale_list_text, std::string_view title,
                         int printer_type, const PrinterSettings& settings, PrintAmounts* amounts,
                         TicketLines which) {
  DatabaseSession& db = context.db;
  PrinterSystem& printers = context.printers;
  std::vector<std::string> failures;
  const std::string line_filter = which == TicketLines::LeftByOrders ? kLeftByOrders : "";
  try {
    const std::string sale_list = RequireSaleList(sale_list_text);
    std::vector<std::pair<Value, Value>> production_printers;  // id_imp, nm_end_imp
    for (Recordset rs = db.Query("Select id_imp, nm_end_imp from impressora"); !rs.Eof(); rs.MoveNext()) {
      production_printers.emplace_back(rs.Field("id_imp"), rs.Field("nm_end_imp"));
    }
    if (production_printers.empty()) return {};
    CurrentPrinterKeeper keeper(printers);
    const bool several = sale_list.find(',') != std::string::npos;

    TicketWriter writer(context, sale_list, several, printer_type, title, settings, line_filter);
    writer.ReadHeader();

    // A production printer without a device name turns the request into
    // one pre-bill on the current printer.
    for (const auto& [unused, device] : production_printers) {
      if (device.IsNull() || device.Text().find_first_not_of(' ') == std::string::npos) {
        if (!PrintPreBill(context, sale_list, title, printer_type, settings, amounts)) {
          return std::string(kPreBillFailure);
        }
        MarkAllPrinted(db, sale_list);
        return {};
      }
    }
    writer.ReadDetails();

    // Each ticket goes out on its own: a printer that fails does not stop
    // the others, and what a printer printed is recorded at once.
    const auto print = [&](const std::vector<TicketItem>& items, long long printer_id, bool printer_ticket,
                           const std::string& label) {
      std::vector<LineKey> lines;
      const PrintedDocument document = writer.Ticket(items, printers.CurrentPrinter(), printer_ticket, lines);
      try {
        SendDocument(printers, document);
      } catch (const std::exception& e) {
        failures.push_back(label + ": " + e.what());
        return;
      }
      RecordPrinted(db, printer_id, lines);
    };

    // The items of every production printer, read at once: what one printer
    // prints and records never changes what another one still owes.
    db.SqlClear();
    db.SqlAppend("Select i.id_imp, p.cd_pro, p.dc_pro_nf, p.sg_umed, ivd.nr_orc_loc, ivd.id_seq,");
    db.SqlAppend("       ivd.qt_pro_atd, ivd.dc_pro_epc, ivd.id_seq_pro_prn, lv.nr_pos_com");
    db.SqlAppend("from   item_venda_direta ivd");
    db.SqlAppend("       inner join produto p on ivd.id_mat_pro = p.id_mat_pro");
    db.SqlAppend("       inner join impressora_produto ip on p.id_mat_pro = ip.id_mat_pro");
    db.SqlAppend("       inner join impressora i on i.id_imp = ip.id_imp");
    db.SqlAppend("       left join local_vnd lv on ivd.nr_orc_loc = lv.nr_orc_loc");
    db.SqlAppend("Where  ivd.nr_orc_loc in (" + sale_list + ")");
    db.SqlAppend("And    ivd.id_prt_ite = 'N'");
    db.SqlAppend("And    ivd.id_seq_pro_prn is null");
    db.SqlAppend(line_filter);
    db.SqlAppend("And    not exists (Select 1 from item_impressora_pda r");
    db.SqlAppend("                   Where r.nr_orc_loc = ivd.nr_orc_loc And r.id_seq = ivd.id_seq");
    db.SqlAppend("                   And r.id_imp = ip.id_imp)");
    db.SqlAppend("Order by i.id_imp, lv.nr_pos_com asc, ivd.id_seq, ivd.nr_orc_loc");
    std::map<long long, std::vector<TicketItem>> items_of_printer;
    for (Recordset items = db.Query(db.SqlText()); !items.Eof(); items.MoveNext()) {
      items_of_printer[items.Field("id_imp").Int()].push_back(ReadTicketItem(items));
    }
    for (const auto& [id, device_name] : production_printers) {
      const long long printer_id = id.Int();
      const auto items = items_of_printer.find(printer_id);
      if (items == items_of_printer.end()) continue;
      const std::string device = device_name.Text();
      SelectPrinter(printers, device);
      print(items->second, printer_id, true, device);
    }
    SelectPrinter(printers, keeper.starting());

    // Items whose product has no printer that exists.
    db.SqlClear();
    db.SqlAppend("Select p.cd_pro, p.dc_pro_nf, p.sg_umed, ivd.nr_orc_loc, ivd.id_seq,");
    db.SqlAppend("       ivd.qt_pro_atd, ivd.dc_pro_epc, ivd.id_seq_pro_prn, lv.nr_pos_com, p.id_mat_pro");
    db.SqlAppend("from   item_venda_direta ivd");
    db.SqlAppend("       inner join produto p on ivd.id_mat_pro = p.id_mat_pro");
    db.SqlAppend("       left join local_vnd lv on ivd.nr_orc_loc = lv.nr_orc_loc");
    db.SqlAppend("Where  ivd.nr_orc_loc in (" + sale_list + ")");
    db.SqlAppend("And    ivd.id_prt_ite = 'N'");
    db.SqlAppend("And    ivd.id_seq_pro_prn is null");
    db.SqlAppend(line_filter);
    db.SqlAppend("And    not exists (Select 1 from impressora_produto ip, impressora i");
    db.SqlAppend("                   Where ip.id_mat_pro = p.id_mat_pro And i.id_imp = ip.id_imp)");
    db.SqlAppend("And    not exists (Select 1 from item_impressora_pda r");
    db.SqlAppend("                   Where r.nr_orc_loc = ivd.nr_orc_loc And r.id_seq = ivd.id_seq");
    db.SqlAppend("                   And r.id_imp = " + std::to_string(kStartingPrinter) + ")");
    db.SqlAppend("Order by lv.nr_pos_com, ivd.id_seq, ivd.nr_orc_loc");
    std::vector<TicketItem> items;
    for (Recordset rs = db.Query(db.SqlText()); !rs.Eof(); rs.MoveNext()) items.push_back(ReadTicketItem(rs));
    if (!items.empty()) print(items, kStartingPrinter, false, keeper.starting());

    MarkFinishedLines(db, sale_list);
  } catch (const std::exception& e) {
    failures.push_back(e.what());
  }
  std::string description;
  for (const std::string& failure : failures) {
    if (!description.empty()) description += "\r\n";
    description += failure;
  }
  return description;
}

bool PrintProductionTickets(Context& context, std::string_view sale_list, std::string_view title,
                            int printer_type, const PrinterSettings& settings, PrintAmounts* amounts) {
  const std::string failure =
      PrintTickets(context, sale_list, title, printer_type, settings, amounts, TicketLines::Unprinted);
  if (failure.empty()) return true;
  ReportError(context.op, &context.db, failure, kTicketsFailure);
  return false;
}

}  // namespace orba
