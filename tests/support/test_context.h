#pragma once
// Everything a handler's Context refers to, built the same way for every
// test: a database of the engine under test (with the demo establishment when
// asked), one folder that is both the system folder (ORBA.INI) and the base
// folder with its exchange folders, parameters pointing at them, a fixed
// clock, the polling state, the customer, and printers in memory. Fixtures
// derive from it and keep the member names.

#include <string>
#include <vector>

#include "common/context.h"
#include "common/general_parameters.h"
#include "exchange/polling_state.h"
#include "orders/customer.h"
#include "support/fixed_clock.h"
#include "support/recording_printer.h"
#include "support/test_database.h"

namespace orba::test {

struct TestContextOptions {
  bool demo = false;                     // db/demo.sql after the schema
  LocalTime now{2026, 12, 8, 12, 30, 0, 2};
  std::vector<std::string> printers{"CAIXA"};
  std::string default_printer = "CAIXA";
};

class TestContext {
 public:
  explicit TestContext(const TestContextOptions& options = {});

  // ORBA.INI in the system folder: RO, the element naming the base folder,
  // then `children` (the IMPRESSORA settings, for instance).
  void WriteConfiguration(const std::string& children = "<IMPRESSORA TP_IMPR=\"0\"/>") const;

  TestDatabase db;
  TempFolder folder;  // the system folder and the base folder
  GeneralParameters parameters;
  FixedClock clock;
  PollingState polling;
  CustomerRecord customer;
  RecordingPrinter printers;
  Context context{parameters, db.session, db.op, clock, polling, customer, printers};
};

}  // namespace orba::test
