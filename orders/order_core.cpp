#include "orders/order_core.h"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "common/audit_log.h"
#include "common/database.h"
#include "common/general_parameters.h"
#include "common/operator.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "common/transaction.h"
#include "exchange/failure_path.h"
#include "orders/sale.h"
#include "orders/tax_rule.h"
#include "printing/pending_prints.h"

namespace orba {

namespace {

std::string NoTaxRule(const std::string& code, OrderAttributes attributes) {
  // The comanda-mode text has no blank before the code.
  const char* before_code = attributes == OrderAttributes::Table ? "código " : "código";
  return "Tributação para \\no produto\\n" + std::string(before_code) + code + "\\nnão encontrada     ";
}
std::string LineNotWritten(const std::string& code) {
  return "Erro ao inserir\\no produto\\ncódigo" + code + " \\nem um orçamento.     ";
}
std::string UnknownProduct(const std::string& code) {
  return "Produto\\ncódigo " + code + "\\nnão cadastrado.     ";
}

std::string Number(long long value) { return std::to_string(value); }

struct Product {
  long long id = 0;
  double ipi_rate = 0;
};

// The profile a tax rule is looked up for, with the product.
using RuleKey = std::tuple<long long, std::string, std::string, std::string, std::string, std::string>;

// One line to write: an item or one of its accompaniments.
struct Line {
  const std::string& code;
  double unit_price;
  double quantity;
  double list_price;
  std::optional<std::int16_t> parent;  // id_seq of the item, for accompaniments
  bool covered;
};

// Writes the groups of one order inside its transaction. Lookups that the
// lines of one order repeat (products, tax rules, the last line of a sale,
// the customer of a sale) are made once; the products and the tax rules of
// all its lines are looked up together.
class OrderWriter {
 public:
  OrderWriter(Context& context, OrderMode& mode, const OrderRequest& order)
      : c_(context), db_(context.db), mode_(mode), order_(order) {}

  // The products of every code of the order, in one statement, and their
  // rows; a code without a row is looked up alone when it is met.
  DatabaseSession::Statement ProductsRead();
  void TakeProducts(Recordset rows);
  void WriteItems();
  void CloseSales();
  const std::vector<OrderGroup>& groups() const { return groups_; }
  const std::vector<OrderLine>& lines() const { return lines_; }

 private:
  // The sale of each group of the order, in order: the open sales that the
  // mode gives, and the new ones numbered in one draw.
  std::vector<std::int32_t> PlanSales();
  void StartGroup(const OrderItem& item, std::int32_t sale, bool fresh);
  void NewSale(const OrderItem& item, std::int32_t sale);
  const Product& FindProduct(const std::string& code);
  const TaxRule& FindRule(const Product& product, const CustomerRecord& customer, const std::string& code);
  // The last line number of an open sale, as read; throws RequestFailure
  // when it is out of range.
  void TakeLastLine(std::int32_t sale, const Value& last_line);
  std::int16_t NextLine(std::int32_t sale);
  std::int16_t WriteLine(std::int32_t sale, const Line& line);
  void WriteOptions(std::int32_t sale, std::int16_t line, const std::vector<std::int32_t>& options);
  // Writes the lines, salespeople and options gathered so far.
  void WriteGathered();
  [[noreturn]] void RefuseAfterFailure(const std::string& message, const std::string& cause);

  Context& c_;
  DatabaseSession& db_;
  OrderMode& mode_;
  const OrderRequest& order_;

