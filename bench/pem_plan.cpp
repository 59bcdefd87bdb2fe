// The statements of a table-mode order (PEM) and their query plans, on an
// installation prepared by bench/pem_bench.sh, plus the handler's own time
// per order (no polling, no request or answer files); then the same for the
// position (POM) and the close (FEM) of a table.
//
//   orba_bench_pem_plan SYSTEM_DIR SPOOL_DIR REQUEST_FILE [ORDERS [TABLE [POSITIONS]]]
//
// REQUEST_FILE is a PEM request; its table gets the first two orders (new
// sales, then the same sales again), whose statements are traced, and then
// ORDERS timed orders (default 200) with stamps of their own. Every distinct
// statement (numbers and quoted texts set aside) is shown once with its
// query plan (SQLite's EXPLAIN QUERY PLAN, or PostgreSQL's EXPLAIN when
// ORBA.INI names a server in BANCO); a plan line that reads a table of more
// than 1,000 rows whole is flagged "BIG SCAN". With TABLE, one position and one close of that table
// are traced the same way, then POSITIONS positions (default 200) and a tenth
// as many closes are timed; the work files go to the answer folder and the
// pre-bills to the spool printers.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "installation.h"
#include "common/clock.h"
#include "common/database.h"
#include "common/general_parameters.h"
#include "common/process_memory.h"
#include "common/service_tables.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "orders/table_order.h"
#include "printing/spool_printer.h"
#include "services/close.h"
#include "services/position.h"

namespace {

struct Trace {
  bool on = false;
  std::vector<std::string> statements;  // in the order run
};


// The statement with its literals set aside, so that the same statement with
// other numbers counts once.
std::string Shape(const std::string& sql) {
  static const std::regex literal("'[^']*'|\\b[0-9]+(\\.[0-9]+)?\\b");
  static const std::regex blanks("\\s+");
  return std::regex_replace(std::regex_replace(sql, literal, "?"), blanks, " ");
}

// Queries go through a session of their own, so that they are not traced.
using bench::Query;

long long RowCount(orba::DatabaseSession& db, const std::string& table) {
  const auto values = Query(db, "select count(*) from \"" + table + "\"", 0);
  return values.empty() ? -1 : std::atoll(values[0].c_str());
}

// Every distinct statement once, with its plan.
void ListPlans(orba::DatabaseSession& db, const std::vector<std::string>& statements) {
  std::map<std::string, int> seen;
  std::vector<std::string> distinct;
  for (const std::string& sql : statements) {
    if (seen[Shape(sql)]++ == 0) distinct.push_back(sql);
  }
  const bool server = db.Engine() == orba::DatabaseEngine::Postgresql;
  static const std::regex sqlite_scan("^SCAN (\\w+)");
  static const std::regex server_scan("Seq Scan on (\\w+)");
  const std::regex& scan = server ? server_scan : sqlite_scan;
  int big_scans = 0;
  for (const std::string& sql : distinct) {
    std::printf("---- x%d\n%s\n", seen[Shape(sql)], Shape(sql).c_str());
    if (sql.find_first_not_of(" \r\n\t") == std::string::npos) continue;
    const auto plan = server ? Query(db, "EXPLAIN " + sql, 0) : Query(db, "EXPLAIN QUERY PLAN " + sql, 3);
    for (const std::string& line : plan) {
      std::smatch match;
      std::string flag;
      if (std::regex_search(line, match, scan)) {
        const long long rows = RowCount(db, match[1].str());
        if (rows > 1000) {
          flag = "   <== BIG SCAN (" + std::to_string(rows) + " rows)";
          ++big_scans;
        }
      }
      std::printf("   plan: %s%s\n", line.c_str(), flag.c_str());
    }
  }
  std::printf("\n%zu distinct statements, %d plan lines scanning a table of more than 1,000 rows\n",
              distinct.size(), big_scans);
}

// Mean, median, p95 and worst of the times, in ms.
void PrintTimes(const char* what, std::vector<double> times) {
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  double total = 0;
  for (const double t : times) total += t;
  std::printf("%s: %zu runs, mean %.2f ms, median %.2f ms, p95 %.2f ms, worst %.2f ms\n", what, times.size(),
              total / static_cast<double>(times.size()), times[times.size() / 2], times[times.size() * 95 / 100],
              times.back());
}

}  // namespace

