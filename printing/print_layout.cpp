#include "printing/print_layout.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "common/database.h"
#include "common/sql_text.h"
#include "common/text.h"

namespace orba {

bool PrinterSettings::FeedsPaper(long long company) const {
  return std::find(feed_companies.begin(), feed_companies.end(), company) != feed_companies.end();
}

std::optional<std::vector<long long>> ParseSaleList(std::string_view sale_list) {
  std::vector<long long> sales;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = sale_list.find(',', start);
    const std::string_view piece =
        sale_list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    const std::optional<long long> number = ParseInteger(piece);
    if (!number) return std::nullopt;
    sales.push_back(*number);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return sales;
}

std::vector<long long> RequireSales(std::string_view sale_list) {
  auto sales = ParseSaleList(sale_list);
  if (!sales) throw std::runtime_error("Lista de vendas inválida: '" + std::string(sale_list) + "'");
  return std::move(*sales);
}

std::string RequireSaleList(std::string_view sale_list) {
  std::string text;
  for (const long long sale : RequireSales(sale_list)) {
    if (!text.empty()) text += ',';
    text += std::to_string(sale);
  }
  return text;
}

bool BlankSaleList(std::string_view sale_list) {
  return sale_list.find_first_not_of(' ') == std::string_view::npos;
}

std::string RightAligned(std::string_view value, std::size_t n) {
  return LastCharacters(std::string(n, ' ') + std::string(value), n);
}

std::string LeftAligned(std::string_view value, std::size_t n) {
  return FirstCharacters(std::string(value) + std::string(n, ' '), n);
}

std::string Cut(std::string_view value, std::size_t n) { return FirstCharacters(value, n); }

std::string LastCharacters(std::string_view value, std::size_t n) {
  const std::size_t count = CharacterCount(value);
  if (count <= n) return std::string(value);
  const std::size_t skipped = FirstCharacters(value, count - n).size();
  return std::string(value.substr(skipped));
}

namespace {

// Fixed-point digits with '.' as mark, whatever the C locale says. The value
// is first read to the 15 significant digits that a double holds for sure,
// then rounded half away from zero: 1.485 (stored as 1.48499999...) gives
// 1.49, and a sum of many lines (30 x 0.10 = 3.0000000000000013) does not
// drift off its cent. Totals on the position and on the pre-bill round alike.
std::string FixedDigits(double value, int decimals) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
  if (ec != std::errc()) return "0";
  std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  const bool negative = text.front() == '-';
  if (negative) text.remove_prefix(1);
  // d.dddddddddddddde[+-]xx
  const std::size_t mark = text.find('e');
  std::string digits(1, text[0]);
  digits.append(text.substr(2, mark - 2));
  int exponent = 0;
  std::from_chars(text.data() + mark + 1 + (text[mark + 1] == '+' ? 1 : 0), text.data() + text.size(), exponent);

  // The value times 10^decimals, as a whole number of `kept` digits.
  const long long keep = static_cast<long long>(exponent) + 1 + decimals;
  std::string kept;
  if (keep >= static_cast<long long>(digits.size())) {
    kept = digits + std::string(static_cast<std::size_t>(keep) - digits.size(), '0');
  } else if (keep >= 0) {
    kept = digits.substr(0, static_cast<std::size_t>(keep));
    if (digits[static_cast<std::size_t>(keep)] >= '5') {
      std::size_t i = kept.size();
      while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
      if (i == 0) {
        kept.insert(kept.begin(), '1');
      } else {
        ++kept[i - 1];
      }
    }
  }
  const std::size_t width = static_cast<std::size_t>(decimals) + 1;
  if (kept.size() < width) kept.insert(0, width - kept.size(), '0');
  std::string whole = kept.substr(0, kept.size() - static_cast<std::size_t>(decimals));
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
  std::string out = whole;
  if (decimals > 0) out += '.' + kept.substr(kept.size() - static_cast<std::size_t>(decimals));
  // "-0.00" is zero.
  if (negative && out.find_first_not_of("0.") != std::string::npos) out.insert(0, 1, '-');
  return out;
}

}  // namespace

std::string FormatQuantity(double value, char decimal_separator) {
  if (!std::isfinite(value)) return "0";
  std::string text = FixedDigits(value, 3);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  if (text == "-0") text = "0";
  std::replace(text.begin(), text.end(), '.', decimal_separator);
  return text;
}

