// The start-up and stop contract of the real binary.

#include <gtest/gtest.h>

#include <thread>

#include "e2e_harness.h"
#include "support/test_database.h"

namespace orba::e2e {
namespace {

TEST(StartupEndToEnd, SecondInstanceIsRefusedWithoutTouchingTheFolders) {
  Installation inst;
  ServiceProcess first;
  ASSERT_TRUE(first.Start(inst));
  ASSERT_TRUE(first.WaitUntilServing()) << first.Stderr();

  // An unknown code keeps its work file; the second start must not remove it.
  inst.DropRequest("XYZ77.Xml", "<x/>");
  ASSERT_TRUE(inst.WaitForPath(inst.requests / "XYZ77.Tmp"));
  test::WriteFile(inst.answers / "STM1.Xml", "<local/>");

  ServiceProcess second;
  ASSERT_TRUE(second.Start(inst));
  EXPECT_EQ(second.WaitForExit(), 1);
  EXPECT_NE(second.Stderr().find("Aviso: OrbaPDA já está sendo executado.     \n"), std::string::npos)
      << second.Stderr();
  EXPECT_TRUE(fs::exists(inst.requests / "XYZ77.Tmp"));
  EXPECT_TRUE(fs::exists(inst.answers / "STM1.Xml"));

  EXPECT_TRUE(first.Running());
  EXPECT_EQ(first.Terminate(), 0);
}

TEST(StartupEndToEnd, AnotherSystemDirectoryIsAnotherInstance) {
  Installation one;
  Installation two;
  ServiceProcess a;
  ServiceProcess b;
  ASSERT_TRUE(a.Start(one));
  ASSERT_TRUE(b.Start(two));
  EXPECT_TRUE(a.WaitUntilServing()) << a.Stderr();
  EXPECT_TRUE(b.WaitUntilServing()) << b.Stderr();
  EXPECT_EQ(a.Terminate(), 0);
  EXPECT_EQ(b.Terminate(), 0);
}

TEST(StartupEndToEnd, UnconfiguredDatabaseStopsTheStart) {
  InstallationOptions inst_options;
  inst_options.demo = false;
  Installation inst(inst_options);
  ServiceProcess service;
  ASSERT_TRUE(service.Start(inst));
  EXPECT_EQ(service.WaitForExit(), 1);
  EXPECT_NE(service.Stderr().find("Aviso: ORBAOFFLINE ainda não configurado.     \n"), std::string::npos)
      << service.Stderr();
}

TEST(StartupEndToEnd, BusinessDayNotOpenStopsTheStart) {
  InstallationOptions inst_options;
  inst_options.sql = "UPDATE parametro_geral SET dt_dia = NULL";
  Installation inst(inst_options);
  ServiceProcess service;
  ASSERT_TRUE(service.Start(inst));
  EXPECT_EQ(service.WaitForExit(), 1);
  EXPECT_NE(service.Stderr().find(
                "Aviso: Para iniciar o OrbaPDA é obrigatório a abertura do dia no OrbaOffLine.     \n"),
            std::string::npos)
      << service.Stderr();
}

TEST(StartupEndToEnd, LowerCaseConfigurationAttributeIsFound) {
  InstallationOptions inst_options;
  inst_options.configuration = "<RO><cfg sr=\"{BASE}\"/><IMPRESSORA TP_IMPR=\"0\"/></RO>";
  Installation inst(inst_options);
  ServiceProcess service;
  ASSERT_TRUE(service.Start(inst));
  ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();
  inst.DropRequest("STM0001.Xml", StmRequest("1"));
  const auto answer = inst.WaitForAnswer("STM0001.Xml");
  ASSERT_TRUE(answer.has_value()) << service.Stderr();
  EXPECT_EQ(LocalAttributes(*answer).at("status"), "L");
  EXPECT_EQ(service.Terminate(), 0);
}

TEST(StartupEndToEnd, ExchangeFoldersAreEmptiedOfRequestsAndAnswersOnly) {
  Installation inst;
  for (const char* name : {"OLD1.Xml", "OLD2.xml", "OLD3.Tmp", "keep.txt", "KEEP.Prc", "half.Xml.part"}) {
    test::WriteFile(inst.requests / name, "<x/>");
  }
  for (const char* name : {"ANS1.Xml", "ANS2.Tmp", "POM1.Prc", "POM2.prc", "keep.log"}) {
    test::WriteFile(inst.answers / name, "<x/>");
  }
  ServiceProcess service;
  ASSERT_TRUE(service.Start(inst));
  ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();
  EXPECT_EQ(Installation::FilesOf(inst.requests),
            (std::vector<std::string>{"KEEP.Prc", "half.Xml.part", "keep.txt"}));
  EXPECT_EQ(Installation::FilesOf(inst.answers), std::vector<std::string>{"keep.log"});
  EXPECT_EQ(service.Terminate(), 0);
}

TEST(StartupEndToEnd, SigtermStopsWithStatusZero) {
  Installation inst;
  ServiceProcess service;
  ASSERT_TRUE(service.Start(inst));
  ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();
  EXPECT_EQ(service.Terminate(), 0);
  const std::string line = service.Stderr();  // one line says what it serves
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  EXPECT_NE(line.find("ORBA.INI, pasta base " + inst.BasePrefix() + ", banco "), std::string::npos) << line;
  EXPECT_NE(line.find(", dia 08/12/2026, modo mesa, impressoras: BAR, COZINHA\n"), std::string::npos) << line;
}

TEST(StartupEndToEnd, HelpAndVersion) {
  InstallationOptions inst_options;
  inst_options.create_database = false;
  Installation inst(inst_options);
  ServiceProcess help;
  ASSERT_TRUE(help.StartRaw(inst, {"--help"}));
  EXPECT_EQ(help.WaitForExit(), 0);
  EXPECT_NE(help.Stdout().find("--system-dir"), std::string::npos) << help.Stdout();

  ServiceProcess version;
  ASSERT_TRUE(version.StartRaw(inst, {"--version"}));
  EXPECT_EQ(version.WaitForExit(), 0);
  EXPECT_NE(version.Stdout().find("20/08/2008 - Release 9"), std::string::npos) << version.Stdout();
}

// Links and hard links planted at every name the service
// reads or writes: nothing outside its folders changes, and it goes on serving.
TEST(StartupEndToEnd, PlantedLinksAndFifosChangeNothingOutside) {
  Installation inst;
  const fs::path outside = inst.root / "fora";
  fs::create_directory(outside);
  const auto plant = [&](const fs::path& at) {
    test::WriteFile(outside / at.filename(), StmRequest("1"));
    fs::create_symlink(outside / at.filename(), at);
  };
  for (const fs::path& at : {inst.requests / "STMLINK.Xml", inst.fixed / "DataHora_2.xml",
                             inst.spool / "COZINHA" / "000001.txt", inst.spool / "fonts.log"}) {
    plant(at);
  }
  ServiceProcess service;
  ASSERT_TRUE(service.Start(inst));
  ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();
  plant(inst.answers / "STMRESP.Xml");
  plant(inst.answers / "POM2.prc");
  test::WriteFile(outside / "STMDURO.Xml", StmRequest("1"));
  fs::create_hard_link(outside / "STMDURO.Xml", inst.requests / "STMDURO.Xml");
  inst.DropRequest("STMRESP.Xml", StmRequest("1"));
  inst.DropRequest("PEM2.Xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pedido tipo=\"P\" mesa=\"2\" "
                               "operador=\"10\" pessoas=\"2\" mensagem=\"\"><header datahora=\"20261208203000\"/>"
                               "<item posicao=\"1\" idlocalass=\"0\" tpconta=\"1\" produto=\"101\" preco=\"9\" "
                               "qtde=\"1\"/></pedido>");
  inst.DropRequest("POM2.Xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><pedido tipo=\"C\" mesa=\"2\" "
                               "ic_tip_tra=\"1\" operador=\"10\" pessoas=\"\" mensagem=\"\"/>");
  for (const char* name : {"STMRESP.Xml", "PEM2.Xml", "POM2.Xml", "STMDURO.Xml"}) {  // a hard link waits 5 s
    EXPECT_TRUE(inst.WaitForAnswer(name, 15s).has_value()) << name << service.Stderr();
  }
  EXPECT_EQ(service.Terminate(), 0);

  EXPECT_EQ(Installation::FilesOf(outside).size(), 7u);
  for (const auto& file : fs::directory_iterator(outside)) EXPECT_EQ(test::ReadFile(file), StmRequest("1")) << file;
  // What was written went in place of the links; the link request stays, told once.
  for (const fs::path& at : {inst.fixed / "DataHora_2.xml", inst.answers / "STMRESP.Xml",
                             inst.spool / "COZINHA" / "000002.txt"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(at))) << at;
  }
  EXPECT_TRUE(fs::is_symlink(inst.requests / "STMLINK.Xml"));
  EXPECT_NE(service.Stderr().find("STMLINK.Xml deixado na pasta"), std::string::npos) << service.Stderr();
}

TEST(StartupEndToEnd, ServerConnectionLostBetweenTwoRequestsIsMadeAgain) {
  Installation inst;
  if (!inst.OnServer()) GTEST_SKIP() << "a file has no connection to lose";
  ServiceProcess service;
  ASSERT_TRUE(service.Start(inst));
  ASSERT_TRUE(service.WaitUntilServing()) << service.Stderr();
  inst.DropRequest("STM0001.Xml", StmRequest("1"));
  auto answer = inst.WaitForAnswer("STM0001.Xml");
  ASSERT_TRUE(answer.has_value()) << service.Stderr();
  EXPECT_EQ(LocalAttributes(*answer).at("status"), "L");

  // The server ends the service's connection (a restart, an administrator).
  const std::string others = "select pid from pg_stat_activity where datname = current_database()"
                             " and pid <> pg_backend_pid()";
  ASSERT_FALSE(inst.Rows(others).empty());
  inst.Rows("select pg_terminate_backend(pid) from (" + others + ") as service");
  for (int wait = 0; wait < 500 && !inst.Rows(others).empty(); ++wait) std::this_thread::sleep_for(10ms);

  inst.DropRequest("STM0002.Xml", StmRequest("1"));
  answer = inst.WaitForAnswer("STM0002.Xml");
  ASSERT_TRUE(answer.has_value()) << service.Stderr();
  EXPECT_EQ(LocalAttributes(*answer).at("status"), "L") << service.Stderr();
  EXPECT_NE(service.Stderr().find("Conexão com o banco de dados restabelecida"), std::string::npos)
      << service.Stderr();
  EXPECT_FALSE(fs::exists(inst.database));
  EXPECT_EQ(service.Terminate(), 0);
}

}  // namespace
}  // namespace orba::e2e
