#include "orders/table_order.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "common/database.h"
#include "common/operator.h"
#include "common/sql_text.h"
#include "exchange/failure_path.h"
#include "orders/customer.h"
#include "orders/datahora.h"
#include "orders/order_core.h"
#include "orders/package_rules.h"
#include "orders/sale_state.h"
#include "printing/routing.h"

namespace orba {

namespace {

constexpr const char* kPlaceNotFound = "Erro no Pedido.\\nLocal não encontrado.";
// The back office moved a position of the table to another sale meanwhile.
constexpr const char* kPositionsChanged =
    "Pedido NÃO gravado:\\nposições da mesa\\nalteradas no caixa.\\nEnvie novamente.";

std::vector<long long> Numbers(const std::set<std::int32_t>& numbers) {
  return std::vector<long long>(numbers.begin(), numbers.end());
}

// The sales of a table: one per seat position, linked in local_vnd.
class TableOrderMode final : public OrderMode {
 public:
  explicit TableOrderMode(Context& context) : c_(context), db_(context.db) {}

  OrderAttributes Attributes() const override { return OrderAttributes::Table; }
  void FindTarget(const OrderRequest& order) override;
  std::vector<DatabaseSession::Statement> OpeningReads(const OrderRequest& order) override;
  void Opened(std::vector<Recordset> rows) override;
  std::vector<DatabaseSession::Statement> OpenSalesReads(const std::vector<long long>& sales) override;
  void OpenSalesRead(std::vector<Recordset> rows) override;
  std::vector<DatabaseSession::Statement> ClosingReads(const std::vector<OrderGroup>& groups) override;
  void Closed(std::vector<Recordset> rows, const std::vector<OrderGroup>& groups) override;
  StampOwner Owner() const override { return StampOwner::Place(id_loc_); }
  std::int32_t SaleOfGroup(const OrderItem& item, const std::vector<OrderGroup>& groups) override;
  void CheckExistingSale(std::int32_t sale) override;
  CustomerRecord CustomerOfNewSale(const OrderItem& item) override;
  CustomerRecord CustomerOfSale(std::int32_t sale) override;
  const CustomerRecord* LikelyCustomer() override { return &WalkIn(); }
  bool Covered(const OrderItem& item) override;
  bool CoverageReads(const OrderItem& item) const override;
  void LinkSale(const OrderGroup& group) override;
  void Finish(const OrderRequest& order, const std::vector<OrderGroup>& groups) override;
  void Committed(const OrderRequest& order) override;
  OrderPrinting PreparePrinting(const std::vector<OrderGroup>& groups) override;
  bool Print(const std::vector<OrderGroup>& groups, const OrderPrinting& prepared,
             std::vector<Recordset>* read) override;

 private:
  const CustomerRecord& WalkIn();
  void MarkPlaceServed(long long pessoas);
  // The links of the table's sales on `positions`.
  DatabaseSession::Statement PositionLinksRead(const std::set<std::int32_t>& positions) const;

