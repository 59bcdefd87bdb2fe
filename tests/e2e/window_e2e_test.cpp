// The real binary with its window (offscreen platform), and without a display.

#include <gtest/gtest.h>

#include <thread>

#include "e2e_harness.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::vector<std::string> Arguments(const Installation& inst) {
  return {"--system-dir", inst.system_dir.string(), "--printer-spool", inst.spool.string()};
}

TEST(WindowEndToEnd, WindowedServiceServesAndStopsOnSigterm) {
  Installation inst;
  ServiceProcess service;
  service.environment = {"QT_QPA_PLATFORM=offscreen"};
  ASSERT_TRUE(service.StartRaw(inst, Arguments(inst)));
  ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();
  inst.DropRequest("STMWIN.Xml", StmRequest("1"));
  const auto answer = inst.WaitForAnswer("STMWIN.Xml");
  ASSERT_TRUE(answer.has_value()) << service.Stderr();
  EXPECT_EQ(LocalAttributes(*answer).at("status"), "L");
  EXPECT_EQ(service.Terminate(), 0);
  // Without a notification area (as offscreen usually is) the window stays,
  // said once and not again at every timer.
  EXPECT_LE(Count(service.Stderr(), "área de notificação"), 1u) << service.Stderr();
}

TEST(WindowEndToEnd, MessageBoxWaitsForTheOperatorAndSigtermStillStops) {
  InstallationOptions options;
  options.create_database = false;
  Installation inst(options);
  ServiceProcess service;
  service.environment = {"QT_QPA_PLATFORM=offscreen"};
  ASSERT_TRUE(service.StartRaw(inst, Arguments(inst)));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (service.Stderr().find("OrbaPDA: ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_NE(service.Stderr().find(inst.OnServer() ? inst.scratch().name() : "ORBA.MDB"), std::string::npos)
      << service.Stderr();
  // The box is modal and nobody answers it: no request is taken meanwhile.
  inst.DropRequest("STMWAIT.Xml", StmRequest("1"));
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(fs::exists(inst.requests / "STMWAIT.Xml"));
  EXPECT_TRUE(service.Running());
  EXPECT_EQ(service.Terminate(), 0);
}

TEST(WindowEndToEnd, WithoutADisplayTheServiceRunsHeadless) {
  Installation inst;
  ServiceProcess service;
  service.environment = {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="};
  ASSERT_TRUE(service.StartRaw(inst, Arguments(inst)));
  ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();
  inst.DropRequest("STMTTY.Xml", StmRequest("1"));
  ASSERT_TRUE(inst.WaitForAnswer("STMTTY.Xml").has_value()) << service.Stderr();
  EXPECT_EQ(service.Terminate(), 0);
  EXPECT_NE(service.Stderr().find("sem tela"), std::string::npos) << service.Stderr();
}

}  // namespace
}  // namespace orba::e2e
