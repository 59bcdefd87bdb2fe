#pragma once
// Items that an order of this service stored but no printer has printed yet
// (a printer that was off, a crash between the commit and the tickets). The
// order records its lines in item_a_imprimir_pda inside its own transaction;
// the lines leave that table once every printer of theirs has printed them.
// What is left there for the current business day is printed again by the
// retry: at start-up, when a resend of an order is recognised, and every few
// seconds while the service runs.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/context.h"

namespace orba {

class DatabaseSession;
class Operator;

// A written sale line: nr_orc_loc, id_seq.
using OrderLine = std::pair<std::int32_t, std::int32_t>;

// Inside the order's transaction: `lines` are to be printed. Throws
// DatabaseError.
void RecordPrintIntent(DatabaseSession& db, const std::string& business_day, const std::vector<OrderLine>& lines);

// What one pass of the retry did.
struct PendingPrintOutcome {
  std::vector<long long> printed;  // sales whose pending items all went out
  std::string failure;             // what failed, empty when nothing did
  bool Attempted() const { return !printed.empty() || !failure.empty(); }
  // The log line of the pass.
  std::string Describe() const;
};

// Prints the pending items of the current business day, sale by sale, each
// printer only what it has not printed, and forgets the sales that went out.
// Nothing pending costs one indexed query. Never throws; reports nothing.
PendingPrintOutcome PrintPendingItems(Context& context);

// The retry as the host drives it: at start-up the lines of earlier business
// days are forgotten, then every pass prints what is pending and writes one
// log line when its outcome differs from the previous pass's (a printer that
// stays off is told once, not every few seconds).
class PendingPrintRetry {
 public:
  explicit PendingPrintRetry(Context& context) : context_(context) {}
  void StartUp();
  void Retry();

 private:
  Context& context_;
  std::string last_;
};

}  // namespace orba
