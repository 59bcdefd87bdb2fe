#include "host/installation_check.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "host/instance_lock.h"
#include "printing/spool_printer.h"
#include "support/test_database.h"

namespace orba {
namespace {

namespace fs = std::filesystem;

// A complete installation: ORBA.INI, base folder with the exchange folders and
// the demo database, spool printers for the demo's production printers.
class CheckedInstallation {
 public:
  CheckedInstallation() {
    for (const char* folder : {"xml/Enviar", "xml/Receber", "xml/Fixos"}) fs::create_directories(base() / folder);
    fs::create_directories(system());
    fs::create_directories(spool() / "COZINHA");
    fs::create_directories(spool() / "BAR");
    WriteIni("<RO><CONFIG SR=\"" + base().string() + "/\"/><IMPRESSORA TP_IMPR=\"0\"/></RO>");
    test::CreateDatabaseFile(base() / "ORBA.MDB", true);
  }
  fs::path root() const { return root_.path(); }
  fs::path base() const { return root_.path() / "loja"; }
  fs::path system() const { return root_.path() / "etc"; }
  fs::path spool() const { return root_.path() / "spool"; }
  void WriteIni(const std::string& xml) { test::WriteFile(system() / "ORBA.INI", xml); }
  void Sql(const std::string& sql) {
    test::RecordingOperator op;
    DatabaseSession session(op);
    ASSERT_TRUE(session.OpenDatabase("ORBA.MDB", base().string() + "/"));
    session.ExecuteSql(sql);
  }

  struct Outcome {
    bool passed;
    std::string lines;
    int errors;  // "ERRO" lines
  };
  Outcome Check() const {
    std::ostringstream out;
    const bool passed =
        CheckInstallation(system().string(), std::make_unique<SpoolPrinterSystem>(spool().string()), out);
    return Summarise(passed, out.str());
  }
  static Outcome Summarise(bool passed, const std::string& lines) {
    int errors = 0;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
      EXPECT_TRUE(line.starts_with("OK ") || line.starts_with("ERRO ") || line.starts_with("AVISO ")) << line;
      if (line.starts_with("ERRO ")) ++errors;
    }
    return {passed, lines, errors};
  }

