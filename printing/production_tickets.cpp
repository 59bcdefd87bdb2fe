#include "printing/production_tickets.h"

#include <algorithm>
#include <exception>
#include <iterator>
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

// An unprinted line of the sales, as read once per request.
struct UnprintedLine {
  LineKey key;
  TicketItem item;
  Value main_sequence;         // id_seq_pro_prn: set on an accompaniment
  bool has_product = false;    // its product is still there to be shown
  long long product = 0;       // ivd.id_mat_pro
  long long decides = 0;       // the product whose printers it owes
  bool to_print = false;       // goes on a ticket of this request

  // Goes on a ticket of this request as an item of its own, or under its
  // main line.
  bool PrintedAsItem() const { return to_print && has_product && main_sequence.IsNull(); }
  bool PrintedAsAccompaniment() const { return to_print && has_product && !main_sequence.IsNull(); }
};

std::vector<UnprintedLine> ReadUnprintedLines(Recordset& rs) {
  std::vector<UnprintedLine> lines;
  for (; !rs.Eof(); rs.MoveNext()) {
    UnprintedLine line;
    line.item = TicketItem{rs.Field("nr_orc_loc"), rs.Field("id_seq"),     rs.Field("cd_pro"),    rs.Field("dc_pro_nf"),
                           rs.Field("dc_pro_epc"), rs.Field("qt_pro_atd"), rs.Field("nr_pos_com")};
    line.key = {line.item.nr_orc_loc.Int(), line.item.id_seq.Int()};
    line.main_sequence = rs.Field("id_seq_pro_prn");
    line.has_product = !rs.Field("id_mat_pro").IsNull();
    if (line.has_product) line.product = rs.Field("id_mat_pro").Int();
    line.decides = rs.Field("id_mat_pro_dec").Int();
    line.to_print = rs.Field("to_print").Int() != 0;
    lines.push_back(std::move(line));
  }
  return lines;
}

// Whether `line` is the first row of its line: a sale linked to two places
// reads each of its lines twice, one after the other.
bool FirstOfItsLine(const std::vector<UnprintedLine>& lines, std::size_t index) {
  return index == 0 || lines[index - 1].key != lines[index].key;
}

class TicketWriter {
 public:
  TicketWriter(Context& context, std::string sale_list, bool several, int printer_type,
               std::string_view title, const PrinterSettings& settings)
      : context_(context),
        sale_list_(std::move(sale_list)),
        several_(several),
        compact_(printer_type == 2),
        title_(title),
        settings_(settings) {}

