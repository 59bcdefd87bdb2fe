#pragma once
// What the order transactions of both service modes share: the request read
// and checked, one transaction, each group of consecutive items of the same
// position written into its sale (lines with their taxes, options and
// accompaniments), totals, links and audit rows, the resend guard, printing
// after the commit, and the refusal and failure answers. A service mode says
// only where the sales are and who their customer is.

#include <cstdint>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "common/context.h"
#include "common/database.h"
#include "orders/customer.h"
#include "orders/order_request.h"
#include "orders/order_stamp.h"
#include "printing/routing.h"

namespace orba {

// Messages of an order answer ("\n" written as the two characters).
inline constexpr const char* kNoSaleNumber = "Erro ao selecionar\\num numero novo\\nde orçamento.";
inline constexpr const char* kSaleNotWritten = "Erro ao inserir\\num orçamento.";
inline constexpr const char* kNotPrinted = "Erro ao finalizar\\no último orçamento.";
inline constexpr const char* kCustomerNotFound = "Erro ao selecionar os dados do cliente.";
// A failure before the commit: nothing was stored, sending again is safe.
// Here the back office held the database longer than a handheld can wait.
inline constexpr const char* kNotRecordedBusy =
    "Pedido NÃO gravado:\\nbanco de dados ocupado.\\nEnvie novamente.";

// Consecutive items of one position, written into one sale.
struct OrderGroup {
  std::int32_t sale = 0;
  std::int32_t position = 0;
  std::int32_t associated_place = 0;
  std::int32_t account_type = 0;
};

class OrderMode {
 public:
  virtual ~OrderMode() = default;

  virtual OrderAttributes Attributes() const = 0;
  // Finds the place or comanda of the order, inside the order's transaction;
  // throws Refusal when it cannot take orders.
  virtual void FindTarget(const OrderRequest& order) = 0;
  // Reads the mode needs once the target is found, sent with the order's own
  // first reads; Opened gets their rows, in the same order.
  virtual std::vector<DatabaseSession::Statement> OpeningReads(const OrderRequest&) { return {}; }
  virtual void Opened(std::vector<Recordset>) {}
  // The customer that most sales of the order are written for, when it is
  // known once the target is found (the walk-in customer at a table): the tax
  // rules of its products are read with the draw. Null when there is none.
  virtual const CustomerRecord* LikelyCustomer() { return nullptr; }
  // Reads about the open sales the order adds to, sent with the draw of the
  // new sale numbers; OpenSalesRead gets their rows, in the same order.
  virtual std::vector<DatabaseSession::Statement> OpenSalesReads(const std::vector<long long>&) { return {}; }
  virtual void OpenSalesRead(std::vector<Recordset>) {}
  // Reads sent with the order's closing reads, once every line is written;
  // Closed gets their rows before the sales are totalled and linked, and
  // throws Refusal when the order must not be stored.
  virtual std::vector<DatabaseSession::Statement> ClosingReads(const std::vector<OrderGroup>&) { return {}; }
  virtual void Closed(std::vector<Recordset>, const std::vector<OrderGroup>&) {}
  // Whose resend stamp the order carries (known once the target is found).
  virtual StampOwner Owner() const = 0;
  // The open sale that a group starting with `item` adds to; 0 for a new
  // sale. `groups` are the groups of this order so far.
  virtual std::int32_t SaleOfGroup(const OrderItem& item, const std::vector<OrderGroup>& groups) = 0;
  // An existing sale is about to get more lines: throws Refusal when it
  // must not (finalized or locked).
  virtual void CheckExistingSale(std::int32_t sale) = 0;
  // The customer of a new sale for the group starting with `item`, and of an
  // existing sale; both throw Refusal when there is none.
  virtual CustomerRecord CustomerOfNewSale(const OrderItem& item) = 0;
  virtual CustomerRecord CustomerOfSale(std::int32_t sale) = 0;
  // Whether an item is included in a guest package (price 0).
  virtual bool Covered(const OrderItem& item) = 0;
  // Whether Covered reads the database for the item: the lines of the order
  // gathered so far are written before it.
  virtual bool CoverageReads(const OrderItem&) const { return false; }
  // Links a sale of the order to its place or comanda (once per sale).
  virtual void LinkSale(const OrderGroup& group) = 0;
  // After every sale is written and linked, before the commit.
  virtual void Finish(const OrderRequest& order, const std::vector<OrderGroup>& groups) = 0;
  // After the commit, before printing.
  virtual void Committed(const OrderRequest& order) = 0;
  // The order's printing, prepared before the commit: what it reads first
  // goes with the commit. Nothing by default.
  virtual OrderPrinting PreparePrinting(const std::vector<OrderGroup>&) { return {}; }
  // Prints the order as prepared; false when some printing failed (already
  // reported). `read` holds the rows of the prepared reads when they were
  // read with the commit.
  virtual bool Print(const std::vector<OrderGroup>& groups, const OrderPrinting& prepared,
                     std::vector<Recordset>* read) = 0;
};

// Runs the order in `request` (its first `pedido`) through `mode` and turns
// the document into the answer: items removed and `mensagem` as sent on
// success, and on a resend of an order accepted earlier in the business day
// (it is stored); items removed and the refusal's message on a refusal; items
// kept and "Pedido NÃO gravado:\n<cause>\nEnvie novamente." after any
// failure before the commit.
void HandleOrder(Context& context, pugi::xml_document& request, OrderMode& mode);

// The sale list handed to printing: the sale numbers joined by ",".
std::string SaleList(const std::vector<OrderGroup>& groups);

}  // namespace orba
