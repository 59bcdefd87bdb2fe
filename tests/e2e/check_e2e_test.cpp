// orbapda --check on the real binary: what an installer runs before enabling
// the service.

#include <gtest/gtest.h>

#include "e2e_harness.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

std::vector<std::string> CheckArguments(const Installation& inst) {
  return {"--check", "--system-dir", inst.system_dir.string(), "--printer-spool", inst.spool.string()};
}

TEST(CheckEndToEnd, PassesBesideTheRunningServiceAndFailsOnAClosedDay) {
  Installation inst;
  ServiceProcess service;
  ASSERT_TRUE(service.Start(inst));
  ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();
  test::WriteFile(inst.answers / "STM9.Xml", "<local/>");  // not collected yet

  ServiceProcess check;
  ASSERT_TRUE(check.StartRaw(inst, CheckArguments(inst)));
  EXPECT_EQ(check.WaitForExit(), 0) << check.Stdout() << check.Stderr();
  EXPECT_EQ(check.Stdout().find("ERRO "), std::string::npos) << check.Stdout();
  EXPECT_NE(check.Stdout().find("OK dia de movimento aberto: "), std::string::npos) << check.Stdout();
  EXPECT_EQ(check.Stderr(), "");
  EXPECT_TRUE(service.Running());
  EXPECT_TRUE(fs::exists(inst.answers / "STM9.Xml"));
  EXPECT_EQ(service.Terminate(), 0);

  inst.Exec("UPDATE parametro_geral SET dt_dia = NULL");
  ServiceProcess closed_day;
  ASSERT_TRUE(closed_day.StartRaw(inst, CheckArguments(inst)));
  EXPECT_EQ(closed_day.WaitForExit(), 1);
  EXPECT_NE(closed_day.Stdout().find(
                "\nERRO Aviso: Para iniciar o OrbaPDA é obrigatório a abertura do dia no OrbaOffLine.\n"),
            std::string::npos)
      << closed_day.Stdout();
}

}  // namespace
}  // namespace orba::e2e
