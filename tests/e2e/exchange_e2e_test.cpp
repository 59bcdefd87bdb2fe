// The exchange through the real service: how soon a request is answered, what
// is taken of a file still being written, and how SIGTERM stops the service
// in the middle of its work.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <thread>

#include <pugixml.hpp>

#include "common/database.h"
#include "e2e_harness.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

// Waits for `path`, looking every 0.2 ms; how long it took, or nothing.
std::optional<std::chrono::microseconds> TimeUntilPresent(const fs::path& path,
                                                          std::chrono::steady_clock::time_point since,
                                                          std::chrono::milliseconds timeout = 5s) {
  std::error_code ec;
  while (!fs::exists(path, ec)) {
    if (std::chrono::steady_clock::now() - since > timeout) return std::nullopt;
    std::this_thread::sleep_for(200us);
  }
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - since);
}

// A one-line order for `mesa` with its own stamp.
std::string Order(const std::string& mesa, const std::string& stamp) {
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pedido tipo=\"P\" mesa=\"" + mesa +
         "\" operador=\"10\" pessoas=\"2\" mensagem=\"\"><header datahora=\"" + stamp +
         "\"/><item posicao=\"1\" idlocalass=\"0\" tpconta=\"1\" produto=\"101\" preco=\"50\" qtde=\"1\"/></pedido>";
}

// The `mensagem` of an order's answer; nothing when the answer is not a
// whole document.
std::optional<std::string> OrderMessage(const std::string& answer) {
  pugi::xml_document document;
  if (!document.load_buffer(answer.data(), answer.size())) return std::nullopt;
  const pugi::xml_node pedido = document.child("pedido");
  if (!pedido) return std::nullopt;
  return std::string(pedido.attribute("mensagem").value());
}

class ExchangeEndToEnd : public ::testing::Test {
 protected:
  void Start(const InstallationOptions& options = {}) {
    installation = std::make_unique<Installation>(options);
    ASSERT_TRUE(service.Start(*installation));
    ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();
  }
  Installation& inst() { return *installation; }

  std::unique_ptr<Installation> installation;
  ServiceProcess service;
};

// How soon each answer comes is a figure of bench/stm_bench.sh and
// bench/pem_bench.sh, not a bound here: a busy machine would fail it.
TEST_F(ExchangeEndToEnd, SingleRequestsArrivingOutOfStepAreEachAnswered) {
  Start();
  // Arrivals spaced out of step with any period of the service.
  std::mt19937 random(20260807);
  std::uniform_int_distribution<int> gap_ms(37, 163);
  for (int i = 0; i < 20; ++i) {
    const std::string name = "STMFAST" + std::to_string(i) + ".Xml";
    std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms(random)));
    const auto dropped = std::chrono::steady_clock::now();
    inst().DropRequest(name, StmRequest("1"));
    ASSERT_TRUE(TimeUntilPresent(inst().answers / name, dropped).has_value()) << name << " not answered\n"
                                                                              << service.Stderr();
    EXPECT_EQ(LocalAttributes(test::ReadFile(inst().answers / name))["status"], "L") << name;
  }
}

TEST_F(ExchangeEndToEnd, RequestWrittenInPlaceIsTakenOnlyWhenWhole) {
  Start();
  const std::string request = StmRequest("1");
  const fs::path path = inst().requests / "STMSLOW.Xml";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, request.data(), 50), 50);
  std::this_thread::sleep_for(400ms);  // several polling periods with half a request
  ASSERT_EQ(write(fd, request.data() + 50, request.size() - 50), ssize_t(request.size() - 50));
  close(fd);
  const auto answer = inst().WaitForAnswer("STMSLOW.Xml");
  ASSERT_TRUE(answer.has_value()) << service.Stderr();
  EXPECT_EQ(LocalAttributes(*answer)["status"], "L") << "answer: " << *answer;
  EXPECT_EQ(service.Stderr().find('\n'), service.Stderr().size() - 1);  // the start-up line alone
}

TEST_F(ExchangeEndToEnd, RequestWithTheLongestNameIsAnswered) {
  Start();
  const std::string name = "STM" + std::string(248, 'L') + ".Xml";  // 255 characters
  test::WriteFile(inst().root / "long.part", StmRequest("1"));
  fs::rename(inst().root / "long.part", inst().requests / name);
  const auto answer = inst().WaitForAnswer(name);
  ASSERT_TRUE(answer.has_value()) << service.Stderr();
  EXPECT_EQ(LocalAttributes(*answer)["status"], "L");
}

