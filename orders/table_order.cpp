#include "orders/table_order.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/audit_log.h"
#include "common/database.h"
#include "common/general_parameters.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "orders/datahora.h"
#include "orders/customer.h"
#include "orders/package_rules.h"
#include "orders/sale.h"
#include "orders/tax_rule.h"
#include "printing/routing.h"

namespace orba {

namespace {

constexpr const char* kPlaceNotFound = "Erro no Pedido.\\nLocal não encontrado.";
constexpr const char* kSaleFinished = "PEDIDO\\nFINALIZADO.     ";
constexpr const char* kSaleLocked = "PEDIDO\\nBLOQUEADO.     ";
constexpr const char* kNoSaleNumber = "Erro ao selecionar\\num numero novo\\nde orçamento.";
constexpr const char* kSaleNotWritten = "Erro ao inserir\\num orçamento.";
constexpr const char* kTotalsNotWritten = "Erro ao totalizar\\no último orçamento.";
constexpr const char* kNotPrinted = "Erro ao finalizar\\no último orçamento.";
constexpr const char* kBadPosition = "Erro no Pedido.\\nPosição inválida.";

// Quantities and prices a handheld can sensibly send; anything else is a
// typing slip that must not become a sale.
constexpr double kMaxQuantity = 9999;
constexpr double kMaxPrice = 999999.99;

std::string NoTaxRule(const std::string& code) {
  return "Tributação para \\no produto\\ncódigo " + code + "\\nnão encontrada     ";
}
std::string LineNotWritten(const std::string& code) {
  return "Erro ao inserir\\no produto\\ncódigo" + code + " \\nem um orçamento.     ";
}
std::string UnknownProduct(const std::string& code) {
  return "Produto\\ncódigo " + code + "\\nnão cadastrado.     ";
}
std::string BadQuantity(const std::string& code) {
  return "Erro no Pedido.\\nQuantidade inválida\\nno produto " + code + ".";
}
std::string BadPrice(const std::string& code) {
  return "Erro no Pedido.\\nPreço inválido\\nno produto " + code + ".";
}

// A refusal: the handheld is told why, everything is rolled back.
struct Refusal {
  std::string message;
};

// The request is a copy of one already applied (or the table's sales changed
// under it): nothing is written and the document goes back unchanged.
struct AlreadyApplied {};

// Anything else that goes wrong (a missing attribute, a text where a number
// is read, a database failure) ends the request unchanged.
class RequestFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Attribute(const pugi::xml_node& node, const char* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) throw RequestFailure(std::string("atributo ausente: ") + name);
  return attribute.value();
}

std::int32_t IntegerAttribute(const pugi::xml_node& node, const char* name) {
  const std::string text = Attribute(node, name);
  const auto value = ParseInteger(text);
  if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
      *value > std::numeric_limits<std::int32_t>::max()) {
    throw RequestFailure(std::string("não é um número inteiro: ") + name + "=" + text);
  }
  return static_cast<std::int32_t>(*value);
}

double DecimalAttribute(const pugi::xml_node& node, const char* name) {
  const std::string text = Attribute(node, name);
  const auto value = ParseDecimal(text);
  if (!value) throw RequestFailure(std::string("não é um número: ") + name + "=" + text);
  return *value;
}

std::string Number(long long value) { return std::to_string(value); }

// One line to write: an item or one of its accompaniments.
struct Line {
  std::string code;
  double unit_price = 0;
  double quantity = 0;
  double list_price = 0;
  std::optional<std::int16_t> parent;  // id_seq of the item, for accompaniments
  bool covered = false;
};

struct OrderGroup {
  std::int32_t sale = 0;
  std::int32_t position = 0;
  std::int32_t associated_place = 0;
  std::int32_t account_type = 0;
};

class TableOrder {
 public:
  TableOrder(Context& context, pugi::xml_node pedido) : c_(context), db_(context.db), pedido_(pedido) {}

  // Everything up to and including the commit. Throws Refusal,
  // AlreadyApplied, RequestFailure or DatabaseError.
  void Apply(const pugi::xml_document& request);
  std::string SaleList() const;
  // Records the request's stamp for the table, once the order is committed.
  void RecordStamp() const;

