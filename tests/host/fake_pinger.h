#pragma once
// A pinger that sends nothing: the addresses in `answering` answer, every
// other one does not. With `gated`, each echo waits until its address (or
// every address) is released, so tests see echoes in flight.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

#include "host/pinger.h"

namespace orba::test {

class FakePinger final : public Pinger {
 public:
  explicit FakePinger(std::set<std::string> answering_addresses = {}, bool gate = false)
      : answering_(std::move(answering_addresses)), gated_(gate) {}

  int PingHost(const std::string& address) override {
    std::unique_lock lock(mutex_);
    ++calls_;
    ++in_flight_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !gated_ || all_released_ || released_.count(address) != 0; });
    --in_flight_;
    changed_.notify_all();
    return answering_.count(address) != 0 ? kEchoAnswered : kEchoTimedOut;
  }

  void SetAnswering(std::set<std::string> addresses) {
    std::lock_guard lock(mutex_);
    answering_ = std::move(addresses);
  }
  void Release(const std::string& address) {
    std::lock_guard lock(mutex_);
    released_.insert(address);
    changed_.notify_all();
  }
  void ReleaseAll() {
    std::lock_guard lock(mutex_);
    all_released_ = true;
    changed_.notify_all();
  }
  // Waits until `count` echoes are waiting at the gate at the same time.
  bool WaitInFlight(int count, std::chrono::seconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return in_flight_ == count; });
  }
  int Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<std::string> answering_;
  std::set<std::string> released_;
  bool gated_;
  bool all_released_ = false;
  int calls_ = 0;
  int in_flight_ = 0;
};

}  // namespace orba::test
