#pragma once
// The order (PEM) a handheld sends, read and checked as a whole before anything
// is written: a text where a number belongs, a missing attribute or an absurd
// value is found before the transaction begins.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace orba {

// Lines (items and accompaniments) of one order at most. A handheld sends a
// few dozen; thousands are a fault or an attack, and would hold every other
// handheld up while they are written and printed.
inline constexpr std::size_t kMaxOrderLines = 500;

// Quantities and prices a handheld can sensibly send; anything else is a
// typing slip that must not become a sale.
inline constexpr double kMaxQuantity = 9999;
inline constexpr double kMaxPrice = 999999.99;

struct OrderSide {  // an accompaniment ("acomp")
  std::string code;
  double price = 0;
  double quantity = 0;
};

struct OrderItem {
  std::int32_t position = 0;
  std::int32_t associated_place = 0;  // idlocalass (table mode)
  std::int32_t account_type = 0;      // tpconta (table mode)
  std::string code;
  double price = 0;
  double quantity = 0;
  std::vector<std::int32_t> options;  // "caract" codes
  std::vector<OrderSide> sides;
};

struct OrderRequest {
  std::string mesa;       // table name, or comanda number, as sent
  std::string operador;   // the waiter: a whole number, as decimal text
  long long pessoas = 0;  // people at the table (table mode); 0 when not given
  std::string stamp;      // header/datahora; empty when the request has none
  bool header_without_stamp = false;  // a header that lacks datahora
  std::vector<OrderItem> items;
};

// Which attributes the service mode reads: table mode reads pessoas and each
// item's idlocalass and tpconta, comanda mode does not.
enum class OrderAttributes { Table, Comanda };

// Reads `pedido` (and the document's first `header`). A missing attribute, a
// text where a whole number is read, or a number out of range throws
// RequestFailure; a position below 1, a quantity or price outside its range
// or more than kMaxOrderLines lines throws Refusal with the waiter's message.
OrderRequest ReadOrderRequest(const pugi::xml_document& request, const pugi::xml_node& pedido,
                              OrderAttributes attributes);

}  // namespace orba