TEST_F(ExchangeEndToEnd, SigtermInABurstOfOrdersStopsAtOnceWithEveryOrderWholeOrUntouched) {
  InstallationOptions options;
  for (int table = 1; table <= 40; ++table) {
    options.sql += "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
                   "VALUES (" + std::to_string(7000 + table) + ", 'S" + std::to_string(table) + "', 1, 'A', 'L', 0, "
                   "'N');";
  }
  Start(options);
  constexpr int kOrders = 300;
  std::vector<std::string> names;
  for (int i = 0; i < kOrders; ++i) {
    names.push_back("PEMSTOP" + std::to_string(1000 + i) + ".Xml");
    inst().DropRequest(names.back(), Order("S" + std::to_string(1 + i % 40), "STOP" + std::to_string(i)));
  }
  const auto answered_count = [&]() {
    return std::count_if(names.begin(), names.end(), [&](const std::string& n) { return fs::exists(inst().answers / n); });
  };
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (answered_count() < 10 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);

  EXPECT_EQ(service.Terminate(2s), 0) << "not stopped within 2 s of SIGTERM\n" << service.Stderr();

  std::vector<std::string> answered;
  for (const std::string& name : names) {
    if (!fs::exists(inst().answers / name)) {
      EXPECT_TRUE(fs::exists(inst().requests / name)) << name << " neither answered nor waiting";
      continue;
    }
    answered.push_back(name);
    const auto message = OrderMessage(test::ReadFile(inst().answers / name));
    ASSERT_TRUE(message.has_value()) << name << " answer is not whole";
    EXPECT_EQ(*message, "") << name;
  }
  EXPECT_GE(answered.size(), 10u);
  EXPECT_LT(answered.size(), std::size_t(kOrders)) << "the stop waited for the folder to drain";
  for (const std::string& name : Installation::FilesOf(inst().requests)) {
    EXPECT_FALSE(name.size() > 4 && name.substr(name.size() - 4) == ".Tmp") << name << " left in work";
  }
  // Each answered order stored its one line; no other order stored anything.
  EXPECT_EQ(inst().Scalar("select count(*) from item_venda_direta where nr_orc_loc in "
                          "(select nr_orc_loc from local_vnd where id_loc between 7001 and 7040)"),
            std::to_string(answered.size()));
}

TEST_F(ExchangeEndToEnd, SigtermWhileTheBackOfficeHoldsTheDatabaseStopsAtOnceAndStoresNothing) {
  InstallationOptions options;
  options.sql = "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
                "VALUES (7100, 'TRAVADA', 1, 'A', 'L', 0, 'N');";
  Start(options);
  // The back office in the middle of a long write of the general parameters,
  // which every order writes too.
  test::RecordingOperator back_office_op;
  DatabaseSession back_office(back_office_op);
  ASSERT_TRUE(inst().scratch().Open(back_office));
  ASSERT_TRUE(back_office.BeginTransaction());
  back_office.ExecuteSql("UPDATE parametro_geral SET id_seq_tsa = id_seq_tsa");
  back_office.ChangedRows();  // held once the write has reached the server

  inst().DropRequest("PEMLOCK.Xml", Order("TRAVADA", "LOCK1"));
  ASSERT_TRUE(inst().WaitForPath(inst().requests / "PEMLOCK.Tmp"));
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(fs::exists(inst().answers / "PEMLOCK.Xml")) << "the order did not wait for the lock";

  EXPECT_EQ(service.Terminate(2s), 0) << "not stopped within 2 s of SIGTERM\n" << service.Stderr();
  back_office.RollbackTransaction();

  EXPECT_EQ(inst().Scalar("select count(*) from local_vnd where id_loc = 7100"), "0");
  if (fs::exists(inst().answers / "PEMLOCK.Xml")) {
    // The waiter is told that the order was not recorded.
    const auto message = OrderMessage(test::ReadFile(inst().answers / "PEMLOCK.Xml"));
    ASSERT_TRUE(message.has_value());
    EXPECT_NE(*message, "");
  }
}

}  // namespace
}  // namespace orba::e2e