std::string FormatAmount(double value, int decimals, bool grouping, char decimal_separator) {
  if (!std::isfinite(value)) value = 0;
  std::string text = FixedDigits(value, decimals);
  const bool negative = text.front() == '-';
  if (negative) text.erase(0, 1);
  const std::size_t point = text.find('.');
  std::string whole = text.substr(0, point);
  const std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
  if (grouping) {
    const char thousands = decimal_separator == ',' ? '.' : ',';
    for (std::size_t i = whole.size(); i > 3; i -= 3) whole.insert(i - 3, 1, thousands);
  }
  std::string out = negative ? "-" + whole : whole;
  if (!fraction.empty()) out += decimal_separator + fraction;
  return out;
}

void StartDocument(PrintedDocument& document, std::string_view printer) {
  if (printer == kMecafPrinter) {
    document.font_name = std::string(kMecafFont);
    document.font_size.reset();
  } else {
    document.font_name = std::string(kDefaultFont);
    document.font_size = kDefaultFontSize;
    document.lines.emplace_back(" ");
    document.lines.emplace_back(" ");
  }
}

void SendDocument(PrinterSystem& printers, const PrintedDocument& document) {
  printers.SetFont(document.font_name, document.font_size);
  for (std::size_t i = 0; i < document.lines.size(); ++i) {
    if (i == document.place_line) {
      printers.PrintPlaceLine(document.lines[i]);
    } else {
      printers.PrintLine(document.lines[i]);
    }
  }
  printers.EndDocument();
}

std::string TypeLine(std::string_view operation_type, std::string_view title) {
  if (operation_type == "C") return "TIPO      :UTILIZAÇÃO INTERNA";
  if (!title.empty()) return "TIPO      :" + std::string(title);
  return "TIPO      :DOCUMENTO NAO FISCAL";
}

std::string DateLine(std::string_view sale_date, std::string_view start_time) {
  return "DATA      :" + ConvertDate(sale_date, "dd/mm/yyyy") + std::string(8, ' ') +
         LastCharacters("  " + std::string(start_time), 8);
}

double NumberOrZero(const Value& value) { return value.IsNull() ? 0 : value.Real(); }

DatabaseSession::Statement ComandaPlaceQuery(const DatabaseSession& db, const Value& sales) {
  return {"Select cco.NR_CMD, cc.IC_TIP_CMD\r"
          "from   controle_comanda_orcamento cco\r"
          "       left join controle_comanda cc on cc.NR_CMD = cco.NR_CMD\r"
          "Where  " + db.InList("cco.NR_ORC_LOC", "$1", Value::Kind::Integer) + "\r"
          "Order by cco.NR_CMD",
          {sales}};
}

std::string ComandaPlaceText(const Recordset& rs) {
  if (rs.Eof()) return {};
  const char* kind = rs.Field("IC_TIP_CMD").Text() == "CRT" ? "CARTAO: " : "COMANDA: ";
  return kind + std::to_string(rs.Field("NR_CMD").Int());
}

DatabaseSession::Statement AgreementsQuery(const DatabaseSession& db, const Value& sales) {
  return {"Select c.id_pes_cnv, c.nm_pes_cnv from conveniado c\r"
          "Where  c.id_pes_cnv in (Select vd.id_pes_cnv from venda_direta vd Where " +
              db.InList("vd.nr_orc_loc", "$1", Value::Kind::Integer) + ")",
          {sales}};
}

std::optional<std::string> AgreementName(Recordset& rs, long long agreement) {
  for (; !rs.Eof(); rs.MoveNext()) {
    if (rs.Field("id_pes_cnv").Int() == agreement) return rs.Field("nm_pes_cnv").Text();
  }
  return std::nullopt;
}

DatabaseSession::Statement LineOptionsQuery(const DatabaseSession& db, const Value& sales) {
  // Options of one line have no key of their own: the row's place in the
  // table keeps the order they were written in.
  const char* written = db.Engine() == DatabaseEngine::Postgresql ? "icp.ctid" : "icp.rowid";
  return {"Select icp.nr_orc_loc, icp.id_Seq, cp.dc_car_pro\r"
          "from   ivd_caracteristica_produto icp, caracteristica_produto cp\r"
          "Where  " + db.InList("icp.nr_orc_loc", "$1", Value::Kind::Integer) + "\r"
          "And    icp.id_car_pro = cp.id_car_pro\r"
          "Order by icp.nr_orc_loc, icp.id_Seq, " + written,
          {sales}};
}

}  // namespace orba
