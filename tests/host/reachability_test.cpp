#include "host/reachability.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "host/fake_pinger.h"
#include "host/pinger.h"
#include "support/test_database.h"

namespace orba {
namespace {

using test::FakePinger;
using Lines = std::vector<std::string>;


// Stands in for the owner's event loop: calls posted by the workers wait
// here until the test runs them on its own thread.
class PostQueue {
 public:
  ReachabilityMonitor::Post Poster() {
    return [this](std::function<void()> call) {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(call));
      posted_.notify_all();
    };
  }
  // Runs posted calls until `done` holds; false after 10 s without it.
  bool RunUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      std::function<void()> call;
      {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [&] { return !calls_.empty(); })) return false;
        call = std::move(calls_.front());
        calls_.pop_front();
      }
      call();
      ++run_;
    }
    return true;
  }
  int Run() const { return run_; }
  std::size_t Waiting() {
    std::lock_guard lock(mutex_);
    return calls_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> calls_;
  int run_ = 0;
};

class Reachability : public ::testing::Test {
 protected:
  void AddHandhelds(const Lines& addresses) {
    int id = 0;
    for (const std::string& address : addresses) {
      db.Exec("insert into IP_FIXO_PDA (ID_ETB_ORBA, ID_IP_PDA, DC_IP_PDA) values (1, " + std::to_string(++id) +
              ", '" + address + "')");
    }
  }
  std::unique_ptr<ReachabilityMonitor> Monitor(std::shared_ptr<Pinger> pinger) {
    auto monitor = std::make_unique<ReachabilityMonitor>(db.session, db.op, std::move(pinger), queue.Poster());
    monitor->on_cleared = [this] { ++cleared; };
    monitor->on_line = [this](const std::string& line) { lines.push_back(line); };
    monitor->on_finished = [this] { ++finished; };
    monitor->on_state_change = [this](const std::string& text) { changes.push_back(text); };
    return monitor;
  }
  bool RefreshAndWait(ReachabilityMonitor& monitor) {
    const int before = finished;
    monitor.Refresh();
    return queue.RunUntil([&] { return finished > before; });
  }

  PostQueue queue;  // outlives the monitors
  test::TestDatabase db;
  int cleared = 0;
  int finished = 0;
  Lines lines;
  Lines changes;
};

TEST_F(Reachability, ListsAddressesInTextOrderPaddedWithTheirState) {
  AddHandhelds({"10.0.0.9", "10.0.0.10", "10.0.0.300", "192.168.100.2000"});
  auto monitor = Monitor(std::make_shared<FakePinger>(std::set<std::string>{"10.0.0.9"}));
  ASSERT_TRUE(RefreshAndWait(*monitor));
  const Lines expected = {"10.0.0.10       ==> desconectado", "10.0.0.300      ==> desconectado",
                          "10.0.0.9        ==> conectado", "192.168.100.200 ==> desconectado"};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(monitor->Lines(), expected);
  EXPECT_FALSE(monitor->Running());
  EXPECT_EQ(cleared, 1);
  EXPECT_TRUE(db.op.events.empty());
}

TEST_F(Reachability, EmptyTableLeavesTheListEmpty) {
  auto pinger = std::make_shared<FakePinger>();
  auto monitor = Monitor(pinger);
  monitor->Refresh();
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(cleared, 1);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(pinger->Calls(), 0);
  EXPECT_FALSE(monitor->Running());
}

TEST_F(Reachability, FailingQueryEndsTheRefreshAndIsLoggedOnceUntilItWorksAgain) {
  AddHandhelds({"10.0.0.1"});
  auto monitor = Monitor(std::make_shared<FakePinger>());
  ASSERT_TRUE(RefreshAndWait(*monitor));
  ASSERT_EQ(lines.size(), 1u);

  db.Exec("alter table IP_FIXO_PDA rename to IP_FIXO_PDA_OLD");
  lines.clear();
  monitor->Refresh();
  monitor->Refresh();
  EXPECT_EQ(finished, 3);
  EXPECT_TRUE(lines.empty());
  EXPECT_TRUE(monitor->Lines().empty());
  ASSERT_EQ(db.op.events.size(), 1u);
  EXPECT_NE(db.op.events[0].find("IP_FIXO_PDA"), std::string::npos) << db.op.events[0];

  db.Exec("alter table IP_FIXO_PDA_OLD rename to IP_FIXO_PDA");
  ASSERT_TRUE(RefreshAndWait(*monitor));
  EXPECT_EQ(lines.size(), 1u);
  db.session.CloseDatabase();  // no session at all
  monitor->Refresh();
  EXPECT_EQ(finished, 5);
  ASSERT_EQ(db.op.events.size(), 2u);
  EXPECT_NE(db.op.events[1].find("sem conexão"), std::string::npos) << db.op.events[1];
}

