#include "printing/routing.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <vector>

#include <pugixml.hpp>

#include "common/database.h"
#include "common/error_report.h"
#include "common/general_parameters.h"
#include "common/text.h"
#include "common/xml_config.h"
#include "printing/pre_bill.h"
#include "printing/production_tickets.h"

namespace orba {

PrinterSettings ReadPrinterSettings(const std::string& system_folder) {
  const std::string path = system_folder + "ORBA.INI";
  pugi::xml_document document;
  std::string error;
  if (!LoadXmlFile(path, document, error)) throw std::runtime_error("Não foi possível ler " + error);
  PrinterSettings settings;
  const pugi::xml_node element = document.document_element().child("IMPRESSORA");
  if (!element) return settings;

  const std::string type = element.attribute("TP_IMPR").value();
  if (!type.empty()) settings.type = type;

  const std::string companies = element.attribute("EMP_AVANCO").value();
  std::size_t start = 0;
  while (start <= companies.size()) {
    std::size_t comma = companies.find(',', start);
    if (comma == std::string::npos) comma = companies.size();
    if (auto company = ParseInteger(std::string_view(companies).substr(start, comma - start))) {
      settings.feed_companies.push_back(*company);
    }
    start = comma + 1;
  }

  settings.dispatch_lines = UpperCase(TrimSpaces(element.attribute("DT_EXPEDIR").value())) == "S";
  return settings;
}

std::string ReadPrinterType(const std::string& system_folder) {
  return ReadPrinterSettings(system_folder).type;
}

int PrinterTypeNumber(std::string_view text) {
  const std::optional<long long> number = ParseInteger(text);
  if (!number || *number < -32768 || *number > 32767) {
    throw std::runtime_error("TP_IMPR de ORBA.INI não é um número: '" + std::string(text) + "'");
  }
  return static_cast<int>(*number);
}

bool SelectPrinter(PrinterSystem& printers, std::string_view device_name) {
  for (const std::string& installed : printers.InstalledPrinters()) {
    if (installed == device_name) {
      printers.MakeCurrent(installed);
      return true;
    }
  }
  return false;
}

bool PrintDocument(Context& context, std::string_view sale_list, std::string_view ticket_flag,
                   std::string_view title, PrintAmounts* amounts) {
  if (BlankSaleList(sale_list)) return true;
  try {
    RequireSaleList(sale_list);
    const PrinterSettings settings = ReadPrinterSettings(context.parameters.SystemFolder);
    const int type = PrinterTypeNumber(settings.type);
    if (!ticket_flag.empty()) {
      return PrintProductionTickets(context, sale_list, title, type, settings, amounts);
    }
    return PrintPreBill(context, sale_list, title, type, settings, amounts);
  } catch (const std::exception& e) {
    ReportError(context.op, &context.db, e.what(), kRoutingFailure);
    return false;
  }
}

OrderPrinting PrepareOrderPrinting(Context& context, std::string_view sale_list) {
  OrderPrinting prepared;
  if (BlankSaleList(sale_list)) return prepared;
  try {
    PrinterSettings settings = ReadPrinterSettings(context.parameters.SystemFolder);
    if (PrinterTypeNumber(settings.type) != 1) prepared.reads = TicketReads(context, sale_list, TicketLines::Unprinted);
    prepared.settings = std::move(settings);
  } catch (const std::exception&) {
    prepared = {};
  }
  return prepared;
}

bool RouteOrderPrinting(Context& context, std::string_view sale_list, const OrderPrinting* prepared,
                        std::vector<Recordset>* read) {
  // An order without items has no sale to print.
  if (BlankSaleList(sale_list)) return true;
  try {
    RequireSaleList(sale_list);
    const PrinterSettings settings = prepared != nullptr && prepared->settings
                                         ? *prepared->settings
                                         : ReadPrinterSettings(context.parameters.SystemFolder);
    const int type = PrinterTypeNumber(settings.type);
    // Where tickets may be due, the ticket routine reads the printers with
    // everything the tickets need, in one wait for the database.
    if (type != 1) {
      const TicketOutcome tickets =
          PrintTickets(context, sale_list, kPrintTitle, type, settings, nullptr, TicketLines::Unprinted, read);
      if (!tickets.no_printers) {
        if (tickets.failure.empty()) return true;
        ReportError(context.op, &context.db, tickets.failure, kTicketsFailure);
        return false;
      }
    }

    std::vector<Recordset> rows = context.db.Queries({{"Select tp_impr, ic_imp_orc from parametro_geral", {}},
                                                      {"Select id_imp, nm_end_imp from impressora", {}}});
    const std::string pre_bill_switch = rows[0].Eof() ? std::string() : rows[0].Field("ic_imp_orc").Text();
    if (rows[1].RecordCount() > 0) {
      if (type == 1) return true;
      return PrintDocument(context, sale_list, "S", kPrintTitle);
    }
    if (pre_bill_switch == "S") return PrintDocument(context, sale_list, "", kPrintTitle);
    return true;
  } catch (const std::exception& e) {
    ReportError(context.op, &context.db, e.what(), kRoutingFailure);
    return false;
  }
}

}  // namespace orba