  void ReadHeader(const Recordset& place, const Recordset& header, Recordset& agreements);
  // The characteristics and the unprinted accompaniments of every line of the
  // sales, read once per request, so that a ticket costs no statement per item.
  void ReadDetails(Recordset& options, const std::vector<UnprintedLine>& lines);
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
  std::string sale_list_;
  bool several_;
  bool compact_;
  std::string title_;
  const PrinterSettings& settings_;
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

void TicketWriter::ReadHeader(const Recordset& place, const Recordset& header, Recordset& agreements) {
  if (context_.parameters.IsComandaMode()) {
    header_.place = ComandaPlaceText(place);
  } else if (!place.Eof()) {
    header_.place = "LOCAL: " + place.Field("nm_loc").Text();
    if (!several_) header_.place += "/" + place.Field("nr_pos_com").Text();
  }
  if (header.Eof()) return;
  header_.operation_type = header.Field("ic_tip_ope").Text();
  header_.sale_date = header.Field("dt_vnd_dir").Text();
  header_.start_time = header.Field("hr_vnd_ini").Text();
  header_.customer = header.Field("nm_pes_cli").Text();
  header_.waiter = header.Field("nm_pes_usu").Text();
  const Value& agreement = header.Field("id_pes_cnv");
  if (agreement.IsNull()) return;
  if (const auto name = AgreementName(agreements, agreement.Int())) {
    header_.has_agreement = true;
    header_.agreement = *name;
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

void TicketWriter::ReadDetails(Recordset& options, const std::vector<UnprintedLine>& lines) {
  for (; !options.Eof(); options.MoveNext()) {
    characteristics_[{options.Field("nr_orc_loc").Int(), options.Field("id_Seq").Int()}].push_back(
        options.Field("dc_car_pro").Text());
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const UnprintedLine& side = lines[i];
    if (!side.PrintedAsAccompaniment() || !FirstOfItsLine(lines, i)) continue;
    accompaniments_[{side.key.first, side.main_sequence.Int()}].push_back(
        Accompaniment{side.key.second, side.item.cd_pro.Text(), Description(side.item.dc_pro_epc, side.item.dc_pro_nf),
                      side.item.qt_pro_atd});
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

// The printer that a ticket of lines without a production printer went to.
constexpr long long kStartingPrinter = 0;

// A row source of the lines bound as two lists of one length, the sales in
// $1 and their sequences in $2: one statement whatever the number of lines.
std::string LinePairs(const DatabaseSession& db) {
  if (db.Engine() == DatabaseEngine::Postgresql) {
    return "Select l.nr_orc_loc, l.id_seq\r"
           "from   unnest(cast($1 as bigint[]), cast($2 as bigint[])) as l(nr_orc_loc, id_seq)";
  }
  // The n-th sequence is taken by its place: a join of the two lists on
  // their keys would read the second list once per line.
  return "Select s.value as nr_orc_loc, json_extract($2, '$[' || s.key || ']') as id_seq\r"
         "from   json_each($1) s";
}

// The two lists of LinePairs.
std::vector<Value> LineLists(const DatabaseSession& db, const std::vector<LineKey>& lines) {
  std::vector<long long> sales, sequences;
  for (const auto& [sale, sequence] : lines) {
    sales.push_back(sale);
    sequences.push_back(sequence);
  }
  return {db.ListOf(sales), db.ListOf(sequences)};
}

// Records that `printer` has printed `lines`: that printer never prints them
// again. One statement whatever the number of lines.
void RecordPrinted(DatabaseSession& db, long long printer, const std::vector<LineKey>& lines) {
  if (lines.empty()) return;
  std::vector<Value> values = LineLists(db, lines);
  values.emplace_back(printer);
  db.ExecuteSql("Insert into item_impressora_pda (nr_orc_loc, id_seq, id_imp)\r"
                "Select p.nr_orc_loc, p.id_seq, cast($3 as integer) from (" + LinePairs(db) + ") p\r"
                "Where  true\r"  // an upsert's select needs a where clause (SQLite)
                "on conflict do nothing",
                values);
}

// What each unprinted line of the sales owes and which printers have
// printed it, read with the tickets and kept up to date as their records are
// stored: a line is finished once each of its printers has printed it, the
// production printers of its product (an accompaniment goes with its main
// line), or the starting printer for a product without one.
class PrintedLines {
 public:
  PrintedLines(Recordset& links, Recordset& records, const std::vector<UnprintedLine>& lines) {
    for (; !links.Eof(); links.MoveNext()) {
      printers_of_product_[links.Field("id_mat_pro").Int()].insert(links.Field("id_imp").Int());
    }
    for (; !records.Eof(); records.MoveNext()) {
      const LineKey line{records.Field("nr_orc_loc").Int(), records.Field("id_seq").Int()};
      printed_[line].insert(records.Field("id_imp").Int());
      stored_.insert(line);
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (FirstOfItsLine(lines, i)) product_of_line_.emplace_back(lines[i].key, lines[i].decides);
    }
  }

  // The production printers of `product`; null for a product without one.
  const std::set<long long>* PrintersOf(long long product) const {
    const auto found = printers_of_product_.find(product);
    return found == printers_of_product_.end() ? nullptr : &found->second;
  }

  bool Printed(const LineKey& line, long long printer) const {
    const auto done = printed_.find(line);
    return done != printed_.end() && done->second.count(printer) != 0;
  }

  void Recorded(long long printer, const std::vector<LineKey>& lines) {
    for (const LineKey& line : lines) printed_[line].insert(printer);
  }

  // Whether a record of an earlier request is stored for one of `lines`.
  bool AnyStored(const std::vector<LineKey>& lines) const {
    return std::any_of(lines.begin(), lines.end(), [this](const LineKey& line) { return stored_.count(line) != 0; });
  }

  std::vector<LineKey> Finished() const {
    static const std::set<long long> kOnlyTheStartingPrinter{kStartingPrinter};
    std::vector<LineKey> finished;
    for (const auto& [line, product_id] : product_of_line_) {
      const std::set<long long>* printers = PrintersOf(product_id);
      const std::set<long long>& wanted = printers != nullptr ? *printers : kOnlyTheStartingPrinter;
      const auto done = printed_.find(line);
      if (done == printed_.end()) continue;
      if (std::includes(done->second.begin(), done->second.end(), wanted.begin(), wanted.end())) {
        finished.push_back(line);
      }
    }
    return finished;
  }

 private:
  std::map<long long, std::set<long long>> printers_of_product_;
  std::map<LineKey, std::set<long long>> printed_;
  std::set<LineKey> stored_;  // lines with records read from the database
  std::vector<std::pair<LineKey, long long>> product_of_line_;  // unprinted line, product that decides
};

// The main lines still owed, per production printer and without one, each
// list by seat and then line, as its ticket shows them.
struct OwedItems {
  std::map<long long, std::vector<TicketItem>> of_printer;
  std::vector<TicketItem> without_printer;  // for the starting printer
};

// `seatless_last`: a line without a seat comes after the others, as the
// server sorts a missing value; SQLite sorts it first.
OwedItems ItemsOwed(const std::vector<UnprintedLine>& lines, const PrintedLines& printed, bool seatless_last) {
  OwedItems owed;
  for (const UnprintedLine& line : lines) {
    if (!line.PrintedAsItem()) continue;
    const std::set<long long>* printers = printed.PrintersOf(line.product);
    if (printers == nullptr) {
      if (!printed.Printed(line.key, kStartingPrinter)) owed.without_printer.push_back(line.item);
      continue;
    }
    for (const long long printer : *printers) {
      if (!printed.Printed(line.key, printer)) owed.of_printer[printer].push_back(line.item);
    }
  }
  const auto by_seat = [seatless_last](const TicketItem& a, const TicketItem& b) {
    const bool a_seatless = a.nr_pos_com.IsNull(), b_seatless = b.nr_pos_com.IsNull();
    if (a_seatless != b_seatless) return a_seatless != seatless_last;
    if (!a_seatless && a.nr_pos_com.Int() != b.nr_pos_com.Int()) return a.nr_pos_com.Int() < b.nr_pos_com.Int();
    return std::pair(a.id_seq.Int(), a.nr_orc_loc.Int()) < std::pair(b.id_seq.Int(), b.nr_orc_loc.Int());
  };
  for (auto& [unused, items] : owed.of_printer) std::stable_sort(items.begin(), items.end(), by_seat);
  std::stable_sort(owed.without_printer.begin(), owed.without_printer.end(), by_seat);
  return owed;
}

// The lines one ticket carried to its printer.
struct TicketOut {
  long long printer;
  std::vector<LineKey> lines;
};

// Stores the records of the tickets that went out and marks the finished
// lines printed ("S"); their per-printer records are then no longer needed,
// nor are they left to print: only unfinished lines get records, and records
// stored before for finished lines (`finished_had_records`) are deleted.
// One transaction, once every ticket is out: a crash before its commit
// prints the tickets of this request once more, never loses one. When it
// fails, each printer's record is stored on its own, so that a record that
// cannot be stored never makes another printer print its ticket again.
// Throws DatabaseError with the transaction's failure.
void StorePrinted(DatabaseSession& db, const std::vector<TicketOut>& tickets, const std::vector<LineKey>& finished,
                  bool finished_had_records) {
  if (tickets.empty() && finished.empty()) return;
  const std::set<LineKey> done(finished.begin(), finished.end());
  const std::vector<Value> lists = LineLists(db, finished);
  const std::string of_lines = db.InList("nr_orc_loc", "$1", Value::Kind::Integer) +
                               "\rAnd    (nr_orc_loc, id_seq) in (" + LinePairs(db) + ")";
  try {
    // Lost only to a power cut before the next order's commit: the lines
    // are then printed once more, as after a cut between a ticket and this.
    TransactionGuard transaction(db, CommitWait::ForNextCommit);
    for (const TicketOut& ticket : tickets) {
      std::vector<LineKey> unfinished;
      std::copy_if(ticket.lines.begin(), ticket.lines.end(), std::back_inserter(unfinished),
                   [&done](const LineKey& line) { return done.count(line) == 0; });
      RecordPrinted(db, ticket.printer, unfinished);
    }
    if (!finished.empty()) {
      db.ExecuteSql("Update item_venda_direta\rSet    id_prt_ite = 'S'\rWhere  " + of_lines + "\rAnd    id_prt_ite = 'N'",
                    lists);
      if (finished_had_records) db.ExecuteSql("Delete from item_impressora_pda\rWhere  " + of_lines, lists);
      db.ExecuteSql("Delete from item_a_imprimir_pda\rWhere  " + of_lines, lists);
    }
    transaction.Commit();
  } catch (const DatabaseError&) {
    for (const TicketOut& ticket : tickets) {
      try {
        RecordPrinted(db, ticket.printer, ticket.lines);
      } catch (const DatabaseError&) {
        // Told with the transaction's failure; this printer prints these lines again.
      }
    }
    throw;
  }
}

// Marks every unprinted line of the sales printed (after a pre-bill of them).
void MarkAllPrinted(DatabaseSession& db, const Value& sales) {
  const std::string of_sales = db.InList("nr_orc_loc", "$1", Value::Kind::Integer);
  TransactionGuard transaction(db, CommitWait::ForNextCommit);
  db.ExecuteSql("Update item_venda_direta\rSet    id_prt_ite = 'S'\rWhere  " + of_sales + "\rAnd    id_prt_ite = 'N'",
                {sales});
  db.ExecuteSql("Delete from item_a_imprimir_pda\rWhere  " + of_sales, {sales});
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

// The reads of one request, sent together: none depends on another's rows.
enum TicketRead : std::size_t {
  kPrinters, kPlace, kHeader, kAgreements, kOptions, kLines, kProductPrinters, kRecords, kTicketReads
};

std::vector<DatabaseSession::Statement> TicketReads(Context& context, const Value& sales, TicketLines which) {
  const DatabaseSession& db = context.db;
  const auto of_sales = [&](std::string_view column) { return db.InList(column, "$1", Value::Kind::Integer); };
  // Every unprinted line decides whether a line is finished; only those an
  // order of this service left to print go on a ticket when asked so.
  const std::string to_print = which == TicketLines::LeftByOrders
                                   ? "case when exists (Select 1 from item_a_imprimir_pda w\r"
                                     "                  Where w.nr_orc_loc = ivd.nr_orc_loc And w.id_seq = ivd.id_seq)\r"
                                     "       then 1 else 0 end"
                                   : "1";
  return {
      {"Select id_imp, nm_end_imp from impressora", {}},
      context.parameters.IsComandaMode()
          ? ComandaPlaceQuery(db, sales)
          : DatabaseSession::Statement{"Select l.nm_loc, lv.nr_pos_com\r"
                                       "from   local_vnd lv, local l\r"
                                       "Where  " + of_sales("lv.nr_orc_loc") + "\r"
                                       "And    lv.id_loc = l.id_loc",
                                       {sales}},
      {"Select vd.ic_tip_ope, vd.dt_vnd_dir, vd.hr_vnd_ini, vd.nm_pes_cli, vd.id_pes_cnv,\r"
       "       u.nm_pes_cpl as nm_pes_usu\r"
       "from   venda_direta vd, usuario u\r"
       "Where  " + of_sales("vd.nr_orc_loc") + "\r"
       "And    vd.id_pes_atd = u.id_pes_usu\r"
       "Order by vd.dt_vnd_dir, vd.hr_vnd_ini",
       {sales}},
      AgreementsQuery(db, sales),
      LineOptionsQuery(db, sales),
      // The unprinted lines with what their tickets show, their seat and the
      // product that decides their printers: an accompaniment's main line's.
      {"Select ivd.nr_orc_loc, ivd.id_seq, ivd.id_seq_pro_prn, ivd.qt_pro_atd, ivd.dc_pro_epc,\r"
       "       p.id_mat_pro, p.cd_pro, p.dc_pro_nf, lv.nr_pos_com,\r"
       "       coalesce(main.id_mat_pro, ivd.id_mat_pro) as id_mat_pro_dec,\r"
       "       " + to_print + " as to_print\r"
       "from   item_venda_direta ivd\r"
       "       left join produto p on ivd.id_mat_pro = p.id_mat_pro\r"
       "       left join local_vnd lv on ivd.nr_orc_loc = lv.nr_orc_loc\r"
       "       left join item_venda_direta main\r"
       "              on main.nr_orc_loc = ivd.nr_orc_loc and main.id_seq = ivd.id_seq_pro_prn\r"
       "Where  " + of_sales("ivd.nr_orc_loc") + "\r"
       "And    ivd.id_prt_ite = 'N'\r"
       "Order by ivd.nr_orc_loc, ivd.id_seq",
       {sales}},
      {"Select distinct ip.id_mat_pro, ip.id_imp\r"
       "from   item_venda_direta ivd, impressora_produto ip, impressora i\r"
       "Where  " + of_sales("ivd.nr_orc_loc") + "\r"
       "And    ivd.id_prt_ite = 'N'\r"
       "And    ip.id_mat_pro = ivd.id_mat_pro\r"
       "And    i.id_imp = ip.id_imp",
       {sales}},
      {"Select nr_orc_loc, id_seq, id_imp from item_impressora_pda\r"
       "Where  " + of_sales("nr_orc_loc"),
       {sales}},
  };
}

}  // namespace

std::vector<DatabaseSession::Statement> TicketReads(Context& context, std::string_view sale_list, TicketLines which) {
  return TicketReads(context, context.db.ListOf(RequireSales(RequireSaleList(sale_list))), which);
}

TicketOutcome PrintTickets(Context& context, std::string_view sale_list_text, std::string_view title,
                           int printer_type, const PrinterSettings& settings, PrintAmounts* amounts,
                           TicketLines which, std::vector<Recordset>* read) {
  DatabaseSession& db = context.db;
  PrinterSystem& printers = context.printers;
  TicketOutcome outcome;
  std::vector<std::string> failures;
  try {
    const std::string sale_list = RequireSaleList(sale_list_text);
    const Value sales = db.ListOf(RequireSales(sale_list));
    std::vector<Recordset> rows =
        read != nullptr && read->size() == kTicketReads ? std::move(*read) : db.Queries(TicketReads(context, sales, which));
    std::vector<std::pair<Value, Value>> production_printers;  // id_imp, nm_end_imp
    for (Recordset& rs = rows[kPrinters]; !rs.Eof(); rs.MoveNext()) {
      production_printers.emplace_back(rs.Field("id_imp"), rs.Field("nm_end_imp"));
    }
    if (production_printers.empty()) {
      outcome.no_printers = true;
      return outcome;
    }
    CurrentPrinterKeeper keeper(printers);
    const bool several = sale_list.find(',') != std::string::npos;

    TicketWriter writer(context, sale_list, several, printer_type, title, settings);
    writer.ReadHeader(rows[kPlace], rows[kHeader], rows[kAgreements]);

    // A production printer without a device name turns the request into
    // one pre-bill on the current printer.
    for (const auto& [unused, device] : production_printers) {
      if (device.IsNull() || device.Text().find_first_not_of(' ') == std::string::npos) {
        if (!PrintPreBill(context, sale_list, title, printer_type, settings, amounts)) {
          outcome.failure = kPreBillFailure;
          return outcome;
        }
        MarkAllPrinted(db, sales);
        return outcome;
      }
    }
    const std::vector<UnprintedLine> lines = ReadUnprintedLines(rows[kLines]);
    writer.ReadDetails(rows[kOptions], lines);
    PrintedLines printed(rows[kProductPrinters], rows[kRecords], lines);
    const OwedItems owed = ItemsOwed(lines, printed, db.Engine() == DatabaseEngine::Postgresql);

    // Each ticket goes out on its own: a printer that fails does not stop
    // the others. What went out is stored once they are all out.
    std::vector<TicketOut> out;
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
      printed.Recorded(printer_id, lines);
      out.push_back({printer_id, std::move(lines)});
    };

    for (const auto& [id, device_name] : production_printers) {
      const long long printer_id = id.Int();
      const auto items = owed.of_printer.find(printer_id);
      if (items == owed.of_printer.end()) continue;
      const std::string device = device_name.Text();
      SelectPrinter(printers, device);
      print(items->second, printer_id, true, device);
    }
    SelectPrinter(printers, keeper.starting());

    if (!owed.without_printer.empty()) print(owed.without_printer, kStartingPrinter, false, keeper.starting());

    const std::vector<LineKey> finished = printed.Finished();
    StorePrinted(db, out, finished, printed.AnyStored(finished));
  } catch (const std::exception& e) {
    failures.push_back(e.what());
  }
  for (const std::string& failure : failures) {
    if (!outcome.failure.empty()) outcome.failure += "\r\n";
    outcome.failure += failure;
  }
  return outcome;
}

bool PrintProductionTickets(Context& context, std::string_view sale_list, std::string_view title,
                            int printer_type, const PrinterSettings& settings, PrintAmounts* amounts) {
  const TicketOutcome outcome =
      PrintTickets(context, sale_list, title, printer_type, settings, amounts, TicketLines::Unprinted);
  if (outcome.failure.empty()) return true;
  ReportError(context.op, &context.db, outcome.failure, kTicketsFailure);
  return false;
}

}  // namespace orba
