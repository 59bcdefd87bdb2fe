#include "services/position.h"

#include <unistd.h>

#include <cstdio>
#include <limits>
#include <map>
#include <stdexcept>
#include <utility>

#include "common/database.h"
#include "common/general_parameters.h"
#include "common/safe_file.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "exchange/failure_path.h"
#include "exchange/polling_state.h"
#include "orders/comanda_order.h"
#include "printing/print_layout.h"
#include "services/answer_attributes.h"
#include "services/comanda_status.h"
#include "services/table_status.h"

namespace orba {

namespace {

constexpr std::size_t kDescriptionWidth = 30;

// A value between the double quotes of an attribute. Line breaks and tabs are
// written as character references so that they survive reading; other
// control characters have no place in XML at all.
std::string AttributeText(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += "&#10;"; break;
      case '\t': out += "&#9;"; break;
      default:
        out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
    }
  }
  return out;
}

// One element of the answer, written attribute by attribute in the order the
// handhelds read them.
class ElementLine {
 public:
  ElementLine(std::size_t indent, std::string_view name) : text_(indent, ' ') {
    text_ += '<';
    text_ += name;
  }
  ElementLine& Attribute(std::string_view name, std::string_view value) {
    text_ += ' ';
    text_ += name;
    text_ += "=\"";
    text_ += AttributeText(value);
    text_ += '"';
    return *this;
  }
  // The closing characters exactly: "/>", " />", ">" or " >".
  std::string End(std::string_view closing) const { return text_ + std::string(closing); }

 private:
  std::string text_;
};

struct Characteristic {
  std::string code;
  std::string description;
};

struct Line {
  long long sequence = 0;  // id_seq
  std::string product;     // cd_pro
  std::string description; // dc_pro_nf
  double quantity = 0;
  double price = 0;
  std::vector<Characteristic> characteristics;
  std::vector<Line> accompaniments;
};

// Main lines of the place's sales, each with its accompaniments and options,
// by sale number; lines in id_seq order. From the rows of the lines' and the
// options' reads.
std::map<long long, std::vector<Line>> ReadLines(PositionMode mode, Recordset rs, Recordset options) {
  std::map<long long, std::vector<Line>> sales;
  // Where each main line went, by sale and id_seq.
  std::map<std::pair<long long, long long>, std::size_t> main_lines;
  std::vector<std::pair<long long, Line>> accompaniments;
  std::vector<long long> parents;

  for (; !rs.Eof(); rs.MoveNext()) {
    const long long sale = rs.Field("nr_orc_loc").Int();
    Line line;
    line.sequence = rs.Field("id_seq").Int();
    line.product = rs.Field("cd_pro").Text();
    line.description = rs.Field("dc_pro_nf").Text();
    line.quantity = NumberOrZero(rs.Field("qt_pro_atd"));
    line.price = NumberOrZero(rs.Field("pr_un_it_atd"));
    const Value& parent = rs.Field("id_seq_pro_prn");
    if (parent.IsNull()) {
      std::vector<Line>& lines = sales[sale];
      main_lines[{sale, line.sequence}] = lines.size();
      lines.push_back(std::move(line));
    } else {
      parents.push_back(parent.Int());
      accompaniments.emplace_back(sale, std::move(line));
    }
  }
  // An accompaniment shows under its main line; one whose main line is gone
  // (or is itself an accompaniment) is not shown.
  for (std::size_t i = 0; i < accompaniments.size(); ++i) {
    const long long sale = accompaniments[i].first;
    const auto found = main_lines.find({sale, parents[i]});
    if (found == main_lines.end()) continue;
    sales[sale][found->second].accompaniments.push_back(std::move(accompaniments[i].second));
  }

  for (; !options.Eof(); options.MoveNext()) {
    const long long sale = options.Field("nr_orc_loc").Int();
    const auto found = main_lines.find({sale, options.Field("id_seq").Int()});
    if (found == main_lines.end()) continue;
    Characteristic option;
    option.code = SqlNumber(options.Field("id_car_pro").Int());
    if (mode == PositionMode::Table) option.description = options.Field("dc_car_pro").Text();
    sales[sale][found->second].characteristics.push_back(std::move(option));
  }
  return sales;
}