 private:
  void ReadHeader();
  void ReadStamp(const pugi::xml_document& request);
  void FindPlace();
  bool StampAlreadyApplied() const;
  void WriteItem(const pugi::xml_node& item);
  std::int32_t SaleOfPosition(std::int32_t position);
  void RefuseFinishedOrLockedSales();
  std::int16_t WriteLine(const Line& line);
  void LinkSalesToPlace();
  void MarkPlaceServed();
  void CheckPositions();
  std::int16_t LastLineOfSale(std::int32_t sale);

  Context& c_;
  DatabaseSession& db_;
  pugi::xml_node pedido_;

  std::string mesa_;
  std::string operador_;  // a checked whole number, kept as text
  long long pessoas_ = 0;
  std::string stamp_;
  std::int32_t id_loc_ = 0;
  std::int32_t id_amb_ = 0;
  bool new_sale_per_order_ = false;  // local.ic_pap_fil = "S"

  std::vector<OrderGroup> groups_;
  std::int32_t current_sale_ = 0;
  std::int32_t previous_position_ = 0;
  std::int16_t id_seq_ = 0;
};

void TableOrder::ReadHeader() {
  Attribute(pedido_, "tipo");  // read, no effect
  mesa_ = Attribute(pedido_, "mesa");
  const std::string operador = Attribute(pedido_, "operador");
  if (!ParseInteger(operador)) throw RequestFailure("operador não é um número: " + operador);
  operador_ = Number(*ParseInteger(operador));
  // The number at the start of the text; 0 when there is none.
  pessoas_ = ParseLeadingInteger(Attribute(pedido_, "pessoas")).value_or(0);
  if (pessoas_ > std::numeric_limits<std::int16_t>::max()) throw RequestFailure("pessoas fora do limite");
  Attribute(pedido_, "mensagem");
}

// The stamp is read once the place is known: an unknown table is refused by
// its message whatever its header holds.
void TableOrder::ReadStamp(const pugi::xml_document& request) {
  if (const pugi::xml_node header = request.select_node("//header").node()) {
    stamp_ = Attribute(header, "datahora");
  }
}

void TableOrder::FindPlace() {
  db_.SqlClear();
  db_.SqlAppend("Select ");
  db_.SqlAppend("   l.id_loc");
  db_.SqlAppend(",  l.ic_pap_fil");
  db_.SqlAppend(",  l.id_amb");
  db_.SqlAppend("from ");
  db_.SqlAppend("   local       l");
  db_.SqlAppend("where l.nm_loc = '" + SqlEscapeValue(mesa_) + "'");
  Recordset rs = db_.Query(db_.SqlText());
  if (rs.Eof()) throw Refusal{kPlaceNotFound};
  id_loc_ = rs.Field("id_loc").Int32();
  id_amb_ = rs.Field("id_amb").IsNull() ? 0 : rs.Field("id_amb").Int32();
  new_sale_per_order_ = rs.Field("ic_pap_fil").Text() == "S";
}

// Only a stamp that the handheld actually sent identifies a request: orders
// without one are always applied, never taken for a copy of each other.
bool TableOrder::StampAlreadyApplied() const {
  if (stamp_.empty()) return false;
  return ReadDataHoraStamp(c_.parameters, mesa_) == stamp_;
}

void TableOrder::Apply(const pugi::xml_document& request) {
  ReadHeader();
  FindPlace();
  ReadStamp(request);
  if (StampAlreadyApplied()) throw AlreadyApplied{};

  if (!db_.BeginTransaction()) throw RequestFailure("transação não iniciada");
  for (const pugi::xml_node& item : pedido_.children("item")) WriteItem(item);
  LinkSalesToPlace();
  MarkPlaceServed();
  CheckPositions();
  if (StampAlreadyApplied()) throw AlreadyApplied{};

  db_.CommitTransaction();
  if (db_.InTransaction()) throw RequestFailure("transação não confirmada");  // reported by the session
}

