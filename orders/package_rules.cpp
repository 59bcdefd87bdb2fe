#include "orders/package_rules.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/database.h"
#include "common/general_parameters.h"
#include "common/sql_text.h"

namespace orba {

DatabaseSession::Statement AssociatedEnvironmentStatement(std::int32_t id_amb) {
  return {" select\r"
          " al.id_amb\r"
          " ,  al.nm_amb\r"
          " ,  als.id_amb   as id_amb_ass\r"
          " ,  als.nm_amb as nm_amb_ass\r"
          " From\r"
          " ambiente_local al\r"
          ",  ambiente_local        als\r"
          " Where al.id_amb = $1\r"
          " and   al.id_amb = als.id_amb_ass",
          {id_amb}};
}

void RememberAssociatedEnvironment(PackageCoverageMemo& memo, std::int32_t id_amb, const Recordset& rs) {
  memo.associated_environment[id_amb] = !rs.Eof();
}

namespace {

constexpr const char* kWeekdays[7] = {"dom", "seg", "ter", "qua", "qui", "sex", "sab"};

// The hhmm of a line's time as a number; a line without time counts as 2500,
// outside every window.
constexpr const char* kLineTime =
    "CASE WHEN ivd.hr_vnd_ite is null THEN 2500 "
    "ELSE CAST(substr(ivd.hr_vnd_ite,1,2) || substr(ivd.hr_vnd_ite,4,2) AS INTEGER) END";

// A window bound: nothing when Null or empty.
std::optional<long long> Bound(const Value& value) {
  if (value.IsNull() || value.Text().empty()) return std::nullopt;
  return value.Int();
}

Value BoundValue(const std::optional<long long>& bound) { return bound ? Value(*bound) : Value(); }

bool InWindow(const std::optional<long long>& start, const std::optional<long long>& end, long long now) {
  return start && end && *start <= now && now <= *end;
}

// The package service sold on the place's sales for its current stay and
// valid today, when there is one.
std::optional<long long> ActivePackageService(DatabaseSession& db, std::int32_t place,
                                              const std::string& stamp, const char* weekday) {
  Recordset rs = db.Query(
      " SELECT ivd.id_mat_pro from (((local_vnd lv\r"
      " inner join item_venda_direta  ivd\r"
      " on lv.nr_orc_loc = ivd.nr_orc_loc)\r"
      " inner join local_reservado_hospede_prod lrh\r"
      "  on ivd.id_mat_pro = lrh.id_mat_pro\r"
      "  and lv.id_loc =   lrh.id_loc)\r"
      "  inner join local_reservado lr\r"
      "  on lrh.dt_hr_ent = lr.dt_hr_ent\r"
      "  and lrh.id_loc = lr.id_loc)\r"
      "  inner join pacote pa\r"
      "  on pa.id_srv_hsp = ivd.id_mat_pro\r"
      "  Where lv.id_loc = $1\r"
      " and ic_srv_hsp = 'S'\r"
      " and lr.dt_hr_ent <= $2\r"
      " and lr.dt_hr_sai >= $2\r"
      " and pa.ic_" + std::string(weekday) + "_pac = 'S'\r"
      " LIMIT 1",
      {place, stamp});
  if (rs.Eof()) return std::nullopt;
  return rs.Field("id_mat_pro").Int();
}

bool HasAssociatedEnvironment(DatabaseSession& db, std::int32_t id_amb) {
  const DatabaseSession::Statement read = AssociatedEnvironmentStatement(id_amb);
  return !db.Query(read.text, read.values).Eof();
}

bool AssociatedEnvironment(DatabaseSession& db, std::int32_t id_amb, PackageCoverageMemo* memo) {
  if (memo == nullptr) return HasAssociatedEnvironment(db, id_amb);
  const auto known = memo->associated_environment.find(id_amb);
  if (known != memo->associated_environment.end()) return known->second;
  const bool associated = HasAssociatedEnvironment(db, id_amb);
  memo->associated_environment.emplace(id_amb, associated);
  return associated;
}

// The product of a code (of several with the same code, the lowest id) with
// the rule of the package of `service` for it; the rule's columns are Null
// when the package does not include the product. Without the product:
// DatabaseError. Of several packages of the service, the lowest key.
Recordset PackageRule(DatabaseSession& db, std::string_view code, long long service) {
  Recordset rs = db.Query(
      " SELECT pr.id_mat_pro, p.* from produto pr\r"
      " left join (pacote p inner join pacote_produto pp\r"
      "   on p.cd_det_inf = pp.cd_det_inf and p.id_srv_hsp = $2)\r"
      " on pp.id_mat_pro = pr.id_mat_pro\r"
      " Where pr.cd_pro = $1\r"
      " Order by pr.id_mat_pro, p.cd_det_inf",
      {SqlEscapeValue(code), service});
  if (rs.Eof()) throw DatabaseError("Produto não encontrado: " + std::string(code));
  return rs;
}

// What the package place has consumed of the package in its windows, and
// (unless the limit is fixed) how many people it holds.
std::vector<Recordset> ConsumptionAndPeople(DatabaseSession& db, std::int32_t package_place, long long package_key,
                                            const std::string& counting, const std::string& business_day,
                                            const std::optional<long long>& start1,
                                            const std::optional<long long>& end1,
                                            const std::optional<long long>& start2,
                                            const std::optional<long long>& end2) {
  std::vector<Value> values = {package_place, package_key, BoundValue(start1), BoundValue(end1)};
  std::string consumed =
      " SELECT Sum(qt_pro_atd) AS total_qtd \r"
      " From \r"
      " (local_vnd AS lv \r"
      " INNER JOIN item_venda_direta AS ivd \r"
      " ON lv.nr_orc_loc = ivd.nr_orc_loc) \r"
      " INNER JOIN pacote_produto AS pp \r"
      " ON ivd.id_mat_pro = pp.id_mat_pro\r"
      " Where \r"
      " (lv.id_loc = $1 or lv.id_loc_ass = $1)\r"
      " AND ivd.ic_inc_pac='S' \r"
      " AND pp.cd_det_inf= $2\r"
      " AND ivd.id_seq_pro_prn is null\r"
      " AND(\r"
      "     (" + std::string(kLineTime) + " >= $3\r"
      "     AND " + kLineTime + " <= $4)\r";
  if (start2) {
    consumed += "     OR (" + std::string(kLineTime) + " >= $5\r"
                "     AND " + kLineTime + " <= $6)\r";
    values.push_back(BoundValue(start2));
    values.push_back(BoundValue(end2));
  }
  consumed += "    )";
  if (counting == "DP") {
    values.push_back(business_day);
    consumed += "\r AND ivd.dt_vnd_ite= $" + std::to_string(values.size());
  }
  std::vector<DatabaseSession::Statement> reads = {{consumed, values}};
  if (counting != "PF") reads.push_back({" SELECT qt_loc_ocu FROM local where id_loc = $1", {package_place}});
  return db.Queries(reads);
}

}  // namespace

bool CheckPackageCoverage(DatabaseSession& db, const GeneralParameters& parameters, const Clock& clock,
                          std::int32_t idlocalass, std::int32_t id_loc, std::int32_t id_amb,
                          std::string_view product_code, PackageCoverageMemo* memo) {
  const LocalTime now_time = clock.Now();
  const long long now = now_time.hour * 100 + now_time.minute;
  const std::string business_day = SqlEscapeValue(ConvertDate(parameters.BusinessDay, "yyyymmdd"));
  char hhmm[8];
  std::snprintf(hhmm, sizeof hhmm, "%02d%02d", now_time.hour % 100, now_time.minute % 100);
  const std::string stamp = business_day + hhmm;
  const char* weekday = kWeekdays[((now_time.weekday % 7) + 7) % 7];

  // 1. The package place and its service.
  std::optional<long long> service;
  std::int32_t package_place = 0;
  if (idlocalass != 0) {
    service = ActivePackageService(db, idlocalass, stamp, weekday);
    package_place = idlocalass;
  } else if (id_loc != 0 && AssociatedEnvironment(db, id_amb, memo)) {
    service = ActivePackageService(db, id_loc, stamp, weekday);
    package_place = id_loc;
  }
  if (!service) return false;

  // 3. The package's rule for this product.
  Recordset rule = PackageRule(db, product_code, *service);
  if (rule.Field("cd_det_inf").IsNull()) return false;
  const std::optional<long long> start1 = Bound(rule.Field("hr_ini_pac1"));
  const std::optional<long long> end1 = Bound(rule.Field("hr_fim_pac1"));
  const std::optional<long long> start2 = Bound(rule.Field("hr_ini_pac2"));
  const std::optional<long long> end2 = Bound(rule.Field("hr_fim_pac2"));
  const long long package_key = rule.Field("cd_det_inf").Int();
  const std::string counting = rule.Field("ic_dia_pac").Text();
  // Read as a number only when the limit is worked out.
  const Value included_quantity = rule.Field("qt_inc_pac");
  rule.Close();

  // 4. Time window.
  if (!InWindow(start1, end1, now) && !InWindow(start2, end2, now)) return false;

  // 5. What the package place has consumed of this package in its windows,
  // with the people it holds.
  std::vector<Recordset> reads = ConsumptionAndPeople(db, package_place, package_key, counting, business_day,
                                                      start1, end1, start2, end2);
  const Value& sum = reads[0].Field("total_qtd");
  const long long consumed = sum.IsNull() ? 0 : sum.Int();

  // 6. The limit: fixed per stay, or per person at the package place.
  const double included = included_quantity.Real();
  double limit = included;
  if (counting != "PF") {
    const Recordset& people = reads[1];
    limit = people.Eof() ? 0 : included * people.Field("qt_loc_ocu").Real();
  }

  // 7. The quantity being ordered is not counted against the limit.
  return static_cast<double>(consumed) < limit;
}

}  // namespace orba
