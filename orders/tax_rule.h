#pragma once
// The tax rule (tributacao) of a product sold to a customer profile in this
// establishment, the most specific one first.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/database.h"
#include "orders/input_value.h"

namespace orba {

struct CustomerRecord;

struct TaxRule {
  std::int32_t id_tri = 0;      // 0 = no rule
  std::string Ic_Tri_Ipi;       // "T" = IPI taxed
  std::string Ic_Ipi_Bas_Icms;  // "S" = IPI added to the ICMS base
  std::string Ic_Zon_Frc;       // "S" = free-trade zone: ICMS granted as discount
  std::string ic_tri_icms;      // "T" = ICMS taxed
  double Aq_Icms = 0;           // ICMS rate, percent
  double Aq_Rdu_Icms = 0;       // ICMS base reduction, percent
  std::int32_t cd_nat_ope = 0;  // operation nature
};

// The profile the rule is looked up for. Every value goes into the statements
// unquoted and must be a number.
struct TaxRuleQuery {
  InputValue id_uf;        // state
  InputValue id_mun;       // municipality
  InputValue id_tip_emp;   // company type
  InputValue id_tip_nf;    // invoice type
  InputValue id_uti_pro;   // product use
  InputValue id_mat_pro;   // product id
  InputValue id_etb_orba;  // establishment (GeneralParameters::id_etb_orba)
};

// The profile of the customer that new sales copy.
TaxRuleQuery TaxRuleQueryFor(const CustomerRecord& customer, const InputValue& product_id,
                             std::int32_t id_etb_orba);

// Tries, in this order, the rule for the municipality and the product, for
// the municipality and any product, for any municipality and the product, for
// any municipality and any product; the first row of the first attempt that
// finds one fills `rule` and gives true. Without a rule `rule` is untouched
// and the result is false. A product missing from produto, a Null fiscal
// group, a profile value that is not a number, or a database failure throws
// DatabaseError.
bool FindTaxRule(DatabaseSession& db, const TaxRuleQuery& query, TaxRule& rule);

// What the lookup gives one product.
struct TaxRuleOutcome {
  bool found = false;   // a rule was found; `rule` holds it
  TaxRule rule;
  std::string failure;  // the product's own failure (no produto row, Null fiscal group, a field of
                        // its rule that cannot be read); empty when there is none
};

// FindTaxRule for several products of one profile at once (the query's
// id_mat_pro is not used), in one statement whatever their number: each
// product gets the rule FindTaxRule gives it, or the failure FindTaxRule
// throws for it. A profile value that is not a number or a database failure
// throws DatabaseError.
std::map<long long, TaxRuleOutcome> FindTaxRules(DatabaseSession& db, const TaxRuleQuery& query,
                                                 const std::vector<long long>& products);
// Its read, for a caller that sends it with its other reads
// (DatabaseSession::Queries): building it checks the profile, as above; the
// outcomes come from its rows. `products` without repeats.
DatabaseSession::Statement TaxRulesStatement(const DatabaseSession& db, const TaxRuleQuery& query,
                                             const std::vector<long long>& products);
std::map<long long, TaxRuleOutcome> ReadTaxRules(Recordset& rs, const std::vector<long long>& products);

// The taxes of one sale line of `amount` (unit price times quantity) under a
// rule, for a product whose IPI rate is `product_ipi_rate` percent.
struct LineTaxes {
  double ipi_rate = 0;       // aq_ipi: the product's rate when IPI is taxed
  double ipi_value = 0;      // vl_ipi
  double icms_base = 0;      // vl_bas_icms: amount (+ IPI), less the base reduction
  double icms_rate = 0;      // aq_icms
  double icms_value = 0;     // vl_icms
  double icms_discount = 0;  // vl_dsc_icms: the ICMS value in a free-trade zone
};
LineTaxes ComputeLineTaxes(const TaxRule& rule, double amount, double product_ipi_rate);

}  // namespace orba