void TableOrder::WriteItem(const pugi::xml_node& item) {
  const std::int32_t position = IntegerAttribute(item, "posicao");
  if (position < 1) throw Refusal{kBadPosition};
  // Read for every item, so that a line without them is refused even when its
  // position continues the previous line's group.
  const std::int32_t associated_place = IntegerAttribute(item, "idlocalass");
  const std::int32_t account_type = IntegerAttribute(item, "tpconta");
  if (!LoadConsumerCustomer(db_, c_.op, c_.customer)) throw Refusal{""};

  if (position != previous_position_) {
    const std::int32_t sale = SaleOfPosition(position);
    const bool new_sale = sale == 0;
    if (new_sale) {
      if (!NextSaleNumber(db_, current_sale_, true)) throw Refusal{kNoSaleNumber};
    } else {
      current_sale_ = sale;
      RefuseFinishedOrLockedSales();
    }
    // A sale is totalled, linked, logged and printed once, however many
    // groups of the request add to it.
    const bool listed = std::any_of(groups_.begin(), groups_.end(),
                                    [this](const OrderGroup& group) { return group.sale == current_sale_; });
    if (!listed) groups_.push_back(OrderGroup{current_sale_, position, associated_place, account_type});
    if (new_sale) {
      if (associated_place != 0 && !LoadPlaceCustomer(db_, c_.op, c_.customer, associated_place)) {
        throw Refusal{""};
      }
      if (!InsertSale(db_, c_.parameters, c_.clock, NewOrderSale(c_.customer, current_sale_, operador_))) {
        throw Refusal{kSaleNotWritten};
      }
    }
  }

  id_seq_ = LastLineOfSale(current_sale_);
  const std::string code = Attribute(item, "produto");
  const double price = DecimalAttribute(item, "preco");
  const double quantity = DecimalAttribute(item, "qtde");
  const bool covered = CheckPackageCoverage(db_, c_.parameters, c_.clock, associated_place, id_loc_,
                                            id_amb_, code);

  const std::int16_t item_seq =
      WriteLine(Line{code, covered ? 0.0 : price, quantity, price, std::nullopt, covered});
  for (const pugi::xml_node& option : item.children("caract")) {
    const std::int32_t option_code = IntegerAttribute(option, "cod");
    db_.SqlClear();
    db_.SqlAppend("Insert into ivd_caracteristica_produto");
    db_.SqlAppend("(      ");
    db_.SqlAppend("       nr_orc_loc");
    db_.SqlAppend(",      id_seq");
    db_.SqlAppend(",      id_car_pro");
    db_.SqlAppend(")      ");
    db_.SqlAppend("values ");
    db_.SqlAppend("(      ");
    db_.SqlAppend("       " + Number(current_sale_));
    db_.SqlAppend(",      " + Number(item_seq));
    db_.SqlAppend(",      " + Number(option_code));
    db_.SqlAppend(")      ");
    db_.ExecuteSql(db_.SqlText());
  }
  for (const pugi::xml_node& side : item.children("acomp")) {
    const double side_price = DecimalAttribute(side, "preco");
    WriteLine(Line{Attribute(side, "cod"), covered ? 0.0 : side_price, DecimalAttribute(side, "qtde"),
                   price, item_seq, covered});
  }
  previous_position_ = position;
}

std::int32_t TableOrder::SaleOfPosition(std::int32_t position) {
  if (new_sale_per_order_) return 0;
  // A position met again further down the same request goes on with the sale
  // it was given there: its link to the table is written only at the end.
  for (const OrderGroup& group : groups_) {
    if (group.position == position) return group.sale;
  }
  db_.SqlClear();
  db_.SqlAppend("Select ");
  db_.SqlAppend("   lv.nr_orc_loc");
  db_.SqlAppend("from ");
  db_.SqlAppend("   local_vnd   lv");
  db_.SqlAppend("where lv.id_loc = " + Number(id_loc_));
  db_.SqlAppend("  and lv.nr_pos_com = " + Number(position));
  db_.SqlAppend(" Order By lv.nr_orc_loc Asc ");
  Recordset rs = db_.Query(db_.SqlText());
  return rs.Eof() ? 0 : rs.Field("nr_orc_loc").Int32();
}

void TableOrder::RefuseFinishedOrLockedSales() {
  db_.SqlClear();
  db_.SqlAppend("select ");
  db_.SqlAppend("   lv.nr_orc_loc");
  db_.SqlAppend("from ");
  db_.SqlAppend("   local       l");
  db_.SqlAppend(",  local_vnd   lv");
  db_.SqlAppend("where l.id_loc = " + Number(id_loc_));
  db_.SqlAppend("  and l.id_loc = lv.id_loc");
  db_.SqlAppend("order by lv.nr_orc_loc");
  Recordset sales = db_.Query(db_.SqlText());
  for (; !sales.Eof(); sales.MoveNext()) {
    db_.SqlClear();
    db_.SqlAppend("Select ic_tip_ope, nm_comp_lock from venda_direta");
    db_.SqlAppend("where  nr_orc_loc = " + Number(sales.Field("nr_orc_loc").Int()));
    Recordset sale = db_.Query(db_.SqlText());
    if (sale.Eof()) continue;
    if (sale.Field("ic_tip_ope").Text() == "V") throw Refusal{kSaleFinished};
    if (!sale.Field("nm_comp_lock").Text().empty()) throw Refusal{kSaleLocked};
  }
}

