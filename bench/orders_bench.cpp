// Time of writing one order of 20 lines with their taxes on a database that
// already holds 100,000 sales: a new sale number, the header, 20 tax rule
// lookups and lines, the totals, in one transaction.
//
//   orba_bench_orders [earlier-sales] [orders-to-time]

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/database.h"
#include "common/general_parameters.h"
#include "common/operator.h"
#include "common/process_memory.h"
#include "installation.h"
#include "orders/customer.h"
#include "orders/sale.h"
#include "orders/tax_rule.h"

namespace {

using bench::QuietOperator;

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "setup failed: %s\n", message != nullptr ? message : "?");
    std::exit(2);
  }
}

constexpr int kProducts = 2000;
constexpr int kLinesPerEarlierSale = 4;

// Schema, customers, products, tax rules (general ones per fiscal group and a
// product rule for every tenth product) and `sales` earlier sales with lines.
void BuildDatabase(const std::filesystem::path& file, int sales) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) std::exit(2);
  std::ifstream schema(ORBA_SCHEMA_SQL);
  std::stringstream text;
  text << schema.rdbuf();
  Exec(db, text.str());
  Exec(db, "PRAGMA journal_mode=WAL");
  Exec(db, "BEGIN");
  Exec(db,
       "INSERT INTO parametro_geral (dt_dia, id_etb_orba, id_vnd_dir) VALUES ('20240315', 1, " +
           std::to_string(sales) + ");"
       "INSERT INTO municipio VALUES (3550308, 'SAO PAULO', 35);"
       "INSERT INTO consumidor VALUES (1, 'CONSUMIDOR FINAL', 35, 3550308, 1, 1, 1, 1, 1, 'N');");
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO produto (id_mat_pro, cd_pro, aq_ipi, id_gru_fsc) VALUES (?, ?, 0, ?)", -1,
                     &stmt, nullptr);
  for (int p = 1; p <= kProducts; ++p) {
    sqlite3_bind_int(stmt, 1, p);
    const std::string code = std::to_string(1000 + p);
    sqlite3_bind_text(stmt, 2, code.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(stmt, 3, p % 20);
    sqlite3_step(stmt);
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  sqlite3_prepare_v2(db,
                     "INSERT INTO tributacao VALUES (?, 1, ?, 1, ?, 1, 35, ?, ?, 'T', 'N', 'N', 'T', 18, 0, 5102)",
                     -1, &stmt, nullptr);
  int rule = 0;
  auto add_rule = [&](int establishment, int group, const char* municipality, int product) {
    sqlite3_bind_int(stmt, 1, ++rule);
    sqlite3_bind_int(stmt, 2, establishment);
    sqlite3_bind_int(stmt, 3, group);
    if (municipality != nullptr) sqlite3_bind_text(stmt, 4, municipality, -1, SQLITE_STATIC);
    else sqlite3_bind_null(stmt, 4);
    if (product != 0) sqlite3_bind_int(stmt, 5, product);
    else sqlite3_bind_null(stmt, 5);
    sqlite3_step(stmt);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
  };
  for (int establishment = 1; establishment <= 10; ++establishment) {
    for (int group = 0; group < 20; ++group) add_rule(establishment, group, nullptr, 0);
    for (int p = 10; p <= kProducts; p += 10) add_rule(establishment, p % 20, "3550308", p);
  }
  sqlite3_finalize(stmt);

  sqlite3_stmt* sale = nullptr;
  sqlite3_stmt* line = nullptr;
  sqlite3_stmt* person = nullptr;
  sqlite3_stmt* link = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO venda_direta (nr_orc_loc, ic_tip_ope, dt_vnd_dir, id_tip_nf, id_uti_pro,"
                     " nm_pes_cli, id_etb_cli, id_end_geo_fat, id_end_geo_etg, id_end_geo_cob, vl_tot_ite,"
                     " hr_vnd_ini, hr_vnd_dir) VALUES (?, 'V', '20230101', 1, 1, 'CONSUMIDOR FINAL', 1, 1, 1, 1,"
                     " 40, '12:00:00', '12:30:00')",
                     -1, &sale, nullptr);
  sqlite3_prepare_v2(db,
                     "INSERT INTO item_venda_direta (nr_orc_loc, id_seq, id_mat_pro, id_tri, pr_un_it_atd,"
                     " qt_pro_atd, vl_dsc, id_prt_ite, dt_vnd_ite, hr_vnd_ite) VALUES (?, ?, ?, 1, 10, 1, 0, 'S',"
                     " '20230101', '12:00:00')",
                     -1, &line, nullptr);
  sqlite3_prepare_v2(db,
                     "INSERT INTO forca_vnd_item_vnd VALUES (?, ?, 10, 1, 1)", -1, &person, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO local_vnd (id_loc, nr_orc_loc, nr_pos_com) VALUES (?, ?, 1)", -1, &link,
                     nullptr);
  for (int s = 1; s <= sales; ++s) {
    sqlite3_bind_int(sale, 1, s);
    sqlite3_step(sale);
    sqlite3_reset(sale);
    for (int l = 1; l <= kLinesPerEarlierSale; ++l) {
      sqlite3_bind_int(line, 1, s);
      sqlite3_bind_int(line, 2, l);
      sqlite3_bind_int(line, 3, 1 + (s * 7 + l) % kProducts);
      sqlite3_step(line);
      sqlite3_reset(line);
      sqlite3_bind_int(person, 1, s);
      sqlite3_bind_int(person, 2, l);
      sqlite3_step(person);
      sqlite3_reset(person);
    }
    sqlite3_bind_int(link, 1, 1 + s % 60);
    sqlite3_bind_int(link, 2, s);
    sqlite3_step(link);
    sqlite3_reset(link);
  }
  for (sqlite3_stmt* s : {sale, line, person, link}) sqlite3_finalize(s);
  Exec(db, "COMMIT");
  Exec(db, "ANALYZE");
  sqlite3_close(db);
}

// One order: returns false when any step fails.
bool WriteOrder(orba::DatabaseSession& session, const orba::GeneralParameters& parameters,
                const orba::Clock& clock, const orba::CustomerRecord& customer, int order) {
  if (!session.BeginTransaction()) return false;
  bool ok = false;
  try {
    std::int32_t number = 0;
    if (!orba::NextSaleNumber(session, number, true)) throw orba::DatabaseError("no sale number");
    std::string failure;
    if (!orba::InsertSale(session, parameters, clock, orba::NewOrderSale(customer, number, "10"), &failure)) throw orba::DatabaseError(failure);
    for (int seq = 1; seq <= 20; ++seq) {
      const long long product = 1 + (order * 37 + seq * 13) % kProducts;
      orba::TaxRule rule;
      if (!orba::FindTaxRule(session, orba::TaxRuleQueryFor(customer, product, parameters.id_etb_orba), rule)) {
        throw orba::DatabaseError("no tax rule");
      }
      const double price = 12.5;
      const double quantity = 2;
      const orba::LineTaxes taxes = orba::ComputeLineTaxes(rule, price * quantity, 0);
      orba::SaleItemInput line;
      line.nr_orc_loc = number;
      line.id_seq = seq;
      line.id_mat_pro = product;
      line.id_tri = rule.id_tri;
      line.pr_un_it_atd = price;
      line.qt_pro_atd = quantity;
      line.vl_dsc = 0.0;
      line.vl_icms = taxes.icms_value;
      line.vl_ipi = taxes.ipi_value;
      line.vl_icms_rtd = 0.0;
      line.vl_dsc_icms = taxes.icms_discount;
      line.vl_bas_icms = taxes.icms_base;
      line.aq_icms = taxes.icms_rate;
      line.aq_ipi = taxes.ipi_rate;
      line.vl_pr_un_ori = price;
      line.id_prt_ite = "N";
      line.id_pes_atd = "10";
      line.id_etb_cli = customer.establishment;
      if (!orba::InsertSaleItem(session, parameters, clock, line, &failure)) throw orba::DatabaseError(failure);
    }
    orba::RecalculateSaleTotals(session, clock, number, "10");
    session.CommitTransaction();
    ok = !session.InTransaction();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "order %d failed: %s\n", order, e.what());
  }
  session.RollbackTransaction();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  orba::KeepFreedMemoryForReuse();  // as the service does
  const int sales = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int orders = argc > 2 ? std::atoi(argv[2]) : 200;

  std::string pattern = (std::filesystem::temp_directory_path() / "orba-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 2;
  const std::filesystem::path folder = pattern;

  const auto build_start = std::chrono::steady_clock::now();
  BuildDatabase(folder / "ORBA.MDB", sales);
  const double build_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - build_start).count();

  QuietOperator op;
  orba::DatabaseSession session(op);
  if (!session.OpenDatabase("ORBA.MDB", folder.string() + "/")) return 2;
  orba::GeneralParameters parameters;
  parameters.BusinessDay = "15/03/2024";
  parameters.id_etb_orba = 1;
  orba::SystemClock clock;
  orba::CustomerRecord customer;
  if (!orba::LoadConsumerCustomer(session, op, customer)) return 2;

  std::vector<double> times_ms;
  for (int order = 0; order < orders; ++order) {
    const auto start = std::chrono::steady_clock::now();
    if (!WriteOrder(session, parameters, clock, customer, order)) return 1;
    times_ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times_ms.begin(), times_ms.end());
  double sum = 0;
  for (double t : times_ms) sum += t;
  std::printf("database: %d earlier sales (%d lines each), built in %.1f s\n", sales, kLinesPerEarlierSale,
              build_s);
  std::printf("one order of 20 lines with taxes, %d orders timed (commit included):\n", orders);
  std::printf("  median %.2f ms, mean %.2f ms, p95 %.2f ms, max %.2f ms\n", times_ms[times_ms.size() / 2],
              sum / static_cast<double>(times_ms.size()), times_ms[times_ms.size() * 95 / 100], times_ms.back());

  session.CloseDatabase();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
