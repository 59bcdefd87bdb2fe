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
  bool Print(const std::vector<OrderGroup>& groups) override;

 private:
  std::int32_t FirstLinkedSale();
  const CustomerRecord& WalkIn(const char* refusal);

  Context& c_;
  DatabaseSession& db_;
  long long number_ = 0;
  InputValue person_;  // controle_comanda.ID_PES_CLI; absent when Null
  std::optional<std::int32_t> linked_sale_;
  bool sales_checked_ = false;
  std::optional<CustomerRecord> walk_in_;
  std::optional<CustomerRecord> new_sale_customer_;
};

void ComandaOrderMode::FindTarget(const OrderRequest& order) {
  const auto number = ParseComandaNumber(order.mesa);
  if (!number) throw RequestFailure("número de comanda inválido: mesa=\"" + order.mesa + "\"");
  number_ = *number;
  db_.SqlClear();
  db_.SqlAppend("Select ");
  db_.SqlAppend("   CC.ID_PES_CLI");
  db_.SqlAppend("From ");
  db_.SqlAppend("   CONTROLE_COMANDA            CC");
  // Held until the order ends, like a table's row.
  db_.SqlAppend("Where CC.NR_CMD      = " + Number(number_) + db_.ForUpdate());
  Recordset rs = db_.Query(db_.SqlText());
  if (rs.Eof()) throw Refusal(kComandaNotOpen);
  person_ = InputValue::FromField(rs.Field("ID_PES_CLI"));
}

// The links are written when the order closes its sales, so the first linked
// sale is the same for every group of the order: it is read once.
std::int32_t ComandaOrderMode::FirstLinkedSale() {
  if (!linked_sale_) {
    db_.SqlClear();
    db_.SqlAppend("Select ");
    db_.SqlAppend("   VD.NR_ORC_LOC");
    db_.SqlAppend(",  VD.ID_ETB_CLI");
    db_.SqlAppend("From ");
    db_.SqlAppend("   CONTROLE_COMANDA_ORCAMENTO  CCO");
    db_.SqlAppend(",  VENDA_DIRETA                VD");
    db_.SqlAppend("Where CCO.NR_CMD     = " + Number(number_));
    db_.SqlAppend("  And CCO.NR_ORC_LOC = VD.NR_ORC_LOC");
    db_.SqlAppend("Order By CCO.NR_ORC_LOC");
    Recordset rs = db_.Query(db_.SqlText());
    linked_sale_ = rs.Eof() ? 0 : rs.Field("NR_ORC_LOC").Int32();
  }
  return *linked_sale_;
}

std::int32_t ComandaOrderMode::SaleOfGroup(const OrderItem& item, const std::vector<OrderGroup>& groups) {
  if (const std::int32_t linked = FirstLinkedSale(); linked != 0) return linked;
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
  if (sales_checked_) return;
  if (const auto blocked = FirstBlockedSaleOfComanda(db_, number_)) throw Refusal(blocked->message);
  sales_checked_ = true;
}

// Product use and invoice type of a new sale are the walk-in customer's, as
// the service loaded it at start-up; the rest comes from the comanda's person.
const CustomerRecord& ComandaOrderMode::WalkIn(const char* refusal) {
  if (!walk_in_) {
    CustomerRecord customer;
    if (!LoadConsumerCustomer(db_, c_.op, customer)) throw Refusal(refusal);
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
  db_.SqlClear();
  db_.SqlAppend("Select ");
  db_.SqlAppend("   CCO.NR_CMD");
  db_.SqlAppend("From ");
  db_.SqlAppend("   CONTROLE_COMANDA_ORCAMENTO  CCO");
  db_.SqlAppend("where CCO.NR_CMD      = " + Number(number_));
  db_.SqlAppend("  And CCO.NR_ORC_LOC = " + Number(group.sale));
  if (!db_.Query(db_.SqlText()).Eof()) return;
  db_.SqlClear();
  db_.SqlAppend("Insert into CONTROLE_COMANDA_ORCAMENTO (NR_CMD, NR_ORC_LOC) values (" + Number(number_) + "," +
                Number(group.sale) + ")");
  db_.ExecuteSql(db_.SqlText());
}

// Each sale of a comanda is printed on its own; the first that fails ends
// the printing (the rest stay unprinted and go out with the next order).
bool ComandaOrderMode::Print(const std::vector<OrderGroup>& groups) {
  for (const OrderGroup& group : groups) {
    if (!RouteOrderPrinting(c_, Number(group.sale))) return false;
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