std::int16_t TableOrder::LastLineOfSale(std::int32_t sale) {
  db_.SqlClear();
  db_.SqlAppend("Select ");
  db_.SqlAppend("   max(id_seq) as id_seq_max");
  db_.SqlAppend("from ");
  db_.SqlAppend("   item_venda_direta    ivd");
  db_.SqlAppend("Where ivd.nr_orc_loc = " + Number(sale));
  Recordset rs = db_.Query(db_.SqlText());
  if (rs.Eof() || rs.Field("id_seq_max").IsNull()) return 0;
  const long long last = rs.Field("id_seq_max").Int();
  if (last < 0 || last > std::numeric_limits<std::int16_t>::max()) {
    throw RequestFailure("sequência de itens fora do limite");
  }
  return static_cast<std::int16_t>(last);
}

std::int16_t TableOrder::WriteLine(const Line& line) {
  if (id_seq_ == std::numeric_limits<std::int16_t>::max()) throw RequestFailure("sequência de itens esgotada");
  if (!(line.quantity > 0 && line.quantity <= kMaxQuantity)) throw Refusal{BadQuantity(line.code)};
  if (!(line.list_price >= 0 && line.list_price <= kMaxPrice && line.unit_price >= 0 &&
        line.unit_price <= kMaxPrice)) {
    throw Refusal{BadPrice(line.code)};
  }
  ++id_seq_;

  db_.SqlClear();
  db_.SqlAppend("Select ");
  db_.SqlAppend("   id_mat_pro");
  db_.SqlAppend(",  aq_ipi");
  db_.SqlAppend("from   produto ");
  db_.SqlAppend("where cd_pro = '" + SqlEscapeValue(line.code) + "'");
  Recordset product = db_.Query(db_.SqlText());
  // A code the back office does not know is refused by name: taking another
  // line's product instead would sell the wrong thing.
  if (product.Eof()) throw Refusal{UnknownProduct(line.code)};
  const long long product_id = product.Field("id_mat_pro").Int();
  const double product_ipi_rate = product.Field("aq_ipi").IsNull() ? 0.0 : product.Field("aq_ipi").Real();

  TaxRule rule;
  FindTaxRule(db_, TaxRuleQueryFor(c_.customer, product_id, c_.parameters.id_etb_orba), rule);
  if (rule.id_tri == 0) throw Refusal{NoTaxRule(line.code)};

  const LineTaxes taxes = ComputeLineTaxes(rule, line.unit_price * line.quantity, product_ipi_rate);

  SaleItemInput input;
  input.nr_orc_loc = current_sale_;
  input.id_seq = id_seq_;
  input.id_mat_pro = product_id;
  input.id_tri = rule.id_tri;
  input.pr_un_it_atd = line.unit_price;
  input.qt_pro_atd = line.quantity;
  input.vl_dsc = 0;
  input.vl_icms = taxes.icms_value;
  input.vl_ipi = taxes.ipi_value;
  input.vl_icms_rtd = 0;
  input.vl_dsc_icms = taxes.icms_discount;
  input.vl_bas_icms = taxes.icms_base;
  input.aq_icms = taxes.icms_rate;
  input.aq_ipi = taxes.ipi_rate;
  input.vl_pr_un_ori = line.list_price;
  input.id_prt_ite = "N";
  if (line.parent) input.id_seq_pro_prn = *line.parent;
  input.id_pes_atd = operador_;
  input.id_etb_cli = c_.customer.establishment;
  if (line.covered) {
    input.ic_inc_pac = "S";
    input.id_usu_aut_inc_pac = operador_;
  }
  if (!InsertSaleItem(db_, c_.parameters, c_.clock, input)) throw Refusal{LineNotWritten(line.code)};
  return id_seq_;
}