int main(int argc, char** argv) {
  orba::KeepFreedMemoryForReuse();  // as the service does
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s SYSTEM_DIR SPOOL_DIR REQUEST_FILE [ORDERS [TABLE [POSITIONS]]]\n", argv[0]);
    return 2;
  }
  const std::string system_dir = std::string(argv[1]) + "/";
  const std::string spool = argv[2];
  const std::string request_file = argv[3];
  const int orders = argc > 4 ? std::atoi(argv[4]) : 200;
  const std::string position_table = argc > 5 ? argv[5] : "";
  const int positions = argc > 6 ? std::atoi(argv[6]) : 200;

  bench::Installation installation;
  if (!bench::ReadInstallation(system_dir, installation)) return 1;
  orba::GeneralParameters& parameters = installation.parameters;

  bench::QuietOperator op;
  orba::DatabaseSession session(op);
  orba::DatabaseSession db(op);  // for the bench's own queries
  for (orba::DatabaseSession* s : {&session, &db}) {
    if (!(installation.server ? s->OpenServer(installation.connection)
                              : s->OpenDatabase("ORBA.MDB", parameters.BaseFolder))) {
      return 1;
    }
  }
  std::printf("database: %s\n\n", session.Description().c_str());
  // As the service does at start-up.
  orba::EnsureServiceTables(session);
  if (!bench::ReadDay(db, parameters)) return 1;

  orba::SystemClock clock;
  orba::PollingState polling;
  orba::CustomerRecord customer;
  orba::SpoolPrinterSystem printers(spool);
  orba::Context context{parameters, session, op, clock, polling, customer, printers};

  pugi::xml_document original;
  if (!original.load_file(request_file.c_str())) {
    std::fprintf(stderr, "cannot read %s\n", request_file.c_str());
    return 1;
  }
  int stamp = 0;
  auto run = [&]() {
    pugi::xml_document request;
    request.reset(original);
    request.select_node("//header").node().attribute("datahora") = ("PLAN" + std::to_string(++stamp)).c_str();
    orba::HandleTableOrder(context, request);
    return std::string(request.select_node("//pedido").node().attribute("mensagem").value());
  };

  Trace trace;
  session.SetStatementObserver([&trace](const std::string& sql, const std::vector<orba::Value>&) {
    if (trace.on) trace.statements.push_back(sql);
  });
  trace.on = true;
  const std::string first = run();
  const std::size_t first_count = trace.statements.size();
  const std::string second = run();
  trace.on = false;
  if (!first.empty() || !second.empty()) {
    std::fprintf(stderr, "the traced orders were refused: '%s' '%s'\n", first.c_str(), second.c_str());
    return 1;
  }
  std::printf("statements run: %zu by the first order (new sales), %zu by the second (same sales)\n\n",
              first_count, trace.statements.size() - first_count);

  ListPlans(db, trace.statements);

  // The timed orders go round the active tables, as a service's would.
  // (The table whose position is measured below keeps its sales.)
  const std::vector<std::string> tables =
      Query(db, "select nm_loc from local where ic_atv_ina = 'A' and ic_pap_fil <> 'S' and nm_loc <> '" +
                    position_table + "' order by id_loc", 0);
  std::vector<double> times;
  for (int i = 0; i < orders; ++i) {
    original.select_node("//pedido").node().attribute("mesa") = tables[static_cast<std::size_t>(i) % tables.size()].c_str();
    const auto start = std::chrono::steady_clock::now();
    const std::string message = run();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!message.empty()) {
      std::fprintf(stderr, "order %d refused: %s\n", i, message.c_str());
      return 1;
    }
  }
  PrintTimes("handler alone, orders", times);
  if (position_table.empty()) return 0;

  // Position and close of one table.
  polling.CurrentStem = "POMPLAN";
  const std::string pedido = "<pedido tipo=\"C\" mesa=\"" + position_table +
                             "\" ic_tip_tra=\"1\" operador=\"10\" pessoas=\"\" mensagem=\"\"/>";
  const std::string local = "<local mesa=\"" + position_table +
                            "\" pessoas=\"\" ic_tip_cnt=\"0\" status=\"\" mensagem=\"\"/>";
  auto position = [&]() {
    pugi::xml_document request;
    request.load_string(pedido.c_str());
    orba::HandleTablePosition(context, request);
    return std::distance(request.child("POM").child("pedido").children("item").begin(),
                         request.child("POM").child("pedido").children("item").end());
  };
  auto close = [&]() {
    pugi::xml_document request;
    request.load_string(local.c_str());
    orba::HandleTableClose(context, request);
    return std::string(request.child("local").attribute("status").value());
  };
  for (const auto& [what, traced] :
       {std::pair<const char*, bool>{"position (POM)", true}, std::pair<const char*, bool>{"close (FEM)", false}}) {
    trace.statements.clear();
    trace.on = true;
    const long items = traced ? position() : 0;
    const std::string status = traced ? std::string() : close();
    trace.on = false;
    if (traced && items == 0) {
      std::fprintf(stderr, "the position of %s lists no item\n", position_table.c_str());
      return 1;
    }
    if (!status.empty()) {
      std::fprintf(stderr, "the close of %s failed\n", position_table.c_str());
      return 1;
    }
    std::printf("\n== statements of one %s of table %s%s\n\n", what, position_table.c_str(),
                traced ? (" (" + std::to_string(items) + " items)").c_str() : "");
    ListPlans(db, trace.statements);
  }
  times.clear();
  for (int i = 0; i < positions; ++i) {
    const auto start = std::chrono::steady_clock::now();
    position();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  PrintTimes("handler alone, positions (with the work file)", times);
  times.clear();
  for (int i = 0; i < std::max(1, positions / 10); ++i) {
    const auto start = std::chrono::steady_clock::now();
    close();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  PrintTimes("handler alone, closes (with one pre-bill printed)", times);
  return 0;
}
