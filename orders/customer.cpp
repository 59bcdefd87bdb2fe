#include "orders/customer.h"

#include <iterator>

#include "common/database.h"
#include "common/operator.h"
#include "common/sql_text.h"

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

// A value written into the select list as a literal: a number, or NULL.
std::string Literal(const std::string& value) {
  return value.empty() ? std::string("NULL") : InputValue(value).Raw();
}

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

bool LoadConsumerCustomer(DatabaseSession& db, Operator& op, CustomerRecord& customer) {
  db.SqlClear();
  db.SqlAppend("Select * from consumidor");
  Recordset rs = db.Query(db.SqlText());
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

bool LoadPlaceCustomer(DatabaseSession& db, Operator& op, CustomerRecord& customer,
                       std::int32_t place) {
  db.SqlClear();
  db.SqlAppend(
      " SELECT vd.nm_pes_cli, cli.id_pes_cli, mun.id_uf, mun.id_mun, id_end_geo_fat, id_end_geo_etg, "
      "id_end_geo_cob, cli.id_tip_emp, vd.id_etb_cli ");
  db.SqlAppend(" From ");
  db.SqlAppend("  ((((local_vnd AS lv INNER JOIN venda_direta AS vd ON lv.nr_orc_loc = vd.nr_orc_loc) ");
  db.SqlAppend("      INNER JOIN estabelecimento es ON vd.id_etb_cli = es.id_etb) ");
  db.SqlAppend("      inner join cliente cli on es.id_pes = cli.id_pes_cli) ");
  // "end" is a reserved word of other databases: the address is "ende".
  db.SqlAppend("      inner join endereco_geo ende on vd.id_end_geo_fat = ende.id_end_geo) ");
  db.SqlAppend("      inner join municipio mun on ende.id_mun = mun.id_mun ");
  db.SqlAppend(" where lv.id_loc =" + SqlNumber(static_cast<long long>(place)));
  db.SqlAppend(" LIMIT 1");
  Recordset rs = db.Query(db.SqlText());
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

bool LoadSaleCustomer(DatabaseSession& db, const CustomerRecord& walk_in, std::int32_t sale,
                      CustomerRecord& customer) {
  const std::string number = SqlNumber(static_cast<long long>(sale));
  db.SqlClear();
  db.SqlAppend("Select id_etb_cli from venda_direta where nr_orc_loc = " + number);
  Recordset owner = db.Query(db.SqlText());
  if (owner.Eof()) return false;
  if (owner.Field("id_etb_cli").Text() == walk_in.establishment) {
    customer = walk_in;
    return true;
  }
  db.SqlClear();
  db.SqlAppend("Select vd.nm_pes_cli, cli.id_pes_cli, mun.id_uf, mun.id_mun, vd.id_end_geo_fat,");
  db.SqlAppend("       vd.id_end_geo_etg, vd.id_end_geo_cob, cli.id_tip_emp, vd.id_etb_cli,");
  db.SqlAppend("       vd.id_uti_pro, vd.id_tip_nf");
  db.SqlAppend("From venda_direta vd");
  db.SqlAppend("  inner join estabelecimento es on vd.id_etb_cli = es.id_etb");
  db.SqlAppend("  inner join cliente cli on es.id_pes = cli.id_pes_cli");
  db.SqlAppend("  inner join endereco_geo eg on vd.id_end_geo_fat = eg.id_end_geo");
  db.SqlAppend("  inner join municipio mun on eg.id_mun = mun.id_mun");
  db.SqlAppend("Where vd.nr_orc_loc = " + number);
  Recordset rs = db.Query(db.SqlText());
  if (rs.Eof()) return false;
  CustomerRecord loaded = walk_in;
  ReadSaleProfile(rs, loaded);
  loaded.product_use = FieldText(rs, "id_uti_pro");
  loaded.invoice_type = FieldText(rs, "id_tip_nf");
  loaded.requesting_user.clear();
  customer = loaded;
  return true;
}

bool LoadComandaCustomer(DatabaseSession& db, Operator& op, CustomerRecord& customer,
                         const InputValue& sale_number, const InputValue& person) {
  db.SqlClear();
  if (!sale_number.Empty()) {
    const std::string sale = sale_number.Raw();
    db.SqlAppend("Select ");
    db.SqlAppend("   vd.nm_pes_cli      as nm_pes_cpl");
    db.SqlAppend(",  c.id_pes_cli       as id_pes");
    db.SqlAppend(",  m.id_uf");
    db.SqlAppend(",  eg.id_mun");
    db.SqlAppend(",  vd.id_uti_pro");
    db.SqlAppend(",  vd.ID_END_GEO_FAT");
    db.SqlAppend(",  vd.ID_END_GEO_ETG");
    db.SqlAppend(",  vd.ID_END_GEO_COB");
    db.SqlAppend(",  c.id_tip_emp");
    db.SqlAppend(",  vd.id_etb_cli");
    db.SqlAppend(",  vd.id_tip_nf");
    db.SqlAppend("From ");
    db.SqlAppend("   venda_direta       vd");
    db.SqlAppend(",  endereco_geo       eg");
    db.SqlAppend(",  municipio          m");
    db.SqlAppend(",  estabelecimento    e");
    db.SqlAppend(",  cliente            c");
    db.SqlAppend("Where vd.nr_orc_loc = " + sale);
    db.SqlAppend("  and vd.id_etb_cli = e.id_etb");
    db.SqlAppend("  and e.id_pes      = c.id_pes_cli");
    db.SqlAppend("  and e.id_etb      = eg.id_etb");
    db.SqlAppend("  and eg.id_mun     = m.id_mun");
  } else {
    const std::string person_id = person.Empty() ? std::string() : person.Raw();
    db.SqlAppend("Select ");
    db.SqlAppend("   p.nm_pes_cpl");
    db.SqlAppend(",  c.id_pes_cli       as id_pes");
    db.SqlAppend(",  m.id_uf");
    db.SqlAppend(",  eg.id_mun");
    db.SqlAppend(",  " + Literal(customer.product_use) + " as id_uti_pro");
    db.SqlAppend(",  eg.id_end_geo      as ID_END_GEO_FAT");
    db.SqlAppend(",  eg.id_end_geo      as ID_END_GEO_ETG");
    db.SqlAppend(",  eg.id_end_geo      as ID_END_GEO_COB");
    db.SqlAppend(",  c.id_tip_emp");
    db.SqlAppend(",  e.id_etb           as id_etb_cli");
    db.SqlAppend(",  " + Literal(customer.invoice_type) + " as id_tip_nf");
    db.SqlAppend("From ");
    db.SqlAppend("   estabelecimento    e");
    db.SqlAppend(",  cliente            c");
    db.SqlAppend(",  pessoa             p");
    db.SqlAppend(",  endereco_geo       eg");
    db.SqlAppend(",  municipio          m");
    db.SqlAppend("Where e.id_pes  = c.id_pes_cli");
    db.SqlAppend("  and e.id_etb  = eg.id_etb");
    db.SqlAppend("  and eg.id_mun = m.id_mun");
    db.SqlAppend("  and e.id_pes  = p.id_pes");
    if (!person_id.empty()) db.SqlAppend("  and e.id_pes = " + person_id);
    db.SqlAppend("Order by e.id_etb");
    // Only the first row is used.
    db.SqlAppend("LIMIT 1");
  }
  Recordset rs = db.Query(db.SqlText());
  if (rs.Eof()) {
    op.ShowMessage(kComandaCustomerNotFound, kCustomerTitle, MessageIcon::Critical);
    ClearProfile(customer);
    customer.product_use = "0";
    customer.invoice_type = "0";
    return false;
  }
  CustomerRecord loaded = customer;
  loaded.name = FieldText(rs, "nm_pes_cpl");
  loaded.person = FieldText(rs, "id_pes");
  loaded.state = FieldText(rs, "id_uf");
  loaded.municipality = FieldText(rs, "id_mun");
  loaded.product_use = FieldText(rs, "id_uti_pro");
  loaded.billing_address = FieldText(rs, "ID_END_GEO_FAT");
  loaded.delivery_address = FieldText(rs, "ID_END_GEO_ETG");
  loaded.collection_address = FieldText(rs, "ID_END_GEO_COB");
  loaded.company_type = FieldText(rs, "id_tip_emp");
  loaded.establishment = FieldText(rs, "id_etb_cli");
  loaded.invoice_type = FieldText(rs, "id_tip_nf");
  loaded.requesting_user.clear();
  customer = loaded;
  return true;
}

}  // namespace orba
