// How often a table-mode order (PEM), a position (POM) and a close (FEM) wait
// for the database, through the real session, on an installation prepared by
// bench/pem_bench.sh:
//
//   orba_bench_round_trips SYSTEM_DIR SPOOL_DIR REQUEST_FILE TABLE [RUNS [DELAY_US]]
//
// Every transaction runs RUNS times (default 50; the close a tenth as many):
// the order of REQUEST_FILE with a stamp of its own each time, going round
// the active tables other than TABLE, then the position and the close of
// TABLE. Shown per transaction: the statements the session ran and the
// median and mean time. When ORBA.INI names a PostgreSQL server reached on a
// unix socket ("host=DIR"), the same runs go a second time through a proxy on
// 127.0.0.1 that holds each way of the conversation back DELAY_US
// microseconds (default 500, a server on another PC) and counts the round
// trips: a burst from the client answered by a burst from the server.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string_view>
#include <regex>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "delay_proxy.h"
#include "installation.h"
#include "common/clock.h"
#include "common/database.h"
#include "common/process_memory.h"
#include "common/service_tables.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "orders/table_order.h"
#include "printing/spool_printer.h"
#include "services/close.h"
#include "services/position.h"

namespace {

// The printers of a spool folder that keep nothing: the order's own work
// without the cost of creating ticket files (TRIPS_PRINTER=discard).
class DiscardingPrinters final : public orba::PrinterSystem {
 public:
  explicit DiscardingPrinters(std::vector<std::string> installed) : installed_(std::move(installed)) {}
  std::vector<std::string> InstalledPrinters() override { return installed_; }
  std::string CurrentPrinter() override { return current_.empty() && !installed_.empty() ? installed_.front() : current_; }
  void MakeCurrent(std::string_view device_name) override { current_ = std::string(device_name); }
  void SetFont(std::string_view, std::optional<double>) override {}
  void PrintLine(std::string_view) override {}
  void EndDocument() override {}

 private:
  std::vector<std::string> installed_;
  std::string current_;
};

struct Figures {
  long long statements = 0;  // per run
  long long round_trips = 0;
  std::vector<double> times;  // ms
};

void Print(const char* what, Figures f, bool proxied) {
  std::sort(f.times.begin(), f.times.end());
  double total = 0;
  for (const double t : f.times) total += t;
  const double runs = static_cast<double>(f.times.size());
  std::printf("  %-16s %5.1f statements", what, static_cast<double>(f.statements) / runs);
  if (proxied) std::printf(" %5.1f round trips", static_cast<double>(f.round_trips) / runs);
  std::printf("   median %7.2f ms  mean %7.2f ms  (%zu runs)\n", f.times[f.times.size() / 2], total / runs,
              f.times.size());
}

// The unix socket that a "host=DIR [port=N]" connection string reaches.
std::string ServerSocket(const std::string& connection) {
  std::smatch host;
  std::smatch port;
  static const std::regex host_word("(?:^|\\s)host=(/\\S+)");
  static const std::regex port_word("(?:^|\\s)port=(\\d+)");
  if (!std::regex_search(connection, host, host_word)) return {};
  return host[1].str() + "/.s.PGSQL." + (std::regex_search(connection, port, port_word) ? port[1].str() : "5432");
}

}  // namespace

