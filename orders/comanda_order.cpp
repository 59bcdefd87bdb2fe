#include "orders/comanda_order.h"

#include <limits>
#include <optional>
#include <string>

#include "common/database.h"
#include "common/text.h"
#include "exchange/failure_path.h"
#include "orders/customer.h"
#include "orders/order_core.h"
#include "orders/sale_state.h"
#include "printing/routing.h"

namespace orba {

namespace {

// An order for a number that the status transaction has not opened: there is
// nobody to write the sale for, and opening it here would skip the blocks and
// ranges the back office set.
constexpr const char* kComandaNotOpen = "Erro no Pedido.\\nComanda não aberta.";
constexpr const char* kNewSaleCustomerNotFound = "Erro ao selecionar os dados do cliente. Transação Inclusao";
constexpr const char* kSaleCustomerNotFound = "Erro ao selecionar os dados do cliente. Transação Alteracao";

std::string Number(long long value) { return std::to_string(value); }

// The sales of a comanda, linked in controle_comanda_orcamento. Every line of
// a later order goes into its first sale, whatever the position.
class ComandaOrderMode final : public OrderMode {
 public:
  explicit ComandaOrderMode(Context& context) : c_(context), db_(context.db) {}

  OrderAttributes Attributes() const override { return OrderAttributes::Comanda; }
  void FindTarget(const OrderRequest& order) override;
  StampOwner Owner() const override { return StampOwner::Comanda(number_); }
  std::int32_t SaleOfGroup(const OrderItem& item, const std::vector<OrderGroup>& groups) override;
  void CheckExistingSale(std::int32_t sale) override;
  CustomerRecord CustomerOfNewSale(const OrderItem& item) override;
  CustomerRecord CustomerOfSale(std::int32_t sale) override;
  bool Covered(const OrderItem&) override { return false; }  // no packages by comanda
  void LinkSale(const OrderGroup& group) override;
  void Finish(const OrderRequest&, const std::vector<OrderGroup>&) override {}
  void Committed(const OrderRequest&) override {}
  OrderPrinting PreparePrinting(const std::vector<OrderGroup>& groups) override;
  bool Print(const std::vector<OrderGroup>& groups, const OrderPrinting& prepared,
             std::vector<Recordset>* read) override;

 private:
  const CustomerRecord& WalkIn(const char* refusal);

