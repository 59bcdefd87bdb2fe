#include "orders/order_request.h"

#include <limits>
#include <optional>

#include "common/text.h"
#include "exchange/failure_path.h"
#include "orders/order_stamp.h"

namespace orba {

namespace {

constexpr const char* kBadPosition = "Erro no Pedido.\\nPosição inválida.";

std::string TooManyLines() {
  return "Erro no Pedido.\\nMais de " + std::to_string(kMaxOrderLines) + " linhas.\\nDivida o pedido.";
}
std::string BadQuantity(const std::string& code) {
  return "Erro no Pedido.\\nQuantidade inválida\\nno produto " + code + ".";
}
std::string BadPrice(const std::string& code) {
  return "Erro no Pedido.\\nPreço inválido\\nno produto " + code + ".";
}

std::string Attribute(const pugi::xml_node& node, const char* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) throw RequestFailure(std::string("atributo ausente: ") + node.name() + "/" + name);
  return attribute.value();
}

std::int32_t IntegerAttribute(const pugi::xml_node& node, const char* name) {
  const std::string text = Attribute(node, name);
  const auto value = ParseInteger(text);
  if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
      *value > std::numeric_limits<std::int32_t>::max()) {
    throw RequestFailure(std::string("não é um número inteiro: ") + name + "=\"" + text + "\"");
  }
  return static_cast<std::int32_t>(*value);
}

double DecimalAttribute(const pugi::xml_node& node, const char* name) {
  const std::string text = Attribute(node, name);
  const auto value = ParseDecimal(text);
  if (!value) throw RequestFailure(std::string("não é um número: ") + name + "=\"" + text + "\"");
  return *value;
}

void CheckAmounts(const std::string& code, double price, double quantity) {
  if (!(quantity > 0 && quantity <= kMaxQuantity)) throw Refusal(BadQuantity(code));
  if (!(price >= 0 && price <= kMaxPrice)) throw Refusal(BadPrice(code));
}

}  // namespace

OrderRequest ReadOrderRequest(const pugi::xml_document& request, const pugi::xml_node& pedido,
                              OrderAttributes attributes) {
  const bool table_mode = attributes == OrderAttributes::Table;
  OrderRequest order;
  Attribute(pedido, "tipo");  // read, no effect
  order.mesa = Attribute(pedido, "mesa");
  order.operador = std::to_string(IntegerAttribute(pedido, "operador"));
  if (table_mode) {
    // The number at the start of the text; 0 when there is none.
    order.pessoas = ParseLeadingInteger(Attribute(pedido, "pessoas")).value_or(0);
    if (order.pessoas > std::numeric_limits<std::int16_t>::max()) {
      throw RequestFailure("pessoas fora do limite: " + std::to_string(order.pessoas));
    }
  }
  Attribute(pedido, "mensagem");
  if (const pugi::xml_node header = request.select_node("//header").node()) {
    if (const pugi::xml_attribute stamp = header.attribute("datahora")) {
      order.stamp = stamp.value();
      if (order.stamp.size() > kMaxStampLength) throw RequestFailure("datahora longa demais");
    } else {
      order.header_without_stamp = true;
    }
  }

  std::size_t lines = 0;
  for (const pugi::xml_node& element : pedido.children("item")) {
    lines += 1 + static_cast<std::size_t>(std::distance(element.children("acomp").begin(),
                                                        element.children("acomp").end()));
    if (lines > kMaxOrderLines) throw Refusal(TooManyLines());
  }

  for (const pugi::xml_node& element : pedido.children("item")) {
    OrderItem item;
    item.position = IntegerAttribute(element, "posicao");
    if (item.position < 1) throw Refusal(kBadPosition);
    if (table_mode) {
      item.associated_place = IntegerAttribute(element, "idlocalass");
      item.account_type = IntegerAttribute(element, "tpconta");
    }
    item.code = Attribute(element, "produto");
    item.price = DecimalAttribute(element, "preco");
    item.quantity = DecimalAttribute(element, "qtde");
    CheckAmounts(item.code, item.price, item.quantity);
    for (const pugi::xml_node& option : element.children("caract")) {
      item.options.push_back(IntegerAttribute(option, "cod"));
    }
    for (const pugi::xml_node& side_element : element.children("acomp")) {
      OrderSide side;
      side.code = Attribute(side_element, "cod");
      side.price = DecimalAttribute(side_element, "preco");
      side.quantity = DecimalAttribute(side_element, "qtde");
      CheckAmounts(side.code, side.price, side.quantity);
      item.sides.push_back(std::move(side));
    }
    order.items.push_back(std::move(item));
  }
  return order;
}

}  // namespace orba