struct Totals {
  double items = 0;     // subtotal
  double service = 0;   // acrescimos
  double discount = 0;  // descontos
  double total = 0;     // valortotal
  double per_person = 0;
};

// Totals of the place's sales from the service rate and the sums read; nothing
// when none of the sales has a sale row.
std::optional<Totals> ReadTotals(const Recordset& rates, const Recordset& rs, std::int16_t people) {
  double rate = 0;
  if (!rates.Eof() && !rates.Field("tx_srv").Text().empty()) rate = rates.Field("tx_srv").Real();
  if (rs.Eof() || rs.Field("sales").Int() == 0) return std::nullopt;

  Totals totals;
  totals.items = NumberOrZero(rs.Field("vl_tot_ite"));
  totals.discount = NumberOrZero(rs.Field("vl_tot_dsc"));
  const double sold = NumberOrZero(rs.Field("vl_tot_vnd"));
  totals.service = rate > 0 ? sold * rate / 100 : 0;
  totals.total = sold + totals.service;
  // The people count is at least 1 by construction; a bill is never divided by 0.
  totals.per_person = totals.total / (people < 1 ? 1 : people);
  return totals;
}

// The sales of a place in the order they are shown, with their state
// (ic_tip_ope, nm_comp_lock) and position, by the place's key bound to $1.
constexpr const char* kTableSales =
    "select lv.nr_orc_loc, lv.nr_pos_com, vd.ic_tip_ope, vd.nm_comp_lock\n"
    "from local_vnd lv\n"
    "  left join venda_direta vd on vd.nr_orc_loc = lv.nr_orc_loc\n"
    "where lv.id_loc = $1\n"
    "order by lv.nr_pos_com, lv.nr_orc_loc";
constexpr const char* kComandaSales =
    "select CCO.NR_ORC_LOC, VD.ic_tip_ope, VD.nm_comp_lock, 1 as nr_pos_com\n"
    "from CONTROLE_COMANDA CC, CONTROLE_COMANDA_ORCAMENTO CCO, VENDA_DIRETA VD\n"
    "where CC.NR_CMD = $1\n"
    "  and CC.NR_CMD = CCO.NR_CMD\n"
    "  and CCO.NR_ORC_LOC = VD.NR_ORC_LOC\n"
    "order by CCO.NR_ORC_LOC";
// The numbers of those sales, for the reads of what they hold.
constexpr const char* kTableSaleNumbers = "select lv.nr_orc_loc from local_vnd lv where lv.id_loc = $1";
constexpr const char* kComandaSaleNumbers =
    "select CCO.NR_ORC_LOC from CONTROLE_COMANDA_ORCAMENTO CCO where CCO.NR_CMD = $1";

