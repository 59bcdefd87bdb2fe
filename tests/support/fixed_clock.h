#pragma once

#include "common/clock.h"

namespace orba::test {

// A clock that says what the test wants: a weekday, an hour.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(LocalTime now) : now_(now) {}
  LocalTime Now() const override { return now_; }
  void Set(LocalTime now) { now_ = now; }

 private:
  LocalTime now_;
};

}  // namespace orba::test
