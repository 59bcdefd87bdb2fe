#include "orders/tax_rule.h"

#include <optional>
#include <set>
#include <utility>

#include "common/database.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "orders/customer.h"

namespace orba {

TaxRuleQuery TaxRuleQueryFor(const CustomerRecord& customer, const InputValue& product_id,
                             std::int32_t id_etb_orba) {
  return TaxRuleQuery{customer.state,       customer.municipality, customer.company_type,
                      customer.invoice_type, customer.product_use,  product_id,
                      id_etb_orba};
}

namespace {

std::string NumberList(const std::set<long long>& numbers) {
  std::string list;
  for (const long long number : numbers) {
    if (!list.empty()) list += ", ";
    list += SqlNumber(number);
  }
  return list;
}

// A row of tributacao that may be the rule of some products of the lookup.
struct Candidate {
  long long id_tri = 0;
  long long fiscal_group = 0;
  std::optional<long long> product;  // none: any product
  bool any_municipality = false;
  TaxRule rule;
  std::string failure;  // a field of the rule that cannot be read
};

// The place of a rule among the four attempts: the municipality and the
// product, the municipality, the product, neither.
int Attempt(const Candidate& candidate) {
  return (candidate.any_municipality ? 2 : 0) + (candidate.product ? 0 : 1);
}

}  // namespace

std::map<long long, TaxRuleOutcome> FindTaxRules(DatabaseSession& db, const TaxRuleQuery& query,
                                                 const std::vector<long long>& products) {
  // Every value is checked before the first statement is sent.
  const std::string company_type = query.id_tip_emp.Raw();
  const std::string establishment = query.id_etb_orba.Raw();
  const std::string invoice_type = query.id_tip_nf.Raw();
  const std::string product_use = query.id_uti_pro.Raw();
  const std::string state = query.id_uf.Raw();
  const std::string municipality = query.id_mun.Raw();

  std::map<long long, TaxRuleOutcome> outcomes;
  const std::set<long long> wanted(products.begin(), products.end());
  if (wanted.empty()) return outcomes;
  for (const long long product : wanted) {
    outcomes[product].failure = "Produto não encontrado: id_mat_pro = " + SqlNumber(product);
  }

  // The fiscal group of each product.
  db.SqlClear();
  db.SqlAppend("select id_mat_pro, id_gru_fsc");
  db.SqlAppend("From");
  db.SqlAppend("   produto");
  db.SqlAppend("Where");
  db.SqlAppend("   id_mat_pro in (" + NumberList(wanted) + ")");
  std::map<long long, long long> fiscal_groups;
  for (Recordset rs = db.Query(db.SqlText()); !rs.Eof(); rs.MoveNext()) {
    const long long product = rs.Field("id_mat_pro").Int();
    const auto outcome = outcomes.find(product);
    if (outcome == outcomes.end() || fiscal_groups.count(product) > 0) continue;
    try {
      fiscal_groups[product] = rs.Field("id_gru_fsc").Int32();
      outcome->second.failure.clear();
    } catch (const DatabaseError& e) {
      outcome->second.failure = e.what();
    }
  }
  if (fiscal_groups.empty()) return outcomes;
  std::set<long long> groups;
  std::set<long long> grouped_products;
  for (const auto& [product, group] : fiscal_groups) {
    groups.insert(group);
    grouped_products.insert(product);
  }

  // Every rule of the four attempts of every product, at once.
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
  db.SqlAppend(",  tri.id_gru_fsc");
  db.SqlAppend(",  tri.id_mun");
  db.SqlAppend(",  tri.id_mat_pro");
  db.SqlAppend("From");
  db.SqlAppend("   tributacao       tri");
  db.SqlAppend("Where");
  db.SqlAppend("    tri.id_tip_emp  = " + company_type);
  db.SqlAppend("and tri.id_etb_orba = " + establishment);
  db.SqlAppend("and tri.id_tip_nf   = " + invoice_type);
  db.SqlAppend("and tri.id_gru_fsc  in (" + NumberList(groups) + ")");
  db.SqlAppend("and tri.id_uti_pro  = " + product_use);
  db.SqlAppend("and tri.id_Uf       = " + state);
  db.SqlAppend("and (tri.id_mun     = " + municipality + " or tri.id_mun is null)");
  db.SqlAppend("and (tri.id_mat_pro in (" + NumberList(grouped_products) + ") or tri.id_mat_pro is null)");
  std::vector<Candidate> candidates;
  for (Recordset rs = db.Query(db.SqlText()); !rs.Eof(); rs.MoveNext()) {
    Candidate candidate;
    candidate.id_tri = rs.Field("id_tri").Int();
    candidate.fiscal_group = rs.Field("id_gru_fsc").Int();
    if (!rs.Field("id_mat_pro").IsNull()) candidate.product = rs.Field("id_mat_pro").Int();
    candidate.any_municipality = rs.Field("id_mun").IsNull();
    // Read everything first: a value that fails is the failure of the
    // products whose rule this row is, and of no other.
    try {
      TaxRule& rule = candidate.rule;
      rule.id_tri = rs.Field("id_tri").Int32();
      rule.Ic_Tri_Ipi = rs.Field("Ic_Tri_Ipi").Text();
      rule.Ic_Ipi_Bas_Icms = rs.Field("Ic_Ipi_Bas_Icms").Text();
      rule.Ic_Zon_Frc = rs.Field("Ic_Zon_Frc").Text();
      rule.ic_tri_icms = rs.Field("ic_tri_icms").Text();
      rule.Aq_Icms = rs.Field("Aq_Icms").Real();
      rule.Aq_Rdu_Icms = rs.Field("Aq_Rdu_Icms").Real();
      rule.cd_nat_ope = rs.Field("cd_nat_ope").Int32();
    } catch (const DatabaseError& e) {
      candidate.failure = e.what();
    }
    candidates.push_back(std::move(candidate));
  }

  // Each product takes the first attempt that has a rule for it and, as a
  // lookup through the index would, the first such rule by id_tri.
  for (const auto& [product, group] : fiscal_groups) {
    const Candidate* best = nullptr;
    for (const Candidate& candidate : candidates) {
      if (candidate.fiscal_group != group || (candidate.product && *candidate.product != product)) continue;
      if (best == nullptr || std::make_pair(Attempt(candidate), candidate.id_tri) <
                                 std::make_pair(Attempt(*best), best->id_tri)) {
        best = &candidate;
      }
    }
    if (best == nullptr) continue;
    TaxRuleOutcome& outcome = outcomes[product];
    outcome.failure = best->failure;
    outcome.found = best->failure.empty();
    if (outcome.found) outcome.rule = best->rule;
  }
  return outcomes;
}

bool FindTaxRule(DatabaseSession& db, const TaxRuleQuery& query, TaxRule& rule) {
  const std::string product_text = query.id_mat_pro.Raw();
  const std::optional<long long> product = ParseInteger(product_text);
  // A product id that is not a whole number names no product.
  if (!product) throw DatabaseError("Produto não encontrado: id_mat_pro = " + product_text);
  const TaxRuleOutcome outcome = FindTaxRules(db, query, {*product}).at(*product);
  if (!outcome.failure.empty()) throw DatabaseError(outcome.failure);
  if (!outcome.found) return false;
  rule = outcome.rule;
  return true;
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