void TableOrder::LinkSalesToPlace() {
  for (const OrderGroup& group : groups_) {
    // A database failure or an overflow of the totals is a failure of the
    // request (answered unchanged), not a refusal.
    if (!RecalculateSaleTotals(db_, c_.clock, group.sale, operador_)) throw Refusal{kTotalsNotWritten};
    db_.SqlClear();
    db_.SqlAppend("select ");
    db_.SqlAppend("   lv.id_loc");
    db_.SqlAppend("from ");
    db_.SqlAppend("   local_vnd lv");
    db_.SqlAppend("where lv.id_loc = " + Number(id_loc_));
    db_.SqlAppend("  and lv.nr_orc_loc = " + Number(group.sale));
    Recordset link = db_.Query(db_.SqlText());
    if (link.Eof()) {
      db_.SqlClear();
      db_.SqlAppend("Insert into local_vnd ");
      db_.SqlAppend("(id_loc, nr_orc_loc, nr_pos_com, id_loc_ass, id_tp_cta)");
      db_.SqlAppend("values(" + Number(id_loc_));
      db_.SqlAppend(",  " + Number(group.sale));
      db_.SqlAppend(",  " + Number(group.position));
      db_.SqlAppend(",  " + Number(group.associated_place));
      db_.SqlAppend(",  " + Number(group.account_type));
      db_.SqlAppend(")");
      db_.ExecuteSql(db_.SqlText());
    }
    WriteCommandLog(db_, c_.clock, "ORCAMENTO", Number(group.sale));
  }
}

void TableOrder::MarkPlaceServed() {
  db_.SqlClear();
  db_.SqlAppend("Update local ");
  db_.SqlAppend("set ic_stt_loc = 'E'");
  if (pessoas_ > 0) db_.SqlAppend(",   qt_loc_ocu = " + Number(pessoas_));
  db_.SqlAppend("where id_loc = " + Number(id_loc_));
  db_.ExecuteSql(db_.SqlText());
}

// The back office may have moved a position to another sale meanwhile. A
// place that opens a sale per order keeps the earlier sales of a position
// beside the new one: for it, other sales on the position are expected.
void TableOrder::CheckPositions() {
  for (const OrderGroup& group : groups_) {
    db_.SqlClear();
    db_.SqlAppend("select *");
    db_.SqlAppend("from ");
    db_.SqlAppend("      local_vnd       lvd");
    db_.SqlAppend("where lvd.id_loc = " + Number(id_loc_));
    db_.SqlAppend("  and lvd.nr_pos_com = " + Number(group.position));
    Recordset links = db_.Query(db_.SqlText());
    for (; !links.Eof(); links.MoveNext()) {
      if (links.Field("nr_orc_loc").Int() != group.sale && !new_sale_per_order_) throw AlreadyApplied{};
    }
  }
}

void TableOrder::RecordStamp() const {
  if (!stamp_.empty()) WriteDataHoraFile(c_.parameters, c_.op, mesa_, stamp_);
}

std::string TableOrder::SaleList() const {
  std::string list;
  for (const OrderGroup& group : groups_) {
    if (!list.empty()) list += ',';
    list += Number(group.sale);
  }
  return list;
}

void RemoveItems(pugi::xml_document& request) {
  for (const pugi::xpath_node& found : request.select_nodes("//item")) {
    pugi::xml_node item = found.node();
    item.parent().remove_child(item);
  }
}

}  // namespace

void HandleTableOrder(Context& context, pugi::xml_document& request) {
  pugi::xml_node pedido = request.select_node("//pedido").node();
  if (!pedido) return;
  TableOrder order(context, pedido);
  try {
    order.Apply(request);
  } catch (const Refusal& refusal) {
    pedido.attribute("mensagem").set_value(refusal.message.c_str());
    RemoveItems(request);
    context.db.RollbackTransaction();
    return;
  } catch (const AlreadyApplied&) {
    context.db.RollbackTransaction();
    return;
  } catch (const std::exception&) {
    context.db.RollbackTransaction();
    return;
  }

  // Committed: from here on the order is stored whatever happens.
  order.RecordStamp();
  RemoveItems(request);
  if (!RouteOrderPrinting(context, order.SaleList())) {
    pedido.attribute("mensagem").set_value(kNotPrinted);
  }
}

}  // namespace orba
