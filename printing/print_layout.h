#pragma once
// Pieces shared by the production tickets and the pre-bill: column
// alignment on 37-character lines, number formats of the regional settings,
// the font of each printer, the sale list and the settings of IMPRESSORA.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/database.h"
#include "printing/printer_system.h"

namespace orba {

inline constexpr std::size_t kLineWidth = 37;
inline constexpr std::string_view kSeparator = "=====================================";
// The receipt printer whose own font is chosen by name, without blank lines.
inline constexpr std::string_view kMecafPrinter = "Mecaf IT402T Pic";
inline constexpr std::string_view kMecafFont = "IT402TP Normal";
inline constexpr std::string_view kDefaultFont = "Lucida Console";
inline constexpr double kDefaultFontSize = 12;
// Title that every caller gives the documents.
inline constexpr std::string_view kPrintTitle = "ORCAMENTO";

// Texts shown with a failure of each printing step.
inline constexpr std::string_view kRoutingFailure = "Impressão do pedido";
inline constexpr std::string_view kTicketsFailure = "Impressão dos tickets de produção";
inline constexpr std::string_view kPreBillFailure = "Impressão do orçamento";

// Settings of the IMPRESSORA element of ORBA.INI, read anew for every request.
struct PrinterSettings {
  std::string type = "0";                 // TP_IMPR
  std::vector<long long> feed_companies;  // EMP_AVANCO: id_emp_orba values whose printer
                                          // tickets end with an eight-line feed
  bool dispatch_lines = false;            // DT_EXPEDIR = "S": planned dispatch on the pre-bill

  bool FeedsPaper(long long company) const;
};

// Discount and freight totals that the pre-bill hands back to its caller.
struct PrintAmounts {
  double discount = 0;
  double freight = 0;
};

// One document ready to go to the current printer.
struct PrintedDocument {
  std::string font_name;
  std::optional<double> font_size;
  std::vector<std::string> lines;
  std::size_t place_line = static_cast<std::size_t>(-1);  // index of the line naming the place, if any
};

// The sale numbers of a sale list ("12,13"): every comma-separated piece must
// be a whole number (blanks around it allowed). Nothing when the text is empty
// or any piece is not a number, so that nothing else reaches a statement.
std::optional<std::vector<long long>> ParseSaleList(std::string_view sale_list);
// The sale numbers; throws std::runtime_error naming the list when it is
// not one.
std::vector<long long> RequireSales(std::string_view sale_list);
// The canonical list, as the documents print it ("12,13"); throws as
// RequireSales.
std::string RequireSaleList(std::string_view sale_list);
// True when the text holds nothing but blanks.
bool BlankSaleList(std::string_view sale_list);

// n blanks then the value, keeping the last n characters.
std::string RightAligned(std::string_view value, std::size_t n);
// The value then n blanks, keeping the first n characters.
std::string LeftAligned(std::string_view value, std::size_t n);
// The first n characters.
std::string Cut(std::string_view value, std::size_t n);
// The last n characters.
std::string LastCharacters(std::string_view value, std::size_t n);

// "##0.###": up to three decimals, no thousands separator, and no decimal
// sign left over when the decimals are all zero (2 -> "2", 1.5 -> "1,5").
std::string FormatQuantity(double value, char decimal_separator);
// Fixed decimals; with grouping, thousands are separated by the other mark
// ("##,##0.00" -> "1.234,50" under a decimal comma; "##0.00" without).
std::string FormatAmount(double value, int decimals, bool grouping, char decimal_separator);

// Font for a document on `printer`: the Mecaf printer keeps its size and gets
// no blank lines; every other printer gets Lucida Console 12 and two lines of
// one blank.
void StartDocument(PrintedDocument& document, std::string_view printer);
// Sends the document to the current printer; throws what EndDocument throws.
void SendDocument(PrinterSystem& printers, const PrintedDocument& document);

// The TIPO line of tickets and pre-bills.
std::string TypeLine(std::string_view operation_type, std::string_view title);
// "DATA      :dd/mm/yyyy        hh:mm:ss".
std::string DateLine(std::string_view sale_date, std::string_view start_time);

// The comanda that holds the sales bound as `sales` (DatabaseSession::ListOf),
// to be read with the other reads of a document.
DatabaseSession::Statement ComandaPlaceQuery(const DatabaseSession& db, const Value& sales);
// The place text of a comanda's documents from that query's rows, where a
// table's name would stand: "COMANDA: 150", or "CARTAO: 9001" for a customer
// card; empty when no comanda holds the sales.
std::string ComandaPlaceText(const Recordset& rs);

// The agreement holders of the sales bound as `sales`, and the name of
// `agreement` among that query's rows (nothing when it is not there).
DatabaseSession::Statement AgreementsQuery(const DatabaseSession& db, const Value& sales);
std::optional<std::string> AgreementName(Recordset& rs, long long agreement);

// The options (characteristics) of every line of the sales bound as `sales`:
// nr_orc_loc, id_Seq, dc_car_pro, by line and, within a line, in the order
// they were written.
DatabaseSession::Statement LineOptionsQuery(const DatabaseSession& db, const Value& sales);

// Number of a field, 0 for Null.
double NumberOrZero(const Value& value);

}  // namespace orba
