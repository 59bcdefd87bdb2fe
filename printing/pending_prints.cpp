#include "printing/pending_prints.h"

#include <exception>

#include "common/database.h"
#include "common/general_parameters.h"
#include "common/operator.h"
#include "common/sql_text.h"
#include "printing/production_tickets.h"
#include "printing/routing.h"

namespace orba {

namespace {

// The business day as the pending lines hold it.
Value DayValue(const Context& context) { return SqlEscapeValue(context.parameters.BusinessDay); }

// The sales with pending items of the business day.
std::vector<long long> PendingSales(Context& context) {
  std::vector<long long> sales;
  for (Recordset rs = context.db.Query("Select distinct nr_orc_loc from item_a_imprimir_pda\r"
                                       "Where  dt_dia = $1\r"
                                       "Order by nr_orc_loc",
                                       {DayValue(context)});
       !rs.Eof(); rs.MoveNext()) {
    sales.push_back(rs.Field("nr_orc_loc").Int());
  }
  return sales;
}

// Whether production tickets are printed at all: printers in impressora and
// TP_IMPR not 1, as after an order. Otherwise nothing is due.
bool TicketsDue(Context& context, int printer_type) {
  if (printer_type == 1) return false;
  return !context.db.Query("Select id_imp from impressora LIMIT 1").Eof();
}

}  // namespace

void RecordPrintIntent(DatabaseSession& db, const std::string& business_day, const std::vector<OrderLine>& lines) {
  // The rows go in together, with the order's other writes; a row left by
  // a line the back office removed does not stop its successor's.
  const Value day = SqlEscapeValue(business_day);
  RowInserts intents("item_a_imprimir_pda", "on conflict do nothing");
  for (const auto& [sale, sequence] : lines) intents.Add({{"nr_orc_loc", sale}, {"id_seq", sequence}, {"dt_dia", day}});
  intents.Flush(db);
}

std::string PendingPrintOutcome::Describe() const {
  std::string line;
  if (!printed.empty()) {
    line = "Itens pendentes impressos (venda";
    line += printed.size() > 1 ? "s " : " ";
    for (std::size_t i = 0; i < printed.size(); ++i) line += (i > 0 ? ", " : "") + std::to_string(printed[i]);
    line += ").";
  }
  if (!failure.empty()) {
    if (!line.empty()) line += " ";
    line += "Itens pendentes não impressos: " + failure;
  }
  return line;
}

PendingPrintOutcome PrintPendingItems(Context& context) {
  PendingPrintOutcome outcome;
  DatabaseSession& db = context.db;
  // Never inside a request's own work (a message box lets timers through).
  if (!db.IsOpen() || db.InTransaction()) return outcome;
  long long sale = 0;
  try {
    const std::vector<long long> sales = PendingSales(context);
    if (sales.empty()) return outcome;
    const PrinterSettings settings = ReadPrinterSettings(context.parameters.SystemFolder);
    const int type = PrinterTypeNumber(settings.type);
    const bool due = TicketsDue(context, type);
    for (const long long pending : sales) {
      sale = pending;
      const std::string list = std::to_string(sale);
      // Each sale on its own tickets: the sales of different places never
      // share one.
      if (due) {
        const std::string failure =
            PrintTickets(context, list, kPrintTitle, type, settings, nullptr, TicketLines::LeftByOrders).failure;
        if (!failure.empty()) {
          if (!outcome.failure.empty()) outcome.failure += " | ";
          outcome.failure += "venda " + list + ": " + failure;
          continue;
        }
      }
      // Whatever is left of the sale is nothing this routine can print (the
      // back office printed or removed the line).
      db.ExecuteSql("Delete from item_a_imprimir_pda\rWhere  nr_orc_loc = $1", {sale});
      if (due) outcome.printed.push_back(sale);
    }
  } catch (const std::exception& e) {
    if (!outcome.failure.empty()) outcome.failure += " | ";
    outcome.failure += (sale != 0 ? "venda " + std::to_string(sale) + ": " : std::string()) + e.what();
  }
  return outcome;
}

void PendingPrintRetry::StartUp() {
  DatabaseSession& db = context_.db;
  if (db.IsOpen()) {
    try {
      db.ExecuteSql("Delete from item_a_imprimir_pda\rWhere  dt_dia <> $1", {DayValue(context_)});
    } catch (const std::exception& e) {
      context_.op.LogEvent(std::string("Itens pendentes de outros dias não esquecidos: ") + e.what());
    }
  }
  Retry();
}

void PendingPrintRetry::Retry() {
  const PendingPrintOutcome outcome = PrintPendingItems(context_);
  if (!outcome.Attempted()) return;
  std::string line = outcome.Describe();
  // A failure that stays the same is told once.
  if (outcome.printed.empty() && line == last_) return;
  last_ = outcome.failure.empty() ? std::string() : line;
  context_.op.LogEvent(line);
}

}  // namespace orba