  std::vector<OrderGroup> groups_;
  std::vector<OrderLine> lines_;  // every line written, to be printed
  std::map<std::int32_t, CustomerRecord> customers_;
  std::map<std::int32_t, std::int16_t> last_lines_;
  std::map<std::string, Product> products_;
  std::map<RuleKey, TaxRuleOutcome> rules_;
  std::set<std::int32_t> new_sales_;  // drawn for this order
  // The lines, their salespeople and their options, written together before
  // the next read that may need them.
  SaleLineRows line_rows_;
  RowInserts option_rows_{"ivd_caracteristica_produto"};
  // Each code as it goes into the products' statement, with the codes that give it.
  std::map<std::string, std::vector<const std::string*>> codes_;
};

void OrderWriter::RefuseAfterFailure(const std::string& message, const std::string& cause) {
  // The database itself failed (a server gone, a disk full): a failure of the
  // request, answered as not recorded with the items kept.
  if (!db_.ProviderError().empty()) throw DatabaseError(cause, db_.LastFailureWasBusy());
  // The waiter reads the refusal; the operator learns why.
  LogRequestFailure(c_, "pedido", cause);
  throw Refusal(message);
}

void OrderWriter::WriteItems() {
  const std::vector<std::int32_t> sales = PlanSales();
  std::set<std::int32_t> unwritten = new_sales_;
  std::size_t next_group = 0;
  std::int32_t sale = 0;
  std::int32_t previous_position = 0;
  for (const OrderItem& item : order_.items) {
    if (item.position != previous_position) {
      sale = sales[next_group++];
      StartGroup(item, sale, unwritten.erase(sale) > 0);
    }
    previous_position = item.position;

    // The product is known before anything is decided about it.
    FindProduct(item.code);
    if (mode_.CoverageReads(item)) WriteGathered();
    const bool covered = mode_.Covered(item);
    const std::int16_t item_line =
        WriteLine(sale, Line{item.code, covered ? 0.0 : item.price, item.quantity, item.price, std::nullopt, covered});
    WriteOptions(sale, item_line, item.options);
    for (const OrderSide& side : item.sides) {
      // By table an accompaniment is listed at its item's price; by comanda
      // at its own, as it is sold.
      const double list_price = mode_.Attributes() == OrderAttributes::Comanda ? side.price : item.price;
      WriteLine(sale, Line{side.code, covered ? 0.0 : side.price, side.quantity, list_price, item_line, covered});
    }
  }
}

std::vector<std::int32_t> OrderWriter::PlanSales() {
  // The groups as the mode sees them while the order goes on: a new sale
  // stands as a provisional negative number until the draw.
  std::vector<OrderGroup> planned;
  std::vector<std::int32_t> sales;
  int drawn = 0;
  std::int32_t previous_position = 0;
  for (const OrderItem& item : order_.items) {
    if (item.position == previous_position) continue;
    previous_position = item.position;
    std::int32_t sale = mode_.SaleOfGroup(item, planned);
    if (sale == 0) sale = -(++drawn);
    sales.push_back(sale);
    const bool listed =
        std::any_of(planned.begin(), planned.end(), [sale](const OrderGroup& group) { return group.sale == sale; });
    if (!listed) planned.push_back(OrderGroup{sale, item.position, item.associated_place, item.account_type});
  }
  // The new numbers are drawn, and the last line of each open sale read, at once.
  std::vector<DatabaseSession::Statement> reads;
  std::vector<long long> open_sales;
  for (const std::int32_t sale : sales) {
    if (sale > 0) open_sales.push_back(sale);
  }
  if (!open_sales.empty()) {
    reads = mode_.OpenSalesReads(open_sales);
    reads.push_back({"Select ivd.nr_orc_loc, max(ivd.id_seq) as id_seq_max from item_venda_direta ivd where " +
                         db_.InList("ivd.nr_orc_loc", "$1", Value::Kind::Integer) + " group by ivd.nr_orc_loc",
                     {db_.ListOf(open_sales)}});
  }
  const std::size_t modes = open_sales.empty() ? 0 : reads.size() - 1;
  // The tax rules of the likely customer's products, with them.
  const CustomerRecord* likely = sales.empty() ? nullptr : mode_.LikelyCustomer();
  std::set<long long> unique_products;
  for (const auto& [unused, product] : products_) unique_products.insert(product.id);
  const std::vector<long long> product_ids(unique_products.begin(), unique_products.end());
  const bool rules_read = likely != nullptr && !product_ids.empty();
  if (rules_read) {
    reads.push_back(
        TaxRulesStatement(db_, TaxRuleQueryFor(*likely, InputValue(), c_.parameters.id_etb_orba), product_ids));
  }
  if (drawn > 0) reads.push_back(SaleNumbersDraw(drawn));
  if (reads.empty()) return sales;
  std::vector<Recordset> results = db_.Queries(reads);
  if (rules_read) {
    for (auto& [id, outcome] : ReadTaxRules(results[modes + (open_sales.empty() ? 0 : 1)], product_ids)) {
      rules_.emplace(RuleKey{id, likely->state, likely->municipality, likely->company_type, likely->invoice_type,
                             likely->product_use},
                     std::move(outcome));
    }
  }
  if (!open_sales.empty()) {
    for (Recordset& last = results[modes]; !last.Eof(); last.MoveNext()) {
      TakeLastLine(static_cast<std::int32_t>(last.Field("nr_orc_loc").Int()), last.Field("id_seq_max"));
    }
    mode_.OpenSalesRead(std::vector<Recordset>(results.begin(), results.begin() + static_cast<std::ptrdiff_t>(modes)));
  }
  if (drawn == 0) return sales;
  std::int32_t first = 0;
  try {
    const Recordset& draw = results.back();
    if (draw.Eof()) throw DatabaseError("parametro_geral sem registro");
    first = draw.Field("id_vnd_dir").Int32() - drawn + 1;
  } catch (const DatabaseError& e) {
    RefuseAfterFailure(kNoSaleNumber, e.what());
  }
  for (std::int32_t& sale : sales) {
    if (sale < 0) {
      sale = first + (-sale) - 1;
      new_sales_.insert(sale);
    }
  }
  return sales;
}

void OrderWriter::StartGroup(const OrderItem& item, std::int32_t sale, bool fresh) {
  if (fresh) {
    NewSale(item, sale);
  } else {
    mode_.CheckExistingSale(sale);
    if (customers_.count(sale) == 0) customers_.emplace(sale, mode_.CustomerOfSale(sale));
  }
  c_.customer = customers_.at(sale);
  // A sale is totalled, linked, logged and printed once, however many groups
  // of the order add to it.
  const bool listed =
      std::any_of(groups_.begin(), groups_.end(), [sale](const OrderGroup& group) { return group.sale == sale; });
  if (!listed) groups_.push_back(OrderGroup{sale, item.position, item.associated_place, item.account_type});
}

void OrderWriter::NewSale(const OrderItem& item, std::int32_t sale) {
  std::string failure;
  CustomerRecord customer = mode_.CustomerOfNewSale(item);
  if (!InsertSale(db_, c_.parameters, c_.clock, NewOrderSale(customer, sale, order_.operador), &failure)) {
    RefuseAfterFailure(kSaleNotWritten, failure);
  }
  customers_.emplace(sale, std::move(customer));
  last_lines_[sale] = 0;
}

DatabaseSession::Statement OrderWriter::ProductsRead() {
  for (const OrderItem& item : order_.items) {
    codes_[SqlEscapeValue(item.code)].push_back(&item.code);
    for (const OrderSide& side : item.sides) codes_[SqlEscapeValue(side.code)].push_back(&side.code);
  }
  std::vector<std::string> list;
  for (const auto& [text, unused] : codes_) list.push_back(text);
  return {"Select id_mat_pro, aq_ipi, cd_pro from produto where " + db_.InList("cd_pro", "$1", Value::Kind::Text),
          {db_.ListOf(list)}};
}

void OrderWriter::TakeProducts(Recordset rs) {
  std::map<std::string, std::vector<const std::string*>>& codes = codes_;
  // The rows of a code come in the order of its own lookup: the first one is
  // the product. A code without a row of exactly its text, or whose row
  // cannot be read, is left to its own lookup, which refuses it or fails.
  for (; !rs.Eof(); rs.MoveNext()) {
    const auto code = codes.find(rs.Field("cd_pro").Text());
    if (code == codes.end() || products_.count(*code->second.front()) > 0) continue;
    Product product;
    try {
      product.id = rs.Field("id_mat_pro").Int();
      product.ipi_rate = rs.Field("aq_ipi").IsNull() ? 0.0 : rs.Field("aq_ipi").Real();
    } catch (const DatabaseError&) {
      codes.erase(code);
      continue;
    }
    for (const std::string* same : code->second) products_.emplace(*same, product);
  }
}

const Product& OrderWriter::FindProduct(const std::string& code) {
  if (auto found = products_.find(code); found != products_.end()) return found->second;
  Recordset rs = db_.Query("Select id_mat_pro, aq_ipi from produto where cd_pro = $1", {SqlEscapeValue(code)});
  // A code the back office does not know is refused by name: taking another
  // line's product instead would sell the wrong thing.
  if (rs.Eof()) throw Refusal(UnknownProduct(code));
  Product product;
  product.id = rs.Field("id_mat_pro").Int();
  product.ipi_rate = rs.Field("aq_ipi").IsNull() ? 0.0 : rs.Field("aq_ipi").Real();
  return products_.emplace(code, product).first->second;
}

const TaxRule& OrderWriter::FindRule(const Product& product, const CustomerRecord& customer,
                                     const std::string& code) {
  const auto key = [&customer](long long id) {
    return RuleKey{id, customer.state, customer.municipality, customer.company_type, customer.invoice_type,
                   customer.product_use};
  };
  auto found = rules_.find(key(product.id));
  if (found == rules_.end()) {
    // The rules of every product of the order for this customer, at once.
    std::vector<long long> wanted;
    for (const auto& [unused, known] : products_) {
      if (rules_.count(key(known.id)) == 0) wanted.push_back(known.id);
    }
    for (auto& [id, outcome] : FindTaxRules(db_, TaxRuleQueryFor(customer, InputValue(), c_.parameters.id_etb_orba),
                                           wanted)) {
      rules_.emplace(key(id), std::move(outcome));
    }
    found = rules_.find(key(product.id));
  }
  const TaxRuleOutcome& outcome = found->second;
  if (!outcome.failure.empty()) throw DatabaseError(outcome.failure);
  if (!outcome.found) throw Refusal(NoTaxRule(code, mode_.Attributes()));
  return outcome.rule;
}

void OrderWriter::TakeLastLine(std::int32_t sale, const Value& last_line) {
  const long long last = last_line.IsNull() ? 0 : last_line.Int();
  if (last < 0 || last > std::numeric_limits<std::int16_t>::max()) {
    throw RequestFailure("sequência de itens fora do limite na venda " + Number(sale));
  }
  last_lines_[sale] = static_cast<std::int16_t>(last);
}

std::int16_t OrderWriter::NextLine(std::int32_t sale) {
  // Open sales without lines are not in the batch that read the last lines.
  auto found = last_lines_.try_emplace(sale, std::int16_t{0}).first;
  if (found->second == std::numeric_limits<std::int16_t>::max()) {
    throw RequestFailure("sequência de itens esgotada na venda " + Number(sale));
  }
  return ++found->second;
}

std::int16_t OrderWriter::WriteLine(std::int32_t sale, const Line& line) {
  const Product& product = FindProduct(line.code);
  const CustomerRecord& customer = customers_.at(sale);
  const TaxRule& rule = FindRule(product, customer, line.code);
  const LineTaxes taxes = ComputeLineTaxes(rule, line.unit_price * line.quantity, product.ipi_rate);
  const std::int16_t sequence = NextLine(sale);

  SaleItemInput input;
  input.nr_orc_loc = sale;
  input.id_seq = sequence;
  input.id_mat_pro = product.id;
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
  input.id_pes_atd = order_.operador;
  input.id_etb_cli = customer.establishment;
  if (line.covered) {
    input.ic_inc_pac = "S";
    input.id_usu_aut_inc_pac = order_.operador;
  }
  std::string failure;
  if (!AddSaleItem(c_.parameters, c_.clock, input, line_rows_, &failure)) {
    RefuseAfterFailure(LineNotWritten(line.code), failure);
  }
  lines_.emplace_back(sale, sequence);
  return sequence;
}

void OrderWriter::WriteOptions(std::int32_t sale, std::int16_t line, const std::vector<std::int32_t>& options) {
  for (const std::int32_t option : options) {
    option_rows_.Add({{"nr_orc_loc", sale}, {"id_seq", line}, {"id_car_pro", option}});
  }
}

void OrderWriter::WriteGathered() {
  line_rows_.Flush(db_);
  option_rows_.Flush(db_);
}

void OrderWriter::CloseSales() {
  WriteGathered();
  std::vector<std::int32_t> sales;
  std::vector<NullableText> complements;
  for (const OrderGroup& group : groups_) {
    sales.push_back(group.sale);
    complements.emplace_back(Number(group.sale));
  }
  // The lines to total and the numbers of the audit rows, read together.
  std::vector<DatabaseSession::Statement> reads = CommandLogReads(static_cast<int>(sales.size()));
  const std::size_t lines_at = reads.size();
  reads.push_back(SaleLinesRead(db_, sales));
  for (DatabaseSession::Statement& read : mode_.ClosingReads(groups_)) reads.push_back(std::move(read));
  std::vector<Recordset> results = db_.Queries(reads);
  mode_.Closed(std::vector<Recordset>(results.begin() + static_cast<std::ptrdiff_t>(lines_at) + 1, results.end()),
               groups_);
  // A database failure or an overflow of the totals throws: a failure of
  // the request, not a refusal.
  WriteSaleTotals(db_, c_.clock, sales, results[lines_at], order_.operador);
  for (const OrderGroup& group : groups_) mode_.LinkSale(group);
  WriteCommandLogs(db_, c_.clock, "ORCAMENTO", complements, results.data());
}

void RemoveItems(pugi::xml_document& request) {
  for (const pugi::xpath_node& found : request.select_nodes("//item")) {
    pugi::xml_node item = found.node();
    item.parent().remove_child(item);
  }
}

// "Pedido NÃO gravado:\n<cause>\nEnvie novamente." for a failure before the
// commit: a database held by the back office, a database that failed, or
// the request's own fault as logged (cut to what a handheld shows).
std::string NotRecorded(const std::exception& failure) {
  constexpr std::size_t kShownCause = 60;
  std::string cause = "erro interno.";
  if (const auto* database = dynamic_cast<const DatabaseError*>(&failure)) {
    if (database->Busy()) return kNotRecordedBusy;
    cause = "falha no banco de dados.";
  } else if (dynamic_cast<const RequestFailure*>(&failure) != nullptr) {
    cause = FirstCharacters(failure.what(), kShownCause);
  }
  return "Pedido NÃO gravado:\\n" + cause + "\\nEnvie novamente.";
}

void SetMessage(pugi::xml_node pedido, const std::string& message) {
  if (pugi::xml_attribute attribute = pedido.attribute("mensagem")) attribute.set_value(message.c_str());
}

}  // namespace

std::string SaleList(const std::vector<OrderGroup>& groups) {
  std::string list;
  for (const OrderGroup& group : groups) {
    if (!list.empty()) list += ',';
    list += Number(group.sale);
  }
  return list;
}

void HandleOrder(Context& context, pugi::xml_document& request, OrderMode& mode) {
  pugi::xml_node pedido = request.select_node("//pedido").node();
  if (!pedido) return;
  bool committed = false;
  bool resent = false;
  RunHandler(
      context, "pedido",
      [&]() {
        const OrderRequest order = ReadOrderRequest(request, pedido, mode.Attributes());
        std::vector<OrderGroup> groups;
        OrderPrinting printing;
        std::vector<Recordset> print_rows;
        bool print_read = false;
        {
          TransactionGuard transaction(context.db);
          mode.FindTarget(order);
          // An unknown place is refused by its message whatever the header
          // holds. By comanda the header is only looked at for a stamp.
          if (order.header_without_stamp && mode.Attributes() == OrderAttributes::Table) {
            throw RequestFailure("atributo ausente: header/datahora");
          }
          // An order accepted for the place or comanda earlier in the day,
          // sent again: it is stored, so it is answered as stored, and applied
          // once. Read with the products and what the mode needs.
          OrderWriter writer(context, mode, order);
          std::vector<DatabaseSession::Statement> reads = mode.OpeningReads(order);
          const std::size_t own = reads.size();
          reads.push_back(writer.ProductsRead());
          if (!order.stamp.empty()) reads.push_back(AcceptedStampRead(mode.Owner(), order.stamp));
          std::vector<Recordset> results = context.db.Queries(reads);
          resent = !order.stamp.empty() && !results.back().Eof();
          if (!resent) {
            writer.TakeProducts(std::move(results[own]));
            results.resize(own);
            mode.Opened(std::move(results));
            writer.WriteItems();
            writer.CloseSales();
            groups = writer.groups();
            mode.Finish(order, groups);
            RecordPrintIntent(context.db, context.parameters.BusinessDay, writer.lines());
            if (!order.stamp.empty()) RecordAcceptedStamp(context.db, mode.Owner(), order.stamp, context.clock);
            // What printing reads first goes with the commit: one wait less.
            printing = mode.PreparePrinting(groups);
            print_read = transaction.Commit(printing.reads, print_rows);
          }
        }
        if (resent) {
          committed = true;
          RemoveItems(request);
          return;
        }
        // Committed: from here on the order is stored whatever happens.
        committed = true;
        mode.Committed(order);
        RemoveItems(request);
        if (!mode.Print(groups, printing, print_read ? &print_rows : nullptr)) SetMessage(pedido, kNotPrinted);
      },
      [&](const std::string& message) {
        SetMessage(pedido, message);
        RemoveItems(request);
      },
      [&](const std::exception& failure) {
        if (committed) {
          // Stored; only what follows the commit (printing) failed.
          RemoveItems(request);
          SetMessage(pedido, kNotPrinted);
          return;
        }
        // Nothing was stored: the items stay and the waiter reads so, with
        // the cause where it helps.
        SetMessage(pedido, NotRecorded(failure));
      });
  // The first copy may have been cut short between its commit and its
  // tickets: what it left unprinted goes out now.
  if (resent) {
    const PendingPrintOutcome outcome = PrintPendingItems(context);
    if (outcome.Attempted()) context.op.LogEvent(outcome.Describe());
  }
}

}  // namespace orba
