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

// A row of tributacao that may be the rule of a product of the lookup.
struct Candidate {
  long long id_tri = 0;
  bool any_product = false;
  bool any_municipality = false;
  TaxRule rule;
  std::string failure;  // a field of the rule that cannot be read
};

// The place of a rule among the four attempts: the municipality and the
// product, the municipality, the product, neither.
int Attempt(const Candidate& candidate) {
  return (candidate.any_municipality ? 2 : 0) + (candidate.any_product ? 1 : 0);
}

Candidate ReadCandidate(const Recordset& rs) {
  Candidate candidate;
  candidate.id_tri = rs.Field("id_tri").Int();
  candidate.any_product = rs.Field("id_mat_pro").IsNull();
  candidate.any_municipality = rs.Field("id_mun").IsNull();
  // Read everything first: a value that fails is the failure of the
  // product whose rule this row is, and of no other.
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
  return candidate;
}

std::string NotFound(long long product) { return "Produto não encontrado: id_mat_pro = " + SqlNumber(product); }

}  // namespace

DatabaseSession::Statement TaxRulesStatement(const DatabaseSession& db, const TaxRuleQuery& query,
                                             const std::vector<long long>& products) {
  // Each product with every rule of the four attempts for its fiscal group:
  // a product without a rule comes with Nulls, a product missing from
  // produto not at all. The profile is checked before anything is sent.
  return {"select\r"
          "   p.id_mat_pro       as product_id\r"
          ",  p.id_gru_fsc       as product_group\r"
          ",  tri.id_tri\r"
          ",  tri.Ic_Tri_Ipi\r"
          ",  tri.Ic_ipi_bas_icms\r"
          ",  tri.ic_zon_frc\r"
          ",  tri.ic_tri_icms\r"
          ",  tri.aq_icms\r"
          ",  tri.aq_rdu_icms\r"
          ",  tri.cd_nat_ope\r"
          ",  tri.id_mun\r"
          ",  tri.id_mat_pro\r"
          "From\r"
          "   produto          p\r"
          "   left join tributacao tri\r"
          "     on  tri.id_tip_emp  = $1\r"
          "     and tri.id_etb_orba = $2\r"
          "     and tri.id_tip_nf   = $3\r"
          "     and tri.id_gru_fsc  = p.id_gru_fsc\r"
          "     and tri.id_uti_pro  = $4\r"
          "     and tri.id_Uf       = $5\r"
          "     and (tri.id_mun     = $6 or tri.id_mun is null)\r"
          "     and (tri.id_mat_pro = p.id_mat_pro or tri.id_mat_pro is null)\r"
          "Where\r"
          "   " + db.InList("p.id_mat_pro", "$7", Value::Kind::Integer),
          {query.id_tip_emp.RawValue(), query.id_etb_orba.RawValue(), query.id_tip_nf.RawValue(),
           query.id_uti_pro.RawValue(), query.id_uf.RawValue(), query.id_mun.RawValue(), db.ListOf(products)}};
}

std::map<long long, TaxRuleOutcome> ReadTaxRules(Recordset& rs, const std::vector<long long>& products) {
  std::map<long long, TaxRuleOutcome> outcomes;
  for (const long long product : products) outcomes[product].failure = NotFound(product);
  // The candidates of each product whose fiscal group could be read.
  std::map<long long, std::vector<Candidate>> candidates;
  for (; !rs.Eof(); rs.MoveNext()) {
    const long long product = rs.Field("product_id").Int();
    const auto outcome = outcomes.find(product);
    if (outcome == outcomes.end()) continue;
    if (candidates.count(product) == 0) {
      try {
        rs.Field("product_group").Int32();
        outcome->second.failure.clear();
        candidates[product];
      } catch (const DatabaseError& e) {
        outcome->second.failure = e.what();
        continue;
      }
    }
    if (!rs.Field("id_tri").IsNull()) candidates[product].push_back(ReadCandidate(rs));
  }

  // Each product takes the first attempt that has a rule for it and, as a
  // lookup through the index would, the first such rule by id_tri.
  for (const auto& [product, rules] : candidates) {
    const Candidate* best = nullptr;
    for (const Candidate& candidate : rules) {
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

std::map<long long, TaxRuleOutcome> FindTaxRules(DatabaseSession& db, const TaxRuleQuery& query,
                                                 const std::vector<long long>& products) {
  const std::set<long long> unique(products.begin(), products.end());
  const std::vector<long long> wanted(unique.begin(), unique.end());
  const DatabaseSession::Statement read = TaxRulesStatement(db, query, wanted);
  if (wanted.empty()) return {};
  Recordset rs = db.Query(read.text, read.values);
  return ReadTaxRules(rs, wanted);
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
