#include "orders/customer.h"

#include <iterator>

#include "common/database.h"
#include "common/operator.h"

namespace orba {

namespace {

std::string FieldText(const Recordset& rs, const char* name) { return rs.Field(name).Text(); }

// name empty, ids 0
void ClearProfile(CustomerRecord& customer) {
  customer.name.clear();
  customer.person = "0";
  customer.state = "0";
  customer.municipality = "0";
  customer.billing_address = "0";
  customer.delivery_address = "0";
  customer.collection_address = "0";
  customer.company_type = "0";
  customer.establishment = "0";
  customer.requesting_user.clear();
}

// The customer of a sale as the place and sale queries read it: name and
// establishment from the sale, the rest from its customer and address.
void ReadSaleProfile(const Recordset& rs, CustomerRecord& customer) {
  customer.name = FieldText(rs, "nm_pes_cli");
  customer.person = FieldText(rs, "id_pes_cli");
  customer.state = FieldText(rs, "id_uf");
  customer.municipality = FieldText(rs, "id_mun");
  customer.billing_address = FieldText(rs, "id_end_geo_fat");
  customer.delivery_address = FieldText(rs, "id_end_geo_etg");
  customer.collection_address = FieldText(rs, "id_end_geo_cob");
  customer.company_type = FieldText(rs, "id_tip_emp");
  customer.establishment = FieldText(rs, "id_etb_cli");
}

// A kept id as a number would read it back: "" stays empty; anything else
// must be a number (DatabaseError otherwise).
std::string NumberText(const std::string& value) {
  return value.empty() ? std::string() : InputValue(value).RawValue().Text();
}

// The columns of a comanda's customer, from a sale or from a person.
void ReadComandaProfile(const Recordset& rs, CustomerRecord& customer) {
  customer.name = FieldText(rs, "nm_pes_cpl");
  customer.person = FieldText(rs, "id_pes");
  customer.state = FieldText(rs, "id_uf");
  customer.municipality = FieldText(rs, "id_mun");
  customer.billing_address = FieldText(rs, "ID_END_GEO_FAT");
  customer.delivery_address = FieldText(rs, "ID_END_GEO_ETG");
  customer.collection_address = FieldText(rs, "ID_END_GEO_COB");
  customer.company_type = FieldText(rs, "id_tip_emp");
  customer.establishment = FieldText(rs, "id_etb_cli");
  customer.requesting_user.clear();
}

constexpr const char* kSaleComandaCustomer =
    "Select\r"
    "   vd.nm_pes_cli      as nm_pes_cpl\r"
    ",  c.id_pes_cli       as id_pes\r"
    ",  m.id_uf\r"
    ",  eg.id_mun\r"
    ",  vd.id_uti_pro\r"
    ",  vd.ID_END_GEO_FAT\r"
    ",  vd.ID_END_GEO_ETG\r"
    ",  vd.ID_END_GEO_COB\r"
    ",  c.id_tip_emp\r"
    ",  vd.id_etb_cli\r"
    ",  vd.id_tip_nf\r"
    "From\r"
    "   venda_direta       vd\r"
    ",  endereco_geo       eg\r"
    ",  municipio          m\r"
    ",  estabelecimento    e\r"
    ",  cliente            c\r"
    "Where vd.nr_orc_loc = $1\r"
    "  and vd.id_etb_cli = e.id_etb\r"
    "  and e.id_pes      = c.id_pes_cli\r"
    "  and e.id_etb      = eg.id_etb\r"
    "  and eg.id_mun     = m.id_mun";

// The customer of a person (any person without the last condition), the
// first establishment of it.
constexpr const char* kPersonComandaCustomer =
    "Select\r"
    "   p.nm_pes_cpl\r"
    ",  c.id_pes_cli       as id_pes\r"
    ",  m.id_uf\r"
    ",  eg.id_mun\r"
    ",  eg.id_end_geo      as ID_END_GEO_FAT\r"
    ",  eg.id_end_geo      as ID_END_GEO_ETG\r"
    ",  eg.id_end_geo      as ID_END_GEO_COB\r"
    ",  c.id_tip_emp\r"
    ",  e.id_etb           as id_etb_cli\r"
    "From\r"
    "   estabelecimento    e\r"
    ",  cliente            c\r"
    ",  pessoa             p\r"
    ",  endereco_geo       eg\r"
    ",  municipio          m\r"
    "Where e.id_pes  = c.id_pes_cli\r"
    "  and e.id_etb  = eg.id_etb\r"
    "  and eg.id_mun = m.id_mun\r"
    "  and e.id_pes  = p.id_pes\r";
constexpr const char* kOfPerson = "  and e.id_pes = $1\r";
// Only the first row is used.
constexpr const char* kFirstEstablishment = "Order by e.id_etb\rLIMIT 1";

}  // namespace

std::string ConsumerCustomerMissingText() {
  static constexpr const char* kLines[] = {
      "Parâmetro de Venda ao Consumidor não Cadastrado.     ",
      "",
      "Cadastre o parâmetro no portal web do sistema:",
      " -> Escolha o MENU: PARÂMETROS",
      " -> Escolha o TÓPICO: EMPRESA",
      " -> Escolha a OPÇÂO: PARÂMETROS DE VENDA AO CONSUMIDOR ",
      "",
      "Após o cadastramento na Web, execute a função CTRL+F5 no OrbaOffline    ",
      " -> Selecione a opção DIVERSOS",
  };
  std::string text;
  for (std::size_t i = 0; i < std::size(kLines); ++i) {
    if (i > 0) text += '\r';
    text += kLines[i];
  }
  return text;
}

DatabaseSession::Statement ConsumerCustomerStatement() { return {"Select * from consumidor", {}}; }

bool ReadConsumerCustomer(const Recordset& rs, Operator& op, CustomerRecord& customer) {
  if (rs.Eof()) {
    op.ShowMessage(ConsumerCustomerMissingText(), kCustomerTitle, MessageIcon::Critical);
    ClearProfile(customer);
    customer.product_use = "0";
    customer.invoice_type = "0";
    customer.ipi_contributor.clear();
    return false;
  }
  CustomerRecord loaded;
  loaded.name = FieldText(rs, "nm_pes_cpl");
  loaded.person = FieldText(rs, "ID_PES");
  loaded.state = FieldText(rs, "ID_UF");
  loaded.municipality = FieldText(rs, "ID_MUN");
  loaded.product_use = FieldText(rs, "ID_UTI_PRO");
  loaded.billing_address = FieldText(rs, "ID_END_GEO");
  loaded.delivery_address = loaded.billing_address;
  loaded.collection_address = loaded.billing_address;
  loaded.company_type = FieldText(rs, "ID_TIP_EMP");
  loaded.establishment = FieldText(rs, "ID_ETB_CLI");
  loaded.invoice_type = FieldText(rs, "ID_TIP_NF");
  loaded.ipi_contributor = FieldText(rs, "IC_CTB_IPI");
  customer = loaded;
  return true;
}

bool LoadConsumerCustomer(DatabaseSession& db, Operator& op, CustomerRecord& customer) {
  const DatabaseSession::Statement read = ConsumerCustomerStatement();
  return ReadConsumerCustomer(db.Query(read.text, read.values), op, customer);
}

bool LoadPlaceCustomer(DatabaseSession& db, Operator& op, CustomerRecord& customer,
                       std::int32_t place) {
  Recordset rs = db.Query(
      " SELECT vd.nm_pes_cli, cli.id_pes_cli, mun.id_uf, mun.id_mun, id_end_geo_fat, id_end_geo_etg, "
      "id_end_geo_cob, cli.id_tip_emp, vd.id_etb_cli\r"
      " From\r"
      "  ((((local_vnd AS lv INNER JOIN venda_direta AS vd ON lv.nr_orc_loc = vd.nr_orc_loc)\r"
      "      INNER JOIN estabelecimento es ON vd.id_etb_cli = es.id_etb)\r"
      "      inner join cliente cli on es.id_pes = cli.id_pes_cli)\r"
      // "end" is a reserved word of other databases: the address is "ende".
      "      inner join endereco_geo ende on vd.id_end_geo_fat = ende.id_end_geo)\r"
      "      inner join municipio mun on ende.id_mun = mun.id_mun\r"
      " where lv.id_loc = $1\r"
      " LIMIT 1",
      {place});
  if (rs.Eof()) {
    op.ShowMessage(kPlaceCustomerNotFound, kPlaceCustomerTitle, MessageIcon::Information);
    ClearProfile(customer);
    return false;
  }
  CustomerRecord loaded = customer;
  ReadSaleProfile(rs, loaded);
  customer = loaded;
  return true;
}

DatabaseSession::Statement SaleCustomersStatement(const DatabaseSession& db, const std::vector<long long>& sales) {
  // Each sale's establishment and, joined to it, its customer's profile: the
  // joined columns are Null when the back office did not register the
  // customer in full. Every key joined is a primary key: one row a sale.
  return {"Select vd.nr_orc_loc, vd.nm_pes_cli, cli.id_pes_cli, mun.id_uf, mun.id_mun, vd.id_end_geo_fat,\r"
          "       vd.id_end_geo_etg, vd.id_end_geo_cob, cli.id_tip_emp, vd.id_etb_cli,\r"
          "       vd.id_uti_pro, vd.id_tip_nf\r"
          "From venda_direta vd\r"
          "  left join estabelecimento es on vd.id_etb_cli = es.id_etb\r"
          "  left join cliente cli on es.id_pes = cli.id_pes_cli\r"
          "  left join endereco_geo eg on vd.id_end_geo_fat = eg.id_end_geo\r"
          "  left join municipio mun on eg.id_mun = mun.id_mun\r"
          "Where " + db.InList("vd.nr_orc_loc", "$1", Value::Kind::Integer),
          {db.ListOf(sales)}};
}

std::map<std::int32_t, CustomerRecord> ReadSaleCustomers(Recordset& rs, const CustomerRecord& walk_in) {
  std::map<std::int32_t, CustomerRecord> customers;
  for (; !rs.Eof(); rs.MoveNext()) {
    const std::int32_t sale = rs.Field("nr_orc_loc").Int32();
    if (rs.Field("id_etb_cli").Text() == walk_in.establishment) {
      customers.emplace(sale, walk_in);
      continue;
    }
    if (rs.Field("id_pes_cli").IsNull() || rs.Field("id_mun").IsNull()) continue;
    CustomerRecord loaded = walk_in;
    ReadSaleProfile(rs, loaded);
    loaded.product_use = FieldText(rs, "id_uti_pro");
    loaded.invoice_type = FieldText(rs, "id_tip_nf");
    loaded.requesting_user.clear();
    customers.emplace(sale, std::move(loaded));
  }
  return customers;
}

bool LoadSaleCustomer(DatabaseSession& db, const CustomerRecord& walk_in, std::int32_t sale,
                      CustomerRecord& customer) {
  const DatabaseSession::Statement read = SaleCustomersStatement(db, {sale});
  Recordset rs = db.Query(read.text, read.values);
  const auto customers = ReadSaleCustomers(rs, walk_in);
  const auto found = customers.find(sale);
  if (found == customers.end()) return false;
  customer = found->second;
  return true;
}

bool LoadComandaCustomer(DatabaseSession& db, Operator& op, CustomerRecord& customer,
                         const InputValue& sale_number, const InputValue& person) {
  CustomerRecord loaded = customer;
  Recordset rs;
  if (!sale_number.Empty()) {
    rs = db.Query(kSaleComandaCustomer, {sale_number.RawValue()});
    if (!rs.Eof()) {
      loaded.product_use = FieldText(rs, "id_uti_pro");
      loaded.invoice_type = FieldText(rs, "id_tip_nf");
    }
  } else {
    const Value person_id = person.Empty() ? Value() : person.RawValue();
    // A person's customer keeps the product use and invoice type it has.
    loaded.product_use = NumberText(customer.product_use);
    loaded.invoice_type = NumberText(customer.invoice_type);
    rs = person.Empty() ? db.Query(std::string(kPersonComandaCustomer) + kFirstEstablishment, {})
                        : db.Query(std::string(kPersonComandaCustomer) + kOfPerson + kFirstEstablishment, {person_id});
  }
  if (rs.Eof()) {
    op.ShowMessage(kComandaCustomerNotFound, kCustomerTitle, MessageIcon::Critical);
    ClearProfile(customer);
    customer.product_use = "0";
    customer.invoice_type = "0";
    return false;
  }
  ReadComandaProfile(rs, loaded);
  customer = loaded;
  return true;
}

}  // namespace orba