// The reads of a place's position, sent together once the place is known:
// its sales, then what PositionPlace::contents holds after them.
std::vector<Recordset> ReadPosition(DatabaseSession& db, PositionMode mode, long long key) {
  const bool table = mode == PositionMode::Table;
  const std::string sales_of = table ? kTableSaleNumbers : kComandaSaleNumbers;
  const std::string options =
      table ? "select icp.nr_orc_loc, icp.id_seq, icp.id_car_pro, cp.dc_car_pro\n"
            "from ivd_caracteristica_produto icp\n"
            "  inner join caracteristica_produto cp on icp.id_car_pro = cp.id_car_pro\n"
          : "select icp.nr_orc_loc, icp.id_seq, icp.id_car_pro\n"
            "from ivd_caracteristica_produto icp\n";
  return db.Queries({
      {table ? kTableSales : kComandaSales, {key}},
      {"select ivd.nr_orc_loc, ivd.id_seq, ivd.id_seq_pro_prn, ivd.pr_un_it_atd, ivd.qt_pro_atd,\n"
       "       ivd.vl_dsc, p.id_mat_pro, p.cd_pro, p.dc_pro_nf\n"
       "from item_venda_direta ivd, produto p\n"
       "where ivd.nr_orc_loc in (" + sales_of + ")\n"
       "  and ivd.id_mat_pro = p.id_mat_pro\n"
       "order by ivd.nr_orc_loc, ivd.id_seq",
       {key}},
      {options + "where icp.nr_orc_loc in (" + sales_of + ")", {key}},
      {"select tx_srv from parametro_geral", {}},
      {"select count(vd.nr_orc_loc) as sales, sum(vd.vl_tot_ite) as vl_tot_ite,\n"
       "       sum(vd.vl_tot_dsc) as vl_tot_dsc, sum(vd.vl_tot_vnd) as vl_tot_vnd\n"
       "from venda_direta vd\n"
       "where vd.nr_orc_loc in (" + sales_of + ")",
       {key}},
  });
}

std::string Stamp(const LocalTime& now) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", now.year, now.month, now.day, now.hour,
                now.minute, now.second);
  return text;
}

// Reads back the work file just written, never through a link.
std::string ReadWorkFile(const std::string& folder, const std::string& name) {
  std::string content;
  std::string error;
  if (!ReadFileInFolder(folder, name, content, error, std::numeric_limits<std::size_t>::max())) {
    throw std::runtime_error(error);
  }
  return content;
}

// The work file of one request: written whole (a leftover of the same name,
// from a crash, is replaced in one step) and removed on every way out.
class WorkFile {
 public:
  WorkFile(std::string folder, std::string name)
      : folder_(std::move(folder)), name_(std::move(name)),
        path_((folder_.empty() ? std::string(".") : folder_) + "/" + name_) {}
  ~WorkFile() {
    if (written_) unlink(path_.c_str());
  }
  WorkFile(const WorkFile&) = delete;
  WorkFile& operator=(const WorkFile&) = delete;

  void Write(std::string_view content) {
    std::string error;
    written_ = true;  // whatever happens, nothing of this name is left behind
    if (!WriteFileSafely(folder_, name_, content, Existing::Replace, &error)) {
      throw std::runtime_error("arquivo de trabalho " + error);
    }
  }
  std::string Read() const { return ReadWorkFile(folder_, name_); }

 private:
  std::string folder_;
  std::string name_;
  std::string path_;
  bool written_ = false;
};

void RemoveItems(pugi::xml_document& request) {
  std::vector<pugi::xml_node> items;
  for (const pugi::xpath_node& found : request.select_nodes("//item")) items.push_back(found.node());
  for (pugi::xml_node& item : items) item.parent().remove_child(item);
}

}  // namespace

PositionPlace FindTablePosition(DatabaseSession& db, std::string_view mesa) {
  const DatabaseSession::Statement lookup = TableStatusStatement(db, mesa);
  const Recordset found = db.Query(lookup.text, lookup.values);
  TableStatus status;
  DecideTableStatus(found, status);
  PositionPlace place;
  place.status = status.status;
  place.message = status.message;
  place.environment = status.environment;
  place.people = status.people;
  if (status.place_id.empty()) return place;
  place.listed = true;
  place.key = found.Field("id_loc").Int();
  return place;
}

PositionPlace FindComandaPosition(DatabaseSession& db, std::string_view mesa) {
  const std::optional<long long> number = ParseComandaNumber(mesa);
  if (!number) throw RequestFailure("número de comanda inválido: '" + std::string(mesa) + "'");
  ComandaStatus status;
  PositionPlace place;
  // A comanda opened just now has no sales of its own to look at.
  place.sales_decide = OpenComanda(db, mesa, status) == ComandaOpening::AlreadyOpen;
  place.listed = true;
  place.status = status.status;
  place.message = status.message;
  place.people = 1;
  place.key = *number;
  return place;
}