 private:
  test::TempFolder root_;
};

TEST(InstallationCheck, GoodInstallationPassesBesideARunningServiceAndTouchesNothing) {
  CheckedInstallation inst;
  test::WriteFile(inst.base() / "xml/Enviar/STM1.Xml", "<local/>");
  test::WriteFile(inst.base() / "xml/Receber/STM2.Xml", "<local/>");
  InstanceLock running;  // the lock a running service holds
  ASSERT_EQ(running.Acquire(inst.system().string() + "/", inst.base().string() + "/"), InstanceLock::Result::Acquired);

  const auto outcome = inst.Check();
  EXPECT_TRUE(outcome.passed) << outcome.lines;
  EXPECT_EQ(outcome.errors, 0) << outcome.lines;
  const std::string base = inst.base().string() + "/";
  for (const std::string& line :
       {"OK ORBA.INI: " + inst.system().string() + "/ORBA.INI, pasta base " + base,
        "OK pasta de respostas: " + base + "xml/Receber", "OK banco de dados: " + base + "ORBA.MDB",
        std::string("OK dia de movimento aberto: 08/12/2026"),
        std::string("OK impressoras instaladas: BAR, COZINHA (padrão: BAR)"),
        std::string("OK impressora de produção COZINHA (id_imp 1), texto")}) {
    EXPECT_NE(outcome.lines.find(line + "\n"), std::string::npos) << line << "\n" << outcome.lines;
  }
  EXPECT_TRUE(fs::exists(inst.base() / "xml/Enviar/STM1.Xml"));
  EXPECT_TRUE(fs::exists(inst.base() / "xml/Receber/STM2.Xml"));
}

TEST(InstallationCheck, EachFaultFailsWithOneLineThatSaysWhy) {
  struct Case {
    const char* name;
    std::function<void(CheckedInstallation&)> spoil;
    std::function<std::string(const CheckedInstallation&)> line;
  } cases[] = {
      {"no ORBA.INI", [](CheckedInstallation& i) { fs::remove(i.system() / "ORBA.INI"); },
       [](const CheckedInstallation& i) {
         return "ERRO ORBA.INI: não foi possível ler " + i.system().string() + "/ORBA.INI";
       }},
      {"base folder without its final slash",
       [](CheckedInstallation& i) { i.WriteIni("<RO><CONFIG SR=\"" + i.base().string() + "\"/></RO>"); },
       [](const CheckedInstallation& i) {
         return "ERRO ORBA.INI: a pasta base SR=\"" + i.base().string() + "\" deve ser um caminho absoluto";
       }},
      {"printer type not a number",
       [](CheckedInstallation& i) {
         i.WriteIni("<RO><CONFIG SR=\"" + i.base().string() + "/\"/><IMPRESSORA TP_IMPR=\"x\"/></RO>");
       },
       [](const CheckedInstallation&) { return std::string("ERRO tipo de impressão: TP_IMPR"); }},
      {"missing exchange folder", [](CheckedInstallation& i) { fs::remove(i.base() / "xml/Fixos"); },
       [](const CheckedInstallation& i) {
         return "ERRO pasta de controle " + i.base().string() + "/xml/Fixos: não existe";
       }},
      {"missing database", [](CheckedInstallation& i) { fs::remove(i.base() / "ORBA.MDB"); },
       [](const CheckedInstallation& i) {
         return "ERRO banco de dados " + i.base().string() + "/ORBA.MDB: não existe";
       }},
      {"not a database", [](CheckedInstallation& i) { test::WriteFile(i.base() / "ORBA.MDB", "texto"); },
       [](const CheckedInstallation& i) {
         return "ERRO OrbaPDA: Não foi possível abrir o banco de dados " + i.base().string() + "/ORBA.MDB";
       }},
      {"business day not open", [](CheckedInstallation& i) { i.Sql("update parametro_geral set dt_dia = null"); },
       [](const CheckedInstallation&) {
         return std::string(
             "ERRO Aviso: Para iniciar o OrbaPDA é obrigatório a abertura do dia no OrbaOffLine.\n");
       }},
      {"production printer not installed", [](CheckedInstallation& i) { fs::remove(i.spool() / "BAR"); },
       [](const CheckedInstallation&) {
         return std::string("ERRO impressora de produção BAR (id_imp 2): não está instalada\n");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CheckedInstallation inst;
    c.spoil(inst);
    const auto outcome = inst.Check();
    EXPECT_FALSE(outcome.passed);
    EXPECT_EQ(outcome.errors, 1) << outcome.lines;
    EXPECT_NE(outcome.lines.find(c.line(inst)), std::string::npos) << outcome.lines;
  }
}

// Root may write anywhere, so as root the check runs in a child that became
// "nobody"; the rest of the installation is opened up for that user.
TEST(InstallationCheck, FolderTheUserCannotWriteFails) {
  CheckedInstallation inst;
  const fs::path answers = inst.base() / "xml/Receber";
  fs::permissions(answers, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  CheckedInstallation::Outcome outcome;
  if (geteuid() != 0) {
    outcome = inst.Check();
  } else {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody to drop root for";
    for (const fs::path& p : {inst.root(), inst.system(), inst.spool()}) {
      fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    }
    for (const fs::path& p : {inst.base(), inst.base() / "xml", inst.base() / "xml/Enviar",
                              inst.base() / "xml/Fixos"}) {
      fs::permissions(p, fs::perms::all);
    }
    fs::permissions(inst.base() / "ORBA.MDB", fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::group_write |
                                                  fs::perms::others_read | fs::perms::others_write);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipe_fds[0]);
      if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(3);
      std::ostringstream out;
      const bool passed =
          CheckInstallation(inst.system().string(), std::make_unique<SpoolPrinterSystem>(inst.spool().string()), out);
      const std::string text = out.str();
      if (write(pipe_fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(4);
      _exit(passed ? 0 : 1);
    }
    close(pipe_fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(pipe_fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_LE(WEXITSTATUS(status), 1) << "the child could not become nobody";
    outcome = CheckedInstallation::Summarise(WEXITSTATUS(status) == 0, text);
  }
  EXPECT_FALSE(outcome.passed);
  EXPECT_EQ(outcome.errors, 1) << outcome.lines;
  EXPECT_NE(outcome.lines.find("ERRO pasta de respostas " + answers.string() +
                               ": sem permissão de leitura e escrita para este usuário"),
            std::string::npos)
      << outcome.lines;
}

// The lock folder is the user's own, its files never links, removed when let go.
TEST(InstanceLockFile, NeverFollowsALinkNorUsesAFolderOthersMayWrite) {
  test::TempFolder folder;
  const fs::path run = folder.path() / "run";
  setenv("RUNTIME_DIRECTORY", run.c_str(), 1);
  std::vector<fs::path> lock_paths;
  {
    InstanceLock lock;
    ASSERT_EQ(lock.Acquire("/etc/orba/", "/srv/loja/"), InstanceLock::Result::Acquired) << lock.Problem();
    lock_paths.assign(fs::directory_iterator(run), {});  // one for each folder
    EXPECT_EQ(InstanceLock().Acquire("/etc/outro/", "/srv/loja/"), InstanceLock::Result::HeldByAnother);
  }
  ASSERT_EQ(lock_paths.size(), 2u);
  EXPECT_TRUE(fs::is_empty(run));
  for (const fs::path& path : lock_paths) {
    fs::create_symlink(folder.path() / "target", path);
    EXPECT_EQ(InstanceLock().Acquire("/etc/orba/", "/srv/loja/"), InstanceLock::Result::Failed);
    EXPECT_FALSE(fs::exists(folder.path() / "target"));
    fs::remove(path);
  }
  fs::permissions(run, fs::perms::all);  // others may write in it
  EXPECT_EQ(InstanceLock().Acquire("/etc/orba/", "/srv/loja/"), InstanceLock::Result::Failed);
  unsetenv("RUNTIME_DIRECTORY");
}

}  // namespace
}  // namespace orba