  Context& c_;
  DatabaseSession& db_;
  long long number_ = 0;
  InputValue person_;  // controle_comanda.ID_PES_CLI; absent when Null
  // The links are written when the order closes its sales, and the back
  // office cannot finalize or lock a linked sale while the order holds it:
  // the first linked sale (0: none) and the first blocked one are the same
  // throughout the order.
  std::int32_t linked_sale_ = 0;
  std::optional<BlockedSale> blocked_sale_;
  Recordset consumer_;  // the walk-in customer's row, read when needed
  std::optional<CustomerRecord> walk_in_;
  std::optional<CustomerRecord> new_sale_customer_;
};

void ComandaOrderMode::FindTarget(const OrderRequest& order) {
  const auto number = ParseComandaNumber(order.mesa);
  if (!number) throw RequestFailure("número de comanda inválido: mesa=\"" + order.mesa + "\"");
  number_ = *number;
  // Everything the order reads of the comanda, at once.
  std::vector<Recordset> reads = db_.Queries({
      // Held until the order ends, like a table's row.
      {"Select\r"
       "   CC.ID_PES_CLI\r"
       "From\r"
       "   CONTROLE_COMANDA            CC\r"
       "Where CC.NR_CMD      = $1" +
           std::string(db_.ForUpdate()),
       {number_}},
      {"Select\r"
       "   VD.NR_ORC_LOC\r"
       ",  VD.ID_ETB_CLI\r"
       "From\r"
       "   CONTROLE_COMANDA_ORCAMENTO  CCO\r"
       ",  VENDA_DIRETA                VD\r"
       "Where CCO.NR_CMD     = $1\r"
       "  And CCO.NR_ORC_LOC = VD.NR_ORC_LOC\r"
       "Order By CCO.NR_ORC_LOC",
       {number_}},
      SalesOfComandaStatement(db_, number_),
      ConsumerCustomerStatement(),
  });
  if (reads[0].Eof()) throw Refusal(kComandaNotOpen);
  person_ = InputValue::FromField(reads[0].Field("ID_PES_CLI"));
  linked_sale_ = reads[1].Eof() ? 0 : reads[1].Field("NR_ORC_LOC").Int32();
  blocked_sale_ = FirstBlockedSale(reads[2]);
  consumer_ = std::move(reads[3]);
}

std::int32_t ComandaOrderMode::SaleOfGroup(const OrderItem& item, const std::vector<OrderGroup>& groups) {
  if (linked_sale_ != 0) return linked_sale_;
  // A fresh comanda: a position met again further down the same order goes
  // on with the sale it was given there.
  for (const OrderGroup& group : groups) {
    if (group.position == item.position) return group.sale;
  }
  return 0;
}

void ComandaOrderMode::CheckExistingSale(std::int32_t) {
  // Lines added to a sale the back office has finalized would change a bill
  // already closed; a locked sale is being worked on at a workstation.
  if (blocked_sale_) throw Refusal(blocked_sale_->message);
}

// Product use and invoice type of a new sale are the walk-in customer's, as
// the service loaded it at start-up; the rest comes from the comanda's person.
const CustomerRecord& ComandaOrderMode::WalkIn(const char* refusal) {
  if (!walk_in_) {
    CustomerRecord customer;
    if (!ReadConsumerCustomer(consumer_, c_.op, customer)) throw Refusal(refusal);
    walk_in_ = std::move(customer);
  }
  return *walk_in_;
}

CustomerRecord ComandaOrderMode::CustomerOfNewSale(const OrderItem&) {
  if (!new_sale_customer_) {
    CustomerRecord customer = WalkIn(kNewSaleCustomerNotFound);
    if (!LoadComandaCustomer(db_, c_.op, customer, InputValue(), person_)) {
      throw Refusal(kNewSaleCustomerNotFound);
    }
    new_sale_customer_ = std::move(customer);
  }
  return *new_sale_customer_;
}

CustomerRecord ComandaOrderMode::CustomerOfSale(std::int32_t sale) {
  CustomerRecord customer = WalkIn(kSaleCustomerNotFound);
  if (!LoadComandaCustomer(db_, c_.op, customer, InputValue(sale), person_)) throw Refusal(kSaleCustomerNotFound);
  return customer;
}

void ComandaOrderMode::LinkSale(const OrderGroup& group) {
  // Linked once, whatever number of orders add to the sale; nothing to read
  // back, so the write waits for the server with the order's others.
  db_.ExecuteSql(
      "Insert into CONTROLE_COMANDA_ORCAMENTO (NR_CMD, NR_ORC_LOC)\r"
      "select cast($1 as integer), cast($2 as integer)\r"
      "where not exists (select 1 from CONTROLE_COMANDA_ORCAMENTO CCO\r"
      "                  where CCO.NR_CMD = $1 And CCO.NR_ORC_LOC = $2)",
      {number_, group.sale});
}

// Prepared for the first sale: its reads go with the commit, and the
// settings serve every sale.
OrderPrinting ComandaOrderMode::PreparePrinting(const std::vector<OrderGroup>& groups) {
  if (groups.empty()) return {};
  return PrepareOrderPrinting(c_, Number(groups.front().sale));
}

// Each sale of a comanda is printed on its own (the first with what was read
// with the commit); the first that fails ends the printing (the rest stay
// unprinted and go out with the next order).
bool ComandaOrderMode::Print(const std::vector<OrderGroup>& groups, const OrderPrinting& prepared,
                             std::vector<Recordset>* read) {
  for (const OrderGroup& group : groups) {
    if (!RouteOrderPrinting(c_, Number(group.sale), &prepared, read)) return false;
    read = nullptr;
  }
  return true;
}

}  // namespace

std::optional<long long> ParseComandaNumber(std::string_view text) {
  const auto number = ParseInteger(text);
  if (!number || *number < 1 || *number > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return number;
}

void HandleComandaOrder(Context& context, pugi::xml_document& request) {
  ComandaOrderMode mode(context);
  HandleOrder(context, request, mode);
}

}  // namespace orba