void ReadPositionContents(DatabaseSession& db, PositionMode mode, PositionPlace& place) {
  if (!place.listed) return;
  place.contents = ReadPosition(db, mode, place.key);
  Recordset& sales = place.contents.front();
  if (const auto blocked = place.sales_decide ? FirstBlockedAmong(sales) : std::nullopt) {
    place.status = blocked->status;
    place.message = blocked->message;
  }
  place.sales.clear();
  for (; !sales.Eof(); sales.MoveNext()) {
    place.sales.push_back(PositionSale{sales.Field("nr_orc_loc").Int(), sales.Field("nr_pos_com").Int()});
  }
}

std::optional<std::string> PositionText(const LocalTime& now, char decimal_separator, PositionMode mode,
                                        const PositionRequest& request, const PositionPlace& place) {
  const bool table = mode == PositionMode::Table;
  const auto quantity = [decimal_separator](double value) {
    return FormatAmount(value, 3, false, decimal_separator);
  };
  const auto amount = [decimal_separator](double value) {
    return FormatAmount(value, 2, false, decimal_separator);
  };
  const std::string people = std::to_string(place.people);

  std::string text;
  const auto line = [&text](std::string content) {
    text += content;
    text += "\r\n";
  };
  line("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>");
  line("<POM>");
  line(ElementLine(2, "Header").Attribute("datahora", Stamp(now)).Attribute("versao", "1.0").End("/>"));
  ElementLine local(2, "local");
  local.Attribute("mesa", request.mesa).Attribute("ic_tip_tra", request.ic_tip_tra).Attribute("status", place.status);
  if (table) local.Attribute("ambiente", place.environment).Attribute("pessoas", people);
  line(local.Attribute("mensagem", place.message).End(" />"));
  line(ElementLine(2, "pedido")
           .Attribute("tipo", request.tipo)
           .Attribute("mesa", request.mesa)
           .Attribute("ic_tip_tra", request.ic_tip_tra)
           .Attribute("operador", request.operador)
           .Attribute("pessoas", people)
           .Attribute("mensagem", "")
           .End(">"));

  std::optional<Totals> totals;
  if (!place.sales.empty()) {
    const std::map<long long, std::vector<Line>> lines = ReadLines(mode, place.contents[1], place.contents[2]);
    for (const PositionSale& sale : place.sales) {
      const auto found = lines.find(sale.number);
      if (found == lines.end()) continue;
      const std::string position = table ? SqlNumber(sale.position) : std::string("1");
      long long order = 0;
      for (const Line& item : found->second) {
        line(ElementLine(4, "item")
                 .Attribute("posicao", position)
                 .Attribute("id", SqlNumber(item.sequence))
                 .Attribute("grupo", "")
                 .Attribute("subgrupo", "")
                 .Attribute("produto", item.product)
                 .Attribute("descricao", FirstCharacters(item.description, kDescriptionWidth))
                 .Attribute("qtde", quantity(item.quantity))
                 .Attribute("preco", amount(item.price))
                 .Attribute("ordem", SqlNumber(++order))
                 .End(" >"));
        for (const Characteristic& option : item.characteristics) {
          ElementLine caract(6, "caract");
          caract.Attribute("id", "").Attribute("cod", option.code);
          if (table) caract.Attribute("descricao", FirstCharacters(option.description, kDescriptionWidth));
          line(caract.End(" />"));
        }
        for (const Line& side : item.accompaniments) {
          line(ElementLine(6, "acomp")
                   .Attribute("id", SqlNumber(side.sequence))
                   .Attribute("cod", side.product)
                   .Attribute("qtde", quantity(side.quantity))
                   .Attribute("preco", amount(side.price))
                   .Attribute("descricao", FirstCharacters(side.description, kDescriptionWidth))
                   .End(" />"));
        }
        line("    </item>");
      }
    }
    totals = ReadTotals(place.contents[3], place.contents[4], place.people);
    if (!totals) return std::nullopt;
  }
  line("  </pedido>");
  if (totals) {
    line(ElementLine(2, "total")
             .Attribute("subtotal", amount(totals->items))
             .Attribute("acrescimos", amount(totals->service))
             .Attribute("descontos", amount(totals->discount))
             .Attribute("valortotal", amount(totals->total))
             .Attribute("totalpercapta", amount(totals->per_person))
             .End(" />"));
  }
  line("</POM>");
  return Utf8ToLatin1(text);
}

