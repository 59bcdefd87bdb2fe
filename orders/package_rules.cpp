#include "orders/package_rules.h"

#include <cstdio>
#include <optional>
#include <string>

#include "common/clock.h"
#include "common/database.h"
#include "common/general_parameters.h"
#include "common/sql_text.h"

namespace orba {

namespace {

constexpr const char* kWeekdays[7] = {"dom", "seg", "ter", "qua", "qui", "sex", "sab"};

// The hhmm of a line's time as a number; a line without time counts as 2500,
// outside every window.
constexpr const char* kLineTime =
    "CASE WHEN ivd.hr_vnd_ite is null THEN 2500 "
    "ELSE CAST(substr(ivd.hr_vnd_ite,1,2) || substr(ivd.hr_vnd_ite,4,2) AS INTEGER) END";

std::string Number(long long value) { return SqlNumber(value); }

// A window bound: nothing when Null or empty.
std::optional<long long> Bound(const Value& value) {
  if (value.IsNull() || value.Text().empty()) return std::nullopt;
  return value.Int();
}

std::string BoundText(const std::optional<long long>& bound) {
  return bound ? Number(*bound) : std::string("NULL");
}

bool InWindow(const std::optional<long long>& start, const std::optional<long long>& end, long long now) {
  return start && end && *start <= now && now <= *end;
}

// The package service sold on the place's sales for its current stay and
// valid today, when there is one.
std::optional<long long> ActivePackageService(DatabaseSession& db, std::int32_t place,
                                              const std::string& stamp, const char* weekday) {
  db.SqlClear();
  db.SqlAppend(" SELECT ivd.id_mat_pro from (((local_vnd lv");
  db.SqlAppend(" inner join item_venda_direta  ivd");
  db.SqlAppend(" on lv.nr_orc_loc = ivd.nr_orc_loc)");
  db.SqlAppend(" inner join local_reservado_hospede_prod lrh");
  db.SqlAppend("  on ivd.id_mat_pro = lrh.id_mat_pro");
  db.SqlAppend("  and lv.id_loc =   lrh.id_loc)");
  db.SqlAppend("  inner join local_reservado lr");
  db.SqlAppend("  on lrh.dt_hr_ent = lr.dt_hr_ent");
  db.SqlAppend("  and lrh.id_loc = lr.id_loc)");
  db.SqlAppend("  inner join pacote pa");
  db.SqlAppend("  on pa.id_srv_hsp = ivd.id_mat_pro");
  db.SqlAppend("  Where lv.id_loc = " + Number(place));
  db.SqlAppend(" and ic_srv_hsp = 'S'");
  db.SqlAppend(" and lr.dt_hr_ent <= '" + stamp + "' ");
  db.SqlAppend(" and lr.dt_hr_sai >= '" + stamp + "' ");
  db.SqlAppend(std::string(" and pa.ic_") + weekday + "_pac = 'S'");
  db.SqlAppend(" LIMIT 1");
  Recordset rs = db.Query(db.SqlText());
  if (rs.Eof()) return std::nullopt;
  return rs.Field("id_mat_pro").Int();
}

bool HasAssociatedEnvironment(DatabaseSession& db, std::int32_t id_amb) {
  db.SqlClear();
  db.SqlAppend(" select");
  db.SqlAppend(" al.id_amb");
  db.SqlAppend(" ,  al.nm_amb");
  db.SqlAppend(" ,  als.id_amb   as id_amb_ass");
  db.SqlAppend(" ,  als.nm_amb as nm_amb_ass");
  db.SqlAppend(" From");
  db.SqlAppend(" ambiente_local al");
  db.SqlAppend(",  ambiente_local        als");
  db.SqlAppend(" Where al.id_amb = " + Number(id_amb));
  db.SqlAppend(" and   al.id_amb = als.id_amb_ass");
  Recordset rs = db.Query(db.SqlText());
  return !rs.Eof();
}

bool AssociatedEnvironment(DatabaseSession& db, std::int32_t id_amb, PackageCoverageMemo* memo) {
  if (memo == nullptr) return HasAssociatedEnvironment(db, id_amb);
  const auto known = memo->associated_environment.find(id_amb);
  if (known != memo->associated_environment.end()) return known->second;
  const bool associated = HasAssociatedEnvironment(db, id_amb);
  memo->associated_environment.emplace(id_amb, associated);
  return associated;
}

long long ProductId(DatabaseSession& db, std::string_view code) {
  db.SqlClear();
  db.SqlAppend("Select id_mat_pro from produto where cd_pro = '" + SqlEscapeValue(code) + "'");
  Recordset rs = db.Query(db.SqlText());
  if (rs.Eof()) throw DatabaseError("Produto não encontrado: " + std::string(code));
  return rs.Field("id_mat_pro").Int();
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
  const long long product = ProductId(db, product_code);
  db.SqlClear();
  db.SqlAppend(" SELECT p.* from pacote p");
  db.SqlAppend(" inner join pacote_produto pp");
  db.SqlAppend(" on p.cd_det_inf = pp.cd_det_inf");
  db.SqlAppend(" Where id_srv_hsp = " + Number(*service));
  db.SqlAppend(" and pp.id_mat_pro = " + Number(product));
  Recordset rule = db.Query(db.SqlText());
  if (rule.Eof()) return false;
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

  // 5. What the package place has consumed of this package in its windows.
  const std::string place = Number(package_place);
  db.SqlClear();
  db.SqlAppend(" SELECT Sum(qt_pro_atd) AS total_qtd ");
  db.SqlAppend(" From ");
  db.SqlAppend(" (local_vnd AS lv ");
  db.SqlAppend(" INNER JOIN item_venda_direta AS ivd ");
  db.SqlAppend(" ON lv.nr_orc_loc = ivd.nr_orc_loc) ");
  db.SqlAppend(" INNER JOIN pacote_produto AS pp ");
  db.SqlAppend(" ON ivd.id_mat_pro = pp.id_mat_pro");
  db.SqlAppend(" Where ");
  db.SqlAppend(" (lv.id_loc = " + place + " or lv.id_loc_ass = " + place + ")");
  db.SqlAppend(" AND ivd.ic_inc_pac='S' ");
  db.SqlAppend(" AND pp.cd_det_inf= " + Number(package_key));
  db.SqlAppend(" AND ivd.id_seq_pro_prn is null");
  if (counting == "DP") db.SqlAppend(" AND ivd.dt_vnd_ite= '" + business_day + "'");
  db.SqlAppend(" AND(");
  db.SqlAppend(std::string("     (") + kLineTime + " >= " + BoundText(start1));
  db.SqlAppend(std::string("     AND ") + kLineTime + " <= " + BoundText(end1) + ")");
  if (start2) {
    db.SqlAppend(std::string("     OR (") + kLineTime + " >= " + BoundText(start2));
    db.SqlAppend(std::string("     AND ") + kLineTime + " <= " + BoundText(end2) + ")");
  }
  db.SqlAppend("    )");
  Recordset consumed_rs = db.Query(db.SqlText());
  const Value& sum = consumed_rs.Field("total_qtd");
  const long long consumed = sum.IsNull() ? 0 : sum.Int();
  consumed_rs.Close();

  // 6. The limit: fixed per stay, or per person at the package place.
  const double included = included_quantity.Real();
  double limit = included;
  if (counting != "PF") {
    db.SqlClear();
    db.SqlAppend(" SELECT qt_loc_ocu FROM local where id_loc = " + place);
    Recordset people = db.Query(db.SqlText());
    limit = people.Eof() ? 0 : included * people.Field("qt_loc_ocu").Real();
  }

  // 7. The quantity being ordered is not counted against the limit.
  return static_cast<double>(consumed) < limit;
}

}  // namespace orba