int main(int argc, char** argv) {
  orba::KeepFreedMemoryForReuse();  // as the service does
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s SYSTEM_DIR SPOOL_DIR REQUEST_FILE TABLE [RUNS [DELAY_US]]\n", argv[0]);
    return 2;
  }
  const std::string system_dir = std::string(argv[1]) + "/";
  const std::string spool = argv[2];
  const std::string request_file = argv[3];
  const std::string position_table = argv[4];
  const int runs = argc > 5 ? std::max(1, std::atoi(argv[5])) : 50;
  const std::chrono::microseconds delay(argc > 6 ? std::atoi(argv[6]) : 500);
  // TRIPS_PRINTER=discard prints to printers that keep nothing.
  const bool discard_tickets = std::getenv("TRIPS_PRINTER") != nullptr && std::string(std::getenv("TRIPS_PRINTER")) == "discard";
  // TRIPS_LIST=1 prints every statement of each transaction's first run.
  const bool list_statements = std::getenv("TRIPS_LIST") != nullptr && std::string(std::getenv("TRIPS_LIST")) == "1";
  // TRIPS_ONLY=order (or position, close) runs that transaction alone, so
  // that the server's own counters see only its statements; TRIPS_PROXY=0
  // leaves out the pass through the proxy.
  const char* only = std::getenv("TRIPS_ONLY");
  const bool through_proxy_too = std::getenv("TRIPS_PROXY") == nullptr || std::string(std::getenv("TRIPS_PROXY")) != "0";

  bench::Installation installation;
  if (!bench::ReadInstallation(system_dir, installation)) return 1;
  orba::GeneralParameters& parameters = installation.parameters;
  bench::QuietOperator op;
  pugi::xml_document original;
  if (!original.load_file(request_file.c_str())) {
    std::fprintf(stderr, "cannot read %s\n", request_file.c_str());
    return 1;
  }

  // One pass over the three transactions on a session opened with `connection`;
  // `proxy` counts its round trips when given.
  auto pass = [&](const std::string& title, const std::string& connection, const bench::DelayProxy* proxy) {
    orba::DatabaseSession session(op);
    if (!(installation.server ? session.OpenServer(connection)
                              : session.OpenDatabase("ORBA.MDB", parameters.BaseFolder))) {
      return false;
    }
    orba::EnsureServiceTables(session);
    if (!bench::ReadDay(session, parameters)) return false;
    const std::vector<std::string> tables = bench::Query(
        session, "select nm_loc from local where ic_atv_ina = 'A' and ic_pap_fil <> 'S' and nm_loc <> '" +
                     position_table + "' order by id_loc", 0);
    long long statements = 0;
    bool listing = false;
    session.SetStatementObserver([&](const std::string& text, const std::vector<orba::Value>& values) {
      ++statements;
      if (!listing) return;
      if (proxy != nullptr) std::printf("    %3lld", proxy->RoundTrips());
      std::printf("    | %s", text.c_str());
      for (const orba::Value& value : values) std::printf(" [%s]", value.Text().c_str());
      std::printf("\n");
    });

    orba::SystemClock clock;
    orba::PollingState polling;
    polling.CurrentStem = "POMTRIPS";
    orba::CustomerRecord customer;
    orba::SpoolPrinterSystem spool_printers(spool);
    DiscardingPrinters discarding(spool_printers.InstalledPrinters());
    orba::PrinterSystem& printers = discard_tickets ? static_cast<orba::PrinterSystem&>(discarding) : spool_printers;
    orba::Context context{parameters, session, op, clock, polling, customer, printers};

    static int stamp = 0;
    auto order = [&](int i) {
      pugi::xml_document request;
      request.reset(original);
      request.select_node("//pedido").node().attribute("mesa") =
          tables[static_cast<std::size_t>(i) % tables.size()].c_str();
      request.select_node("//header").node().attribute("datahora") = ("TRIPS" + std::to_string(++stamp)).c_str();
      orba::HandleTableOrder(context, request);
      return std::string(request.select_node("//pedido").node().attribute("mensagem").value());
    };
    auto position = [&](int) {
      pugi::xml_document request;
      request.load_string(("<pedido tipo=\"C\" mesa=\"" + position_table +
                           "\" ic_tip_tra=\"1\" operador=\"10\" pessoas=\"\" mensagem=\"\"/>").c_str());
      orba::HandleTablePosition(context, request);
      return request.child("POM").child("pedido").child("item") ? std::string() : std::string("no item");
    };
    auto close = [&](int) {
      pugi::xml_document request;
      request.load_string(("<local mesa=\"" + position_table +
                           "\" pessoas=\"\" ic_tip_cnt=\"0\" status=\"\" mensagem=\"\"/>").c_str());
      orba::HandleTableClose(context, request);
      return std::string(request.child("local").attribute("status").value());
    };
    std::printf("%s (%s)\n", title.c_str(), session.Description().c_str());
    struct Transaction {
      const char* what;
      std::function<std::string(int)> run;
      int count;
    };
    const Transaction transactions[] = {{"order (PEM)", order, runs},
                                        {"position (POM)", position, runs},
                                        {"close (FEM)", close, std::max(1, runs / 10)}};
    for (const auto& [what, run, count] : transactions) {
      if (only != nullptr && std::string_view(what).find(only) == std::string_view::npos) continue;  // not asked for
      Figures figures;
      for (int i = 0; i < count; ++i) {
        const long long statements_before = statements;
        const long long trips_before = proxy != nullptr ? proxy->RoundTrips() : 0;
        listing = i == 0 && list_statements;
        const auto start = std::chrono::steady_clock::now();
        const std::string failure = run(i);
        listing = false;
        figures.times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (!failure.empty()) {
          // The other transactions are still measured.
          std::fprintf(stderr, "%s %d failed: %s\n", what, i, failure.c_str());
          figures.times.clear();
          break;
        }
        figures.statements += statements - statements_before;
        if (proxy != nullptr) figures.round_trips += proxy->RoundTrips() - trips_before;
      }
      if (!figures.times.empty()) Print(what, std::move(figures), proxy != nullptr);
    }
    return true;
  };

  if (!installation.server) return pass("SQLite", "", nullptr) ? 0 : 1;
  if (!pass("PostgreSQL, unix socket", installation.connection, nullptr)) return 1;
  if (!through_proxy_too) return 0;
  const std::string socket = ServerSocket(installation.connection);
  if (socket.empty()) {
    std::printf("(the connection does not name a unix socket: no proxy)\n");
    return 0;
  }
  bench::DelayProxy proxy(socket, delay);
  static const std::regex host_word("(^|\\s)host=\\S+");
  static const std::regex port_word("(^|\\s)port=\\S+");
  const std::string through_proxy =
      std::regex_replace(std::regex_replace(installation.connection, port_word, ""), host_word,
                         "$1host=127.0.0.1 port=" + std::to_string(proxy.Port()));
  char title[96];
  std::snprintf(title, sizeof title, "PostgreSQL through a proxy on 127.0.0.1 adding %.2f ms each way",
                static_cast<double>(delay.count()) / 1000.0);
  return pass(title, through_proxy, &proxy) ? 0 : 1;
}
