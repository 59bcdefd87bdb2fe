#pragma once
// The one way a handler ends when it does not succeed:
//   a refusal      - the handheld is told why; everything is rolled back;
//   a failure      - anything else (a database error, a missing attribute, a
//                    text where a number is read): rolled back, one log line
//                    naming the request file and the cause, and the answer
//                    the transaction gives for a failure;
// and, for orders, a printing failure after the commit, which keeps the order
// (the printing routines report it and the handler sets its message).

#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "common/context.h"
#include "common/database.h"

namespace orba {

// A request the system will not carry out, with the message the waiter reads.
// The message is never empty: an empty answer message reads as success.
class Refusal : public std::runtime_error {
 public:
  explicit Refusal(std::string message);
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// A request that cannot be served as it stands (missing attribute, not a
// number, out of range): a failure, not a refusal.
class RequestFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One log line "<request file>: <what> - <cause>" for the request in work.
void LogRequestFailure(Context& context, std::string_view what, std::string_view cause);

// Runs `body`. A Refusal rolls back and calls refuse(message); any other
// exception rolls back, is logged and calls fail(exception). Neither ever lets
// an exception escape into the polling cycle.
template <typename Body, typename Refuse, typename Fail>
void RunHandler(Context& context, std::string_view what, Body&& body, Refuse&& refuse, Fail&& fail) {
  auto end_transaction = [&context]() {
    if (context.db.InTransaction()) context.db.RollbackTransaction();
  };
  try {
    try {
      std::forward<Body>(body)();
      return;
    } catch (const Refusal& refusal) {
      end_transaction();
      refuse(refusal.message());
    } catch (const std::exception& e) {
      end_transaction();
      LogRequestFailure(context, what, e.what());
      fail(e);
    }
  } catch (...) {
    // Only memory can run out while writing the answer: it goes back as it
    // stands, and the transaction is closed.
    end_transaction();
  }
}

}  // namespace orba