TEST_F(Reachability, EchoesRunTogetherAndLinesComeInOrderAsSoonAsTheirTurnIsKnown) {
  Lines addresses;
  for (int i = 10; i < 30; ++i) addresses.push_back("10.0.0." + std::to_string(i));
  AddHandhelds(addresses);
  auto pinger = std::make_shared<FakePinger>(std::set<std::string>{"10.0.0.11"}, true);
  auto monitor = Monitor(pinger);
  monitor->Refresh();
  EXPECT_TRUE(monitor->Running());
  // All twenty wait at the gate at the same time: none waits for another.
  ASSERT_TRUE(pinger->WaitInFlight(20));

  pinger->Release("10.0.0.11");
  ASSERT_TRUE(queue.RunUntil([&] { return queue.Run() == 1; }));
  EXPECT_TRUE(lines.empty()) << "10.0.0.10 comes first and is not known yet";
  pinger->Release("10.0.0.10");
  ASSERT_TRUE(queue.RunUntil([&] { return lines.size() == 2; }));
  EXPECT_EQ(lines[0], "10.0.0.10       ==> desconectado");
  EXPECT_EQ(lines[1], "10.0.0.11       ==> conectado");

  monitor->Refresh();  // still running: ignored
  pinger->ReleaseAll();
  ASSERT_TRUE(queue.RunUntil([&] { return finished == 1; }));
  EXPECT_EQ(lines.size(), 20u);
  EXPECT_EQ(cleared, 1);
  EXPECT_EQ(pinger->Calls(), 20);
}

TEST_F(Reachability, StoppingInTheMiddleWaitsForNothingAndLeavesNothingBehind) {
  AddHandhelds({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
  auto pinger = std::make_shared<FakePinger>(std::set<std::string>{}, true);
  auto monitor = Monitor(pinger);
  monitor->Refresh();
  ASSERT_TRUE(pinger->WaitInFlight(3));
  monitor.reset();  // returns at once although three echoes are out
  pinger->ReleaseAll();
  ASSERT_TRUE(pinger->WaitInFlight(0));
  EXPECT_EQ(queue.Waiting(), 0u);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(finished, 0);
}

TEST_F(Reachability, StateChangesAreLoggedOnceEach) {
  AddHandhelds({"10.0.0.1", "10.0.0.2"});
  auto pinger = std::make_shared<FakePinger>(std::set<std::string>{"10.0.0.1"});
  auto monitor = Monitor(pinger);
  ASSERT_TRUE(RefreshAndWait(*monitor));
  EXPECT_EQ(changes, (Lines{"PDA 10.0.0.1 ==> conectado", "PDA 10.0.0.2 ==> desconectado"}));
  ASSERT_TRUE(RefreshAndWait(*monitor));
  EXPECT_EQ(changes.size(), 2u) << "nothing changed";
  pinger->SetAnswering({"10.0.0.1", "10.0.0.2"});
  ASSERT_TRUE(RefreshAndWait(*monitor));
  EXPECT_EQ(changes, (Lines{"PDA 10.0.0.1 ==> conectado", "PDA 10.0.0.2 ==> desconectado",
                            "PDA 10.0.0.2 ==> conectado"}));
}

TEST_F(Reachability, WithoutIcmpPermissionEveryHandheldIsNotAnsweringAndTheLogSaysWhyOnce) {
  AddHandhelds({"127.0.0.1", "10.0.0.2"});
  auto pinger = std::make_shared<IcmpPinger>(std::chrono::milliseconds(1000), [](int) {
    errno = EPERM;
    return -1;
  });
  auto monitor = Monitor(pinger);
  ASSERT_TRUE(RefreshAndWait(*monitor));
  EXPECT_EQ(lines, (Lines{"10.0.0.2        ==> desconectado", "127.0.0.1       ==> desconectado"}));
  ASSERT_EQ(db.op.events.size(), 1u);
  EXPECT_NE(db.op.events[0].find("ping_group_range"), std::string::npos) << db.op.events[0];
  EXPECT_NE(db.op.events[0].find("CAP_NET_RAW"), std::string::npos) << db.op.events[0];
  ASSERT_TRUE(RefreshAndWait(*monitor));
  EXPECT_EQ(db.op.events.size(), 1u);
}

}  // namespace
}  // namespace orba