  Context& c_;
  DatabaseSession& db_;
  std::int32_t id_loc_ = 0;
  std::int32_t id_amb_ = 0;
  bool new_sale_per_order_ = false;  // local.ic_pap_fil = "S"
  bool sales_checked_ = false;
  std::optional<CustomerRecord> walk_in_;
  // Read with the order's first reads, and looked at when first needed: the
  // walk-in customer and the state of the table's sales.
  Recordset consumer_;
  Recordset sales_of_place_;
  // The customers of the open sales the order adds to, read with the draw.
  std::optional<Recordset> sale_customers_rows_;
  std::optional<std::map<std::int32_t, CustomerRecord>> sale_customers_;
  PackageCoverageMemo package_memo_;
  // nr_pos_com and nr_orc_loc of the table's sales on the order's positions,
  // by sale number.
  std::vector<std::pair<double, Value>> position_sales_;
};

void TableOrderMode::FindTarget(const OrderRequest& order) {
  // Held until the order ends: the back office's change of the table (its
  // state, its people, a transfer) waits for the order or comes first.
  Recordset rs = db_.Query("Select l.id_loc, l.ic_pap_fil, l.id_amb from local l where " +
                               db_.NameMatches("l.nm_loc", "$1") + db_.ForUpdate(),
                           {db_.NameValue(order.mesa)});
  if (rs.Eof()) throw Refusal(kPlaceNotFound);
  id_loc_ = rs.Field("id_loc").Int32();
  id_amb_ = rs.Field("id_amb").IsNull() ? 0 : rs.Field("id_amb").Int32();
  new_sale_per_order_ = rs.Field("ic_pap_fil").Text() == "S";
}

DatabaseSession::Statement TableOrderMode::PositionLinksRead(const std::set<std::int32_t>& positions) const {
  return {"Select lv.nr_pos_com, lv.nr_orc_loc from local_vnd lv where lv.id_loc = $1 and " +
              db_.InList("lv.nr_pos_com", "$2", Value::Kind::Integer) + " order by lv.nr_orc_loc",
          {id_loc_, db_.ListOf(Numbers(positions))}};
}

std::vector<DatabaseSession::Statement> TableOrderMode::OpeningReads(const OrderRequest& order) {
  std::vector<DatabaseSession::Statement> reads{ConsumerCustomerStatement(), SalesOfPlaceStatement(db_, id_loc_),
                                                AssociatedEnvironmentStatement(id_amb_)};
  // The sales of every position of the order, read once: nothing links a
  // sale to the table before the order ends.
  if (new_sale_per_order_) return reads;
  std::set<std::int32_t> positions;
  for (const OrderItem& item : order.items) positions.insert(item.position);
  reads.push_back(PositionLinksRead(positions));
  return reads;
}

void TableOrderMode::Opened(std::vector<Recordset> rows) {
  consumer_ = std::move(rows[0]);
  sales_of_place_ = std::move(rows[1]);
  RememberAssociatedEnvironment(package_memo_, id_amb_, rows[2]);
  if (rows.size() < 4) return;
  for (Recordset& rs = rows[3]; !rs.Eof(); rs.MoveNext()) {
    position_sales_.emplace_back(rs.Field("nr_pos_com").Real(), rs.Field("nr_orc_loc"));
  }
}

std::vector<DatabaseSession::Statement> TableOrderMode::OpenSalesReads(const std::vector<long long>& sales) {
  return {SaleCustomersStatement(db_, sales)};
}

void TableOrderMode::OpenSalesRead(std::vector<Recordset> rows) { sale_customers_rows_ = std::move(rows.front()); }

std::int32_t TableOrderMode::SaleOfGroup(const OrderItem& item, const std::vector<OrderGroup>& groups) {
  if (new_sale_per_order_) return 0;
  // A position met again further down the same order goes on with the sale
  // it was given there: its link to the table is written only at the end.
  for (const OrderGroup& group : groups) {
    if (group.position == item.position) return group.sale;
  }
  // The first sale of the position.
  for (const auto& [position, sale] : position_sales_) {
    if (position == item.position) return sale.Int32();
  }
  return 0;
}

void TableOrderMode::CheckExistingSale(std::int32_t) {
  // Every sale of the table is looked at the first time: the order holds the
  // write lock, so nothing changes until it ends.
  if (sales_checked_) return;
  if (const auto blocked = FirstBlockedSale(sales_of_place_)) throw Refusal(blocked->message);
  sales_checked_ = true;
}

const CustomerRecord& TableOrderMode::WalkIn() {
  if (!walk_in_) {
    CustomerRecord customer;
    if (!ReadConsumerCustomer(consumer_, c_.op, customer)) throw Refusal(kCustomerNotFound);
    walk_in_ = std::move(customer);
  }
  return *walk_in_;
}

CustomerRecord TableOrderMode::CustomerOfNewSale(const OrderItem& item) {
  CustomerRecord customer = WalkIn();
  // A guest's order on an associated place (a hotel room) is the guest's.
  if (item.associated_place != 0 && !LoadPlaceCustomer(db_, c_.op, customer, item.associated_place)) {
    throw Refusal(kCustomerNotFound);
  }
  return customer;
}

CustomerRecord TableOrderMode::CustomerOfSale(std::int32_t sale) {
  if (!sale_customers_) {
    sale_customers_.emplace();
    if (sale_customers_rows_) *sale_customers_ = ReadSaleCustomers(*sale_customers_rows_, WalkIn());
  }
  // A sale whose customer the back office did not register in full (no
  // establishment, address or municipality to join) goes on as the walk-in
  // customer's, as it always has.
  const auto found = sale_customers_->find(sale);
  return found != sale_customers_->end() ? found->second : WalkIn();
}

bool TableOrderMode::CoverageReads(const OrderItem& item) const {
  // A guest's item, or any item on a place whose environment has associated
  // ones (or is not known yet), looks for a package.
  const auto known = package_memo_.associated_environment.find(id_amb_);
  return item.associated_place != 0 || known == package_memo_.associated_environment.end() || known->second;
}

bool TableOrderMode::Covered(const OrderItem& item) {
  return CheckPackageCoverage(db_, c_.parameters, c_.clock, item.associated_place, id_loc_, id_amb_, item.code,
                              &package_memo_);
}

void TableOrderMode::LinkSale(const OrderGroup& group) {
  // A sale already linked to the table keeps its link.
  db_.ExecuteSql(
      "Insert into local_vnd (id_loc, nr_orc_loc, nr_pos_com, id_loc_ass, id_tp_cta)"
      " select cast($1 as integer), cast($2 as integer), cast($3 as integer), cast($4 as integer),"
      " cast($5 as integer) where not exists (select 1 from local_vnd lv where lv.id_loc = $1 and lv.nr_orc_loc = $2)",
      {id_loc_, group.sale, group.position, group.associated_place, group.account_type});
}

void TableOrderMode::MarkPlaceServed(long long pessoas) {
  if (pessoas > 0) {
    db_.ExecuteSql("Update local set ic_stt_loc = 'E', qt_loc_ocu = $1 where id_loc = $2", {pessoas, id_loc_});
  } else {
    db_.ExecuteSql("Update local set ic_stt_loc = 'E' where id_loc = $1", {id_loc_});
  }
}

// The back office may have moved a position to another sale meanwhile. A
// place that opens a sale per order keeps the earlier sales of a position
// beside the new one: for it, other sales on the position are expected.
std::vector<DatabaseSession::Statement> TableOrderMode::ClosingReads(const std::vector<OrderGroup>& groups) {
  if (new_sale_per_order_ || groups.empty()) return {};
  std::set<std::int32_t> positions;
  for (const OrderGroup& group : groups) positions.insert(group.position);
  return {PositionLinksRead(positions)};
}

void TableOrderMode::Closed(std::vector<Recordset> rows, const std::vector<OrderGroup>& groups) {
  if (rows.empty()) return;
  for (Recordset& links = rows.front(); !links.Eof(); links.MoveNext()) {
    const double position = links.Field("nr_pos_com").Real();
    for (const OrderGroup& group : groups) {
      if (group.position == position && links.Field("nr_orc_loc").Int() != group.sale) throw Refusal(kPositionsChanged);
    }
  }
}

void TableOrderMode::Finish(const OrderRequest& order, const std::vector<OrderGroup>&) {
  MarkPlaceServed(order.pessoas);
}

void TableOrderMode::Committed(const OrderRequest& order) {
  // The stamp that guards against a resend is in the database already; the
  // file is kept for those who read it.
  if (order.stamp.empty()) return;
  if (!WriteDataHoraFile(c_.parameters, c_.op, order.mesa, order.stamp)) {
    LogRequestFailure(c_, "pedido", "arquivo DataHora da mesa '" + order.mesa + "' não gravado");
  }
}

OrderPrinting TableOrderMode::PreparePrinting(const std::vector<OrderGroup>& groups) {
  return PrepareOrderPrinting(c_, SaleList(groups));
}

bool TableOrderMode::Print(const std::vector<OrderGroup>& groups, const OrderPrinting& prepared,
                           std::vector<Recordset>* read) {
  return RouteOrderPrinting(c_, SaleList(groups), &prepared, read);
}

}  // namespace

void HandleTableOrder(Context& context, pugi::xml_document& request) {
  TableOrderMode mode(context);
  HandleOrder(context, request, mode);
}

}  // namespace orba
