#pragma once
// Position of a table or comanda (POM): everything ordered so far, item by
// item with its options and accompaniments, and the totals with the service
// charge and the amount per person. The answer is a document of its own,
// `<POM>`, written line by line into a work file in the answer folder and
// loaded from there into the request document, which it replaces.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "common/clock.h"
#include "common/context.h"
#include "common/database.h"

namespace orba {

enum class PositionMode {
  Table,    // places of `local`, sales by seat position; options with their description
  Comanda,  // numbered comandas; every item at position 1; options by code only
};

// Written into the request's `mensagem` when the sales cannot be totalled.
inline constexpr std::string_view kTotalsFailed = "Erro na Totalização.\\ndo(s) orçamento(s).";

// The request's `pedido` attributes that the answer repeats.
struct PositionRequest {
  std::string tipo;
  std::string mesa;
  std::string ic_tip_tra;
  std::string operador;
};

struct PositionSale {
  long long number = 0;    // nr_orc_loc
  long long position = 1;  // written on each of its items
};

// The table or comanda as the status check of its mode found it.
struct PositionPlace {
  bool listed = false;      // false: not found or inactive, there is nothing to list
  std::string status;
  std::string message;
  std::string environment;  // table mode only
  std::int16_t people = 1;  // at least 1
  long long key = 0;         // local.id_loc of the table, or the comanda's number
  bool sales_decide = true;  // a finalized or locked sale may still change the status
  // Read by ReadPositionContents:
  std::vector<PositionSale> sales;  // in the order they are shown
  // Read with the sales: the sales' own rows, their lines, their options, the
  // service rate and the sums of the sale rows; empty when not listed.
  // PositionText lays them out.
  std::vector<Recordset> contents;
};

// The table named `mesa` and its status, up to what its sales may change.
// Database failures throw.
PositionPlace FindTablePosition(DatabaseSession& db, std::string_view mesa);
// The comanda numbered `mesa` and its status, up to what its sales may
// change; the check may open it. A number that is not a whole number from 1
// up, and database failures, throw.
PositionPlace FindComandaPosition(DatabaseSession& db, std::string_view mesa);

// The sales of a listed place with everything the position shows, in one
// round trip; the first finalized or locked sale decides the status, as in
// CheckTableStatus and CheckComanda. Database failures throw.
void ReadPositionContents(DatabaseSession& db, PositionMode mode, PositionPlace& place);

// The text of the work file from what ReadPositionContents read: ISO-8859-1,
// one element per line, each line ended by CR LF; amounts with
// `decimal_separator`. Nothing when the sales of the place cannot be
// totalled. Conversion failures throw DatabaseError.
std::optional<std::string> PositionText(const LocalTime& now, char decimal_separator, PositionMode mode,
                                        const PositionRequest& request, const PositionPlace& place);

// Name of the work file of the request in work: its stem and ".prc". Never a
// name the handhelds collect (they take only NAME.Xml).
std::string PositionWorkFileName(std::string_view stem);

// POM in table mode. Writes `pessoas` into the request's first `pedido`, and
// when the place has a position replaces the request by the `<POM>` document.
// A failure leaves the request as it stands and no work file behind; a totals
// failure answers the request without its items and with `mensagem`.
void HandleTablePosition(Context& context, pugi::xml_document& request);
// POM in comanda mode, the same way; the check may open the comanda.
void HandleComandaPosition(Context& context, pugi::xml_document& request);

}  // namespace orba
