#include "host/service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "host/command_line.h"
#include "printing/spool_printer.h"
#include "support/test_database.h"

namespace orba {
namespace {

namespace fs = std::filesystem;
using test::RecordingOperator;
using test::TempFolder;

// A system directory with ORBA.INI and a base folder with its exchange folders.
class Installation {
 public:
  Installation() {
    fs::create_directories(base() / "xml/Enviar");
    fs::create_directories(base() / "xml/Receber");
    fs::create_directories(base() / "xml/Fixos");
    fs::create_directories(system());
    WriteIni("<RO><CONFIG SR=\"" + base().string() + "/\"/><IMPRESSORA TP_IMPR=\"0\"/></RO>");
  }
  fs::path base() const { return root_.path() / "loja"; }
  fs::path system() const { return root_.path() / "etc"; }
  void WriteIni(const std::string& xml) { test::WriteFile(system() / "ORBA.INI", xml); }
  void CreateDatabase(const std::string& extra_sql = {}) {
    test::CreateDatabaseFile(base() / "ORBA.MDB", true);
    if (!extra_sql.empty()) {
      RecordingOperator op;
      DatabaseSession session(op);
      ASSERT_TRUE(session.OpenDatabase("ORBA.MDB", base().string() + "/"));
      session.ExecuteSql(extra_sql);
    }
  }

  RecordingOperator op;
  SystemClock clock;
  std::unique_ptr<Service> MakeService() {
    return std::make_unique<Service>(op, std::make_unique<SpoolPrinterSystem>(root_.prefix()), clock);
  }