std::string PositionWorkFileName(std::string_view stem) {
  // Outside the polling cycle (a tool, a test) there is no request name.
  const std::string base = stem.empty() ? std::string("POM") : std::string(stem);
  if (base.find('/') != std::string::npos) throw RequestFailure("nome de pedido inválido: " + base);
  return base + ".prc";
}

namespace {

// POM in one mode: writes `pessoas` into the request's first `pedido`, and
// when the place has a position replaces the request by the `<POM>` document.
void AnswerPosition(Context& context, pugi::xml_document& request, PositionMode mode) {
  pugi::xml_node pedido = FirstElement(request, "pedido");
  if (!pedido) return;
  RunHandler(
      context, mode == PositionMode::Table ? "posição da mesa" : "posição da comanda",
      [&]() {
        PositionRequest asked;
        asked.tipo = RequiredAttribute(pedido, "tipo");
        asked.mesa = RequiredAttribute(pedido, "mesa");
        asked.ic_tip_tra = RequiredAttribute(pedido, "ic_tip_tra");
        asked.operador = RequiredAttribute(pedido, "operador");

        PositionPlace place = mode == PositionMode::Table ? FindTablePosition(context.db, asked.mesa)
                                                          : FindComandaPosition(context.db, asked.mesa);
        WriteAttribute(pedido, "pessoas", std::to_string(place.people));
        if (!place.listed) return;
        ReadPositionContents(context.db, mode, place);

        const std::optional<std::string> text =
            PositionText(context.clock.Now(), context.parameters.DecimalSeparator, mode, asked, place);
        if (!text) {
          LogRequestFailure(context, "posição", std::string(kTotalsFailed));
          RemoveItems(request);
          if (pugi::xml_attribute message = pedido.attribute("mensagem")) {
            message.set_value(std::string(kTotalsFailed).c_str());
          }
          return;
        }

        WorkFile work(context.parameters.AnswerFolder, PositionWorkFileName(context.polling.CurrentStem));
        work.Write(*text);
        const std::string bytes = work.Read();
        pugi::xml_document answer;
        // Kept as written: declaration, line breaks (CR LF) and indentation.
        constexpr unsigned kOptions =
            (pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata) & ~pugi::parse_eol;
        const pugi::xml_parse_result loaded =
            answer.load_buffer(bytes.data(), bytes.size(), kOptions, pugi::encoding_latin1);
        if (!loaded) throw std::runtime_error(std::string("arquivo de trabalho ilegível: ") + loaded.description());
        request = std::move(answer);
        // The handheld gets the document as it was written, byte for byte
        // (saving the loaded document again would drop the blanks before
        // "/>" and the line breaks around the elements).
        context.polling.AnswerBytes = bytes;
      },
      [](const std::string&) {}, [](const std::exception&) {});
}

}  // namespace

void HandleTablePosition(Context& context, pugi::xml_document& request) {
  AnswerPosition(context, request, PositionMode::Table);
}

void HandleComandaPosition(Context& context, pugi::xml_document& request) {
  AnswerPosition(context, request, PositionMode::Comanda);
}

}  // namespace orba
