#include "orders/tax_rule.h"

#include "common/database.h"
#include "common/sql_text.h"
#include "orders/customer.h"

namespace orba {

TaxRuleQuery TaxRuleQueryFor(const CustomerRecord& customer, const InputValue& product_id,
                             std::int32_t id_etb_orba) {
  return TaxRuleQuery{customer.state,       customer.municipality, customer.company_type,
                      customer.invoice_type, customer.product_use,  product_id,
                      id_etb_orba};
}

bool FindTaxRule(DatabaseSession& db, const TaxRuleQuery& query, TaxRule& rule) {
  // Every value is checked before the first statement is sent.
  const std::string product = query.id_mat_pro.Raw();
  const std::string company_type = query.id_tip_emp.Raw();
  const std::string establishment = query.id_etb_orba.Raw();
  const std::string invoice_type = query.id_tip_nf.Raw();
  const std::string product_use = query.id_uti_pro.Raw();
  const std::string state = query.id_uf.Raw();
  const std::string municipality = query.id_mun.Raw();

  db.SqlClear();
  db.SqlAppend("select id_gru_fsc");
  db.SqlAppend("From");
  db.SqlAppend("   produto");
  db.SqlAppend("Where");
  db.SqlAppend("   id_mat_pro = " + product);
  Recordset rs = db.Query(db.SqlText());
  const std::int32_t fiscal_group = rs.Field("id_gru_fsc").Int32();
  rs.Close();

  const std::string attempts[4][2] = {
      {"and tri.id_mun      = " + municipality, "and tri.id_mat_pro  = " + product},
      {"and tri.id_mun      = " + municipality, "and tri.id_mat_pro  is null"},
      {"and tri.id_mun      is null", "and tri.id_mat_pro  = " + product},
      {"and tri.id_mun      is null", "and tri.id_mat_pro  is null"},
  };
  for (const auto& attempt : attempts) {
    db.SqlClear();
    db.SqlAppend("select");
    db.SqlAppend("   tri.id_tri");
    db.SqlAppend(",  tri.Ic_Tri_Ipi");
    db.SqlAppend(",  tri.Ic_ipi_bas_icms");
    db.SqlAppend(",  tri.ic_zon_frc");
    db.SqlAppend(",  tri.ic_tri_icms");
    db.SqlAppend(",  tri.aq_icms");
    db.SqlAppend(",  tri.aq_rdu_icms");
    db.SqlAppend(",  tri.cd_nat_ope");
    db.SqlAppend("From");
    db.SqlAppend("   tributacao       tri");
    db.SqlAppend("Where");
    db.SqlAppend("    tri.id_tip_emp  = " + company_type);
    db.SqlAppend("and tri.id_etb_orba = " + establishment);
    db.SqlAppend("and tri.id_tip_nf   = " + invoice_type);
    db.SqlAppend("and tri.id_gru_fsc  = " + SqlNumber(static_cast<long long>(fiscal_group)));
    db.SqlAppend("and tri.id_uti_pro  = " + product_use);
    db.SqlAppend("and tri.id_Uf       = " + state);
    db.SqlAppend(attempt[0]);
    db.SqlAppend(attempt[1]);
    rs = db.Query(db.SqlText());
    if (rs.Eof()) continue;
    // Read everything first: a value that fails leaves the outputs untouched.
    TaxRule found;
    found.id_tri = rs.Field("id_tri").Int32();
    found.Ic_Tri_Ipi = rs.Field("Ic_Tri_Ipi").Text();
    found.Ic_Ipi_Bas_Icms = rs.Field("Ic_Ipi_Bas_Icms").Text();
    found.Ic_Zon_Frc = rs.Field("Ic_Zon_Frc").Text();
    found.ic_tri_icms = rs.Field("ic_tri_icms").Text();
    found.Aq_Icms = rs.Field("Aq_Icms").Real();
    found.Aq_Rdu_Icms = rs.Field("Aq_Rdu_Icms").Real();
    found.cd_nat_ope = rs.Field("cd_nat_ope").Int32();
    rs.Close();
    rule = found;
    return true;
  }
  return false;
}

LineTaxes ComputeLineTaxes(const TaxRule& rule, double amount, double product_ipi_rate) {
  LineTaxes taxes;
  if (rule.Ic_Tri_Ipi == "T") {
    taxes.ipi_rate = product_ipi_rate;
    taxes.ipi_value = amount * product_ipi_rate / 100;
  }
  if (rule.ic_tri_icms == "T") {
    taxes.icms_base = amount + (rule.Ic_Ipi_Bas_Icms == "S" ? taxes.ipi_value : 0);
    if (rule.Aq_Rdu_Icms > 0) taxes.icms_base -= rule.Aq_Rdu_Icms * taxes.icms_base / 100;
    taxes.icms_rate = rule.Aq_Icms;
    taxes.icms_value = rule.Aq_Icms * taxes.icms_base / 100;
    taxes.icms_discount = rule.Ic_Zon_Frc == "S" ? taxes.icms_value : 0;
  }
  return taxes;
}

}  // namespace orba