 private:
  TempFolder root_;
};

TEST(Startup, ReadsFoldersBusinessDayAndParameters) {
  Installation inst;
  inst.CreateDatabase();
  auto service = inst.MakeService();
  ASSERT_TRUE(service->Start(inst.system().string()));
  const GeneralParameters& p = service->parameters();
  EXPECT_EQ(p.SystemFolder, inst.system().string() + "/");
  EXPECT_EQ(p.BaseFolder, inst.base().string() + "/");
  EXPECT_EQ(p.RequestFolder, inst.base().string() + "/xml/Enviar");
  EXPECT_EQ(p.AnswerFolder, inst.base().string() + "/xml/Receber");
  EXPECT_EQ(p.BusinessDay, "08/12/2026");
  EXPECT_EQ(p.id_etb_orba, 1);
  EXPECT_EQ(p.ComandaMode, "N");
  EXPECT_EQ(service->VersionLabel(), "20/08/2008 - Release 9");
  EXPECT_TRUE(service->session().IsOpen());
  EXPECT_TRUE(inst.op.messages.empty());
  service->Stop();
  EXPECT_FALSE(service->session().IsOpen());
}

TEST(Startup, BancoChoosesTheEngineAndAnUnknownTypeIsRefused) {
  const auto setting = [](const std::string& xml, DatabaseSetting& out, std::string& error) {
    pugi::xml_document document;
    EXPECT_TRUE(document.load_string(xml.c_str()));
    return ReadDatabaseSetting(document.child("RO"), out, error);
  };
  DatabaseSetting database;
  std::string error;
  EXPECT_TRUE(setting("<RO><C SR=\"/x/\"/></RO>", database, error));
  EXPECT_FALSE(database.server);
  EXPECT_TRUE(setting("<RO><C/><BANCO TIPO=\" SQLite \" CONEXAO=\"dbname=x\"/></RO>", database, error));
  EXPECT_FALSE(database.server);
  EXPECT_TRUE(setting("<RO><C/><BANCO TIPO=\"PostgreSQL\" CONEXAO=\" host=db.loja dbname=orba \"/></RO>", database,
                      error));
  EXPECT_TRUE(database.server);
  EXPECT_EQ(database.connection, "host=db.loja dbname=orba");
  EXPECT_FALSE(setting("<RO><C/><BANCO TIPO=\"mysql\"/></RO>", database, error));
  EXPECT_NE(error.find("TIPO=\"mysql\""), std::string::npos) << error;

  // Refused at start-up, with nothing opened.
  Installation inst;
  inst.WriteIni("<RO><CONFIG SR=\"" + inst.base().string() + "/\"/><BANCO TIPO=\"mysql\"/></RO>");
  auto service = inst.MakeService();
  EXPECT_FALSE(service->Start(inst.system().string()));
  ASSERT_EQ(inst.op.messages.size(), 1u);
  EXPECT_NE(inst.op.messages[0].text.find("mysql"), std::string::npos);
  EXPECT_FALSE(service->session().IsOpen());
}

TEST(Startup, ServerDatabaseIsUsedAndNoFileIsMade) {
  if (!test::OnServer()) GTEST_SKIP() << "needs the test server (ORBA_TEST_POSTGRESQL)";
  Installation inst;
  test::ScratchDatabase database(inst.base(), true);
  inst.WriteIni("<RO><CONFIG SR=\"" + inst.base().string() + "/\"/>" + database.ConfigurationElement() + "</RO>");
  auto service = inst.MakeService();
  ASSERT_TRUE(service->Start(inst.system().string())) << (inst.op.messages.empty() ? "" : inst.op.messages[0].text);
  EXPECT_EQ(service->session().Engine(), DatabaseEngine::Postgresql);
  EXPECT_EQ(service->parameters().BusinessDay, "08/12/2026");
  EXPECT_EQ(service->session().Description().rfind(database.name() + " (PostgreSQL em ", 0), 0u)
      << service->session().Description();
  service->Stop();
  EXPECT_FALSE(fs::exists(inst.base() / "ORBA.MDB"));

  // A database that does not exist: the server's own text, with its name.
  test::ScratchDatabase missing(inst.base(), false, false);
  inst.WriteIni("<RO><CONFIG SR=\"" + inst.base().string() + "/\"/>" + missing.ConfigurationElement() + "</RO>");
  service = inst.MakeService();
  EXPECT_FALSE(service->Start(inst.system().string()));  // nothing to serve with
  EXPECT_FALSE(service->session().IsOpen());
  ASSERT_EQ(inst.op.messages.size(), 1u);
  EXPECT_NE(inst.op.messages[0].text.find("database \"" + missing.name() + "\" does not exist"), std::string::npos)
      << inst.op.messages[0].text;
  EXPECT_FALSE(fs::exists(inst.base() / "ORBA.MDB"));
}

TEST(Startup, ComandaModeFromEitherFlag) {
  struct Case {
    const char* flags;
    const char* mode;
  } cases[] = {{"'N', 'S'", "S"}, {"'S', null", "S"}, {"'N', 'N'", "N"}, {"null, null", "N"}, {"'s', 'n'", "N"}};
  for (const Case& c : cases) {
    Installation inst;
    inst.CreateDatabase(std::string("update parametro_geral set (ic_tra_cmd, ic_tra_cmd_sem_ctrl_es) = (") +
                        c.flags + ")");
    auto service = inst.MakeService();
    ASSERT_TRUE(service->Start(inst.system().string()));
    EXPECT_EQ(service->parameters().ComandaMode, c.mode) << c.flags;
  }
}

TEST(Startup, AttributeNameWithoutRegardToCase) {
  Installation inst;
  inst.CreateDatabase();
  inst.WriteIni("<RO><X sr=\"" + inst.base().string() + "/\"/></RO>");
  auto service = inst.MakeService();
  ASSERT_TRUE(service->Start(inst.system().string()));
  EXPECT_EQ(service->parameters().RequestFolder, inst.base().string() + "/xml/Enviar");
}

TEST(Startup, EmptiesExchangeFoldersButKeepsOtherFiles) {
  Installation inst;
  inst.CreateDatabase();
  for (const char* name : {"xml/Enviar/STM1.Xml", "xml/Enviar/PEM2.xml", "xml/Enviar/XYZ.Tmp",
                           "xml/Enviar/keep.txt", "xml/Receber/STM1.XML", "xml/Receber/POM1.prc",
                           "xml/Receber/a.Tmp", "xml/Receber/keep.dat"}) {
    test::WriteFile(inst.base() / name, "x");
  }
  auto service = inst.MakeService();
  ASSERT_TRUE(service->Start(inst.system().string()));
  EXPECT_EQ(service->polling().RequestFiles, std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(service->polling().AnswerFiles, std::vector<std::string>{"keep.dat"});
}

TEST(Startup, SecondInstanceOfTheSameSystemDirectoryIsRefusedUntouched) {
  Installation inst;
  inst.CreateDatabase();
  auto first = inst.MakeService();
  ASSERT_TRUE(first->Start(inst.system().string()));
  test::WriteFile(inst.base() / "xml/Enviar/STM9.Xml", "<local mesa=\"1\"/>");

  auto second = inst.MakeService();
  EXPECT_FALSE(second->Start(inst.system().string() + "/"));
  ASSERT_EQ(inst.op.messages.size(), 1u);
  EXPECT_EQ(inst.op.messages[0].text, "OrbaPDA já está sendo executado.     ");
  EXPECT_EQ(inst.op.messages[0].title, "Aviso");
  EXPECT_TRUE(fs::exists(inst.base() / "xml/Enviar/STM9.Xml"));

  Installation other;  // another system directory runs beside it
  other.CreateDatabase();
  EXPECT_TRUE(other.MakeService()->Start(other.system().string()));
  other.WriteIni("<RO><CONFIG SR=\"" + inst.base().string() + "/\"/></RO>");  // but not on the same base folder
  EXPECT_FALSE(other.MakeService()->Start(other.system().string()));
}

TEST(Startup, BusinessDayRefusals) {
  struct Case {
    const char* sql;
    const char* text;
    const char* title;
  } cases[] = {
      {"delete from parametro_geral", "ORBAOFFLINE ainda não configurado.     ", "Aviso"},
      {"update parametro_geral set dt_dia = null",
       "Para iniciar o OrbaPDA é obrigatório a abertura do dia no OrbaOffLine.     ", "Aviso"},
  };
  for (const Case& c : cases) {
    Installation inst;
    inst.CreateDatabase(c.sql);
    auto service = inst.MakeService();
    EXPECT_FALSE(service->Start(inst.system().string()));
    ASSERT_EQ(inst.op.messages.size(), 1u) << c.sql;
    EXPECT_EQ(inst.op.messages[0].text, c.text);
    EXPECT_EQ(inst.op.messages[0].title, c.title);
    EXPECT_EQ(inst.op.messages[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(service->session().IsOpen());
  }
}

// Each start that could not serve is refused with one message naming the
// cause, before anything below the base folder is touched.
TEST(Startup, WhatCannotBeServedIsRefusedUntouched) {
  const std::pair<std::function<void(Installation&)>, const char*> cases[] = {
      {[](Installation& i) { fs::remove(i.system() / "ORBA.INI"); }, "ORBA.INI"},
      {[](Installation& i) { i.WriteIni("<RO><CONFIG SR="); }, "ORBA.INI"},
      {[](Installation& i) { i.WriteIni("<RO><CONFIG/></RO>"); }, "SR=\"\""},
      {[](Installation& i) { i.WriteIni("<RO><CONFIG SR=\"loja/\"/></RO>"); }, "absoluto terminado em /"},
      {[](Installation& i) {
         i.WriteIni("<RO><C SR=\"" + i.base().string() + "/\"/><BANCO TIPO=\"postgresql\" CONEXAO=\"port=1\"/></RO>");
       },
       "PostgreSQL em"},
      {[](Installation& i) { fs::remove(i.base() / "ORBA.MDB"); }, "ORBA.MDB"},
      {[](Installation& i) { fs::resize_file(i.base() / "ORBA.MDB", 0); }, "carregue db/schema.sql"},
      {[](Installation& i) {
         fs::remove_all(i.base() / "xml/Receber");
         fs::create_directory_symlink("..", i.base() / "xml/Receber");
       },
       "xml/Receber é um link"},
      {[](Installation& i) { fs::remove_all(i.base() / "xml/Enviar"); }, "xml/Enviar"},
  };
  for (const auto& [make, said] : cases) {
    Installation inst;
    inst.CreateDatabase();
    test::WriteFile(inst.base() / "xml/Enviar/STM1.Xml", "x");
    make(inst);
    std::vector<fs::path> files(fs::recursive_directory_iterator(inst.base()), {});
    auto service = inst.MakeService();
    EXPECT_FALSE(service->Start(inst.system().string())) << said;
    ASSERT_EQ(inst.op.messages.size(), 1u) << said;
    EXPECT_NE(inst.op.messages[0].text.find(said), std::string::npos) << inst.op.messages[0].text;
    EXPECT_EQ(std::vector<fs::path>(fs::recursive_directory_iterator(inst.base()), {}), files) << said;
  }
}

TEST(Startup, ConfigurationWithoutRootOrFirstChildIsReported) {
  for (const char* xml : {"<OUTRO><C SR=\"/x/\"/></OUTRO>", "<RO/>", "<RO>texto</RO>"}) {
    Installation inst;
    inst.CreateDatabase();
    inst.WriteIni(xml);
    auto service = inst.MakeService();
    EXPECT_FALSE(service->Start(inst.system().string())) << xml;
    ASSERT_EQ(inst.op.messages.size(), 1u) << xml;
    EXPECT_EQ(inst.op.messages[0].title, "Aviso");
    EXPECT_NE(inst.op.messages[0].text.find("RO"), std::string::npos);
  }
}

TEST(Startup, UnreadableParametersStopWithAReport) {
  Installation inst;
  inst.CreateDatabase("update parametro_geral set id_etb_orba = 'abc'");
  auto service = inst.MakeService();
  EXPECT_FALSE(service->Start(inst.system().string()));
  ASSERT_EQ(inst.op.messages.size(), 1u);
  EXPECT_EQ(inst.op.messages[0].title, "Erro no ORBAPDA     ");
}

TEST(Startup, TemporaryFolderThatDoesNotExistStillGuardsTheSingleInstance) {
  Installation inst;
  inst.CreateDatabase();
  const char* saved = std::getenv("TMPDIR");
  const std::string saved_value = saved != nullptr ? saved : "";
  setenv("TMPDIR", (inst.base() / "no-such-folder").c_str(), 1);
  auto first = inst.MakeService();
  auto second = inst.MakeService();
  bool first_started = false;
  bool second_started = true;
  EXPECT_NO_THROW(first_started = first->Start(inst.system().string()));
  EXPECT_NO_THROW(second_started = second->Start(inst.system().string()));
  if (saved != nullptr) {
    setenv("TMPDIR", saved_value.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  EXPECT_TRUE(first_started);
  EXPECT_FALSE(second_started);
  ASSERT_EQ(inst.op.messages.size(), 1u);
  EXPECT_EQ(inst.op.messages[0].text, "OrbaPDA já está sendo executado.     ");
}

TEST(CommandLine, OptionsEnvironmentAndErrors) {
  const char* args[] = {"orbapda", "--headless", "--system-dir", "/s", "--printer-spool=/p"};
  CommandLine line = ParseCommandLine(5, args);
  EXPECT_TRUE(line.headless);
  EXPECT_EQ(line.system_dir, "/s");
  EXPECT_EQ(line.printer_spool, "/p");
  EXPECT_TRUE(line.error.empty());

  setenv("ORBA_SYSTEM_DIR", "/env/sys", 1);
  const char* bare[] = {"orbapda"};
  EXPECT_EQ(ParseCommandLine(1, bare).system_dir, "/env/sys");
  unsetenv("ORBA_SYSTEM_DIR");

  const char* missing[] = {"orbapda", "--system-dir"};
  EXPECT_FALSE(ParseCommandLine(2, missing).error.empty());
  const char* unknown[] = {"orbapda", "--frobnicate"};
  EXPECT_FALSE(ParseCommandLine(2, unknown).error.empty());
}

TEST(CommandLine, DisplayAvailableOnlyWhereQtCanOpenOne) {
  struct Case {
    const char* platform;
    const char* display;
    const char* wayland;
    bool available;
  } cases[] = {{"", "", "", false},         {"", ":0", "", true},         {"", "", "wayland-0", true},
               {"offscreen", "", "", true}, {"xcb", "", "wayland-0", false}, {"wayland", ":0", "", false}};
  static const Case* current = nullptr;
  for (const Case& c : cases) {
    current = &c;
    const bool available = DisplayAvailable([](const char* name) -> const char* {
      const std::string_view variable = name;
      return variable == "QT_QPA_PLATFORM" ? current->platform
             : variable == "DISPLAY"       ? current->display
             : variable == "WAYLAND_DISPLAY" ? current->wayland
                                             : nullptr;
    });
    EXPECT_EQ(available, c.available) << c.platform << "|" << c.display << "|" << c.wayland;
  }
}

}  // namespace
}  // namespace orba
