// Every row that a fixed stream of table-mode transactions writes, as text:
// 100 orders (several positions, options, accompaniments, decimal prices,
// orders on tables that already hold sales), 50 positions, 20 transfers and
// 20 closes with their pre-bills, on an installation that holds the demo
// establishment, with a fixed clock. bench/rows_before_after.sh runs it with
// two builds on both engines and compares what they wrote.
//
//   orba_bench_rows_written SYSTEM_DIR SPOOL_DIR OUT_FILE

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "installation.h"
#include "common/clock.h"
#include "common/database.h"
#include "common/service_tables.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "orders/table_order.h"
#include "printing/spool_printer.h"
#include "services/close.h"
#include "services/position.h"
#include "services/transfer.h"

namespace {

class FixedClock final : public orba::Clock {
 public:
  orba::LocalTime Now() const override { return orba::LocalTime{2026, 12, 8, 12, 34, 56, 2}; }
};

std::string Order(const std::string& table, int n) {
  static const char* const products[] = {"101", "201", "102", "202", "103", "203", "301"};
  std::string items;
  const int count = 1 + n % 6;
  for (int i = 0; i < count; ++i) {
    const std::string side = (i + n) % 3 == 0 ? "<acomp cod=\"103\" preco=\"4,50\" qtde=\"1\"/>" : "";
    const std::string option = (i + n) % 2 == 0 ? "<caract cod=\"" + std::to_string(1 + (i + n) % 5) + "\"/>" : "";
    items += "<item posicao=\"" + std::to_string(1 + (i * 3 + n) % (1 + n % 4)) +
             "\" idlocalass=\"0\" tpconta=\"1\" produto=\"" + products[(i + n) % 7] + "\" preco=\"" +
             std::to_string(7 + (n * 13 + i) % 40) + "," + std::to_string(10 + (n + i * 7) % 90) + "\" qtde=\"" +
             std::to_string(1 + (n + i) % 3) + "\">" + option + side + "</item>";
  }
  return "<pda><header datahora=\"ROWS" + std::to_string(n) + "\"/><pedido tipo=\"P\" mesa=\"" + table +
         "\" operador=\"10\" pessoas=\"" + std::to_string(1 + n % 5) + "\" mensagem=\"\">" + items + "</pedido></pda>";
}

// Every value of every row of every table, kinds included, rows sorted.
void Dump(orba::DatabaseSession& db, std::ofstream& out) {
  const bool server = db.Engine() == orba::DatabaseEngine::Postgresql;
  const std::vector<std::string> tables = bench::Query(
      db,
      server ? "select lower(table_name) from information_schema.tables where table_schema = current_schema() order by 1"
             : "select lower(name) from sqlite_master where type = 'table' order by 1",
      0);
  for (const std::string& table : tables) {
    orba::Recordset rs = db.Query("select * from " + table);
    std::vector<std::string> columns;
    for (std::size_t c = 0; c < rs.FieldCount(); ++c) columns.push_back("");
    std::vector<std::string> rows;
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string row;
      for (std::size_t c = 0; c < rs.FieldCount(); ++c) {
        const orba::Value& value = rs.Field(c);
        static const char kinds[] = {'N', 'I', 'R', 'T'};
        row += std::string(c > 0 ? " | " : "") + kinds[static_cast<int>(value.GetKind())] + ":" + value.Text();
      }
      rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    out << "== " << table << " (" << rows.size() << " rows)\n";
    for (const std::string& row : rows) out << row << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SYSTEM_DIR SPOOL_DIR OUT_FILE\n", argv[0]);
    return 2;
  }
  bench::Installation installation;
  if (!bench::ReadInstallation(std::string(argv[1]) + "/", installation)) return 1;
  orba::GeneralParameters& parameters = installation.parameters;
  bench::QuietOperator op;
  orba::DatabaseSession session(op);
  if (!(installation.server ? session.OpenServer(installation.connection)
                            : session.OpenDatabase("ORBA.MDB", parameters.BaseFolder))) {
    return 1;
  }
  orba::EnsureServiceTables(session);
  if (!bench::ReadDay(session, parameters)) return 1;
  FixedClock clock;
  orba::PollingState polling;
  polling.CurrentStem = "ROWS";
  orba::CustomerRecord customer;
  orba::SpoolPrinterSystem printers(argv[2]);
  orba::Context context{parameters, session, op, clock, polling, customer, printers};

  const std::vector<std::string> tables = bench::Query(
      session, "select nm_loc from local where ic_atv_ina = 'A' order by id_loc", 0);
  auto run = [&](void (*handler)(orba::Context&, pugi::xml_document&), const std::string& xml) {
    pugi::xml_document request;
    request.load_string(xml.c_str());
    handler(context, request);
  };
  const std::size_t half = tables.size() / 2;
  for (int n = 0; n < 100; ++n) {
    const std::string& table = tables[static_cast<std::size_t>(n) % half];
    run(&orba::HandleTableOrder, Order(table, n));
    if (n % 2 == 0) {
      run(&orba::HandleTablePosition, "<pedido tipo=\"C\" mesa=\"" + table +
                                          "\" ic_tip_tra=\"1\" operador=\"10\" pessoas=\"\" mensagem=\"\"/>");
    }
    if (n % 5 == 1) {
      // To a table of the other half, which the next closes free again.
      const std::string& destination = tables[half + static_cast<std::size_t>(n / 5) % (tables.size() - half)];
      run(&orba::HandleTableTransfer, "<TRM mesaOrigem=\"" + table + "\" mesaDestino=\"" + destination +
                                          "\" status=\"\" mensagem=\"\"/>");
    }
    if (n % 5 == 3) {
      const std::string& closed = n % 10 == 3 ? table : tables[half + static_cast<std::size_t>(n / 5) % (tables.size() - half)];
      run(&orba::HandleTableClose, "<local mesa=\"" + closed + "\" pessoas=\"2\" ic_tip_cnt=\"" +
                                       std::to_string(n % 2) + "\" status=\"\" mensagem=\"\"/>");
    }
  }
  std::ofstream out(argv[3]);
  Dump(session, out);
  return out ? 0 : 1;
}
