#pragma once
// Everything a transaction handler may use, created once by the host (or by a
// test) and handed down by reference: there is no process-wide state besides it.

#include <pugixml.hpp>

namespace orba {

struct GeneralParameters;
class DatabaseSession;
class Operator;
class Clock;
struct PollingState;
struct CustomerRecord;
class PrinterSystem;

struct Context {
  GeneralParameters& parameters;
  DatabaseSession& db;
  Operator& op;
  const Clock& clock;
  PollingState& polling;
  CustomerRecord& customer;  // the customer that new sales copy
  PrinterSystem& printers;
};

// Every transaction handler has this form: it edits the request document in
// place into the answer and traps its own failures.
using Handler = void (*)(Context&, pugi::xml_document& request);

}  // namespace orba
