#pragma once
// The customer that new sales copy (CurrentCustomer) and the three ways of
// filling it: the walk-in customer of the establishment, the customer of a
// sale open on an associated place (hotel room), and the customer of a
// comanda.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/database.h"
#include "orders/input_value.h"

namespace orba {

class Operator;

// Each load overwrites it. Ids are kept as text ("" for Null) because they go
// into statements as they were read; InputValue checks they are numbers.
struct CustomerRecord {
  std::string name;               // nm_pes_cpl / nm_pes_cli
  std::string person;             // id_pes
  std::string state;              // id_uf
  std::string municipality;       // id_mun
  std::string product_use;        // id_uti_pro
  std::string billing_address;    // id_end_geo_fat
  std::string delivery_address;   // id_end_geo_etg
  std::string collection_address; // id_end_geo_cob
  std::string company_type;       // id_tip_emp
  std::string establishment;      // id_etb_cli
  std::string invoice_type;       // id_tip_nf
  std::string ipi_contributor;    // ic_ctb_ipi, "S" or "N"
  std::string requesting_user;    // id_usu_req of a new sale
};

inline constexpr const char* kCustomerTitle = "AVISO";
inline constexpr const char* kPlaceCustomerTitle = "OrbaPDA";
inline constexpr const char* kComandaCustomerNotFound =
    "Cliente não encontrado relacionado a esta comanda/cartão";
inline constexpr const char* kPlaceCustomerNotFound = "Erro ao encontrar os dados do Cliente.";
// The box shown when the establishment has no walk-in customer.
std::string ConsumerCustomerMissingText();

// The first row of consumidor. Without one: the box above, the record
// cleared, false. Database failures throw DatabaseError.
bool LoadConsumerCustomer(DatabaseSession& db, Operator& op, CustomerRecord& customer);
// Its read, for a caller that sends it with its other reads
// (DatabaseSession::Queries), and the same outcome taken from its rows.
DatabaseSession::Statement ConsumerCustomerStatement();
bool ReadConsumerCustomer(const Recordset& rs, Operator& op, CustomerRecord& customer);

// The customer of a sale open on the place `place` (a hotel room). Product
// use, invoice type and IPI contributor are left as they are. Without one:
// "Erro ao encontrar os dados do Cliente.", the record cleared but for those
// three, false. Database failures throw DatabaseError.
bool LoadPlaceCustomer(DatabaseSession& db, Operator& op, CustomerRecord& customer,
                       std::int32_t place);

// The customer of the existing sale `sale`, so that every line of a sale is
// written (and taxed) for the customer its first line was: the walk-in
// customer `walk_in` when the sale is the walk-in customer's (same
// establishment); otherwise the customer of the sale's establishment, with
// the sale's own invoice type and product use. False, with nothing shown,
// when the sale has no such customer. Database failures throw DatabaseError.
bool LoadSaleCustomer(DatabaseSession& db, const CustomerRecord& walk_in, std::int32_t sale,
                      CustomerRecord& customer);
// The same for several sales in one read, for a caller that sends it with its
// other reads (DatabaseSession::Queries): the customers by sale, without the
// sales that have no such customer.
DatabaseSession::Statement SaleCustomersStatement(const DatabaseSession& db, const std::vector<long long>& sales);
std::map<std::int32_t, CustomerRecord> ReadSaleCustomers(Recordset& rs, const CustomerRecord& walk_in);

// With a sale number: the customer of that sale. Without one: the customer
// `person` (any customer when it is empty too), the one with the lowest
// establishment id. Without a row: "Cliente não encontrado relacionado a esta
// comanda/cartão", the record cleared but for the IPI contributor, false. A
// sale or person that is not a number, or a database failure, throws
// DatabaseError.
bool LoadComandaCustomer(DatabaseSession& db, Operator& op, CustomerRecord& customer,
                         const InputValue& sale_number, const InputValue& person);

}  // namespace orba
