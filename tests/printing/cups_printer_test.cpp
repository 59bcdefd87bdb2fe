// The CUPS backend against a private cupsd: a child process whose files all
// live in a temporary folder and that listens only on a unix socket there.
// Its queues are raw ones on file: devices; the document bytes are checked in
// the job's spool file, which the daemon keeps (PreserveJobFiles).

#include "printing/cups_printer.h"

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/test_database.h"

extern char** environ;

namespace orba::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kCupsd = "/usr/sbin/cupsd";

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

bool SocketAccepts(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return ok;
}

std::string Tail(const fs::path& file, std::size_t size = 600) {
  std::error_code error;
  if (!fs::exists(file, error)) return "";
  const std::string text = ReadFile(file);
  return text.size() > size ? text.substr(text.size() - size) : text;
}

struct JobInfo {
  int id;
  std::string dest;
  std::string title;
  std::string format;
  ipp_jstate_t state;
};

class CupsPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(kCupsd, X_OK) != 0) {
      GTEST_SKIP() << kCupsd << " is not installed (Debian package cups-daemon)";
    }
    socket_ = (folder_.path() / "cups.sock").string();
    if (socket_.size() >= sizeof(sockaddr_un::sun_path)) {
      GTEST_SKIP() << "temporary folder path too long for a unix socket: " << socket_;
    }
    WriteConfiguration();
    if (const std::string why = StartDaemon(); !why.empty()) GTEST_SKIP() << "cupsd did not start: " << why;
    // libcups keeps the server per thread once it has read it; set both.
    setenv("CUPS_SERVER", socket_.c_str(), 1);
    cupsSetServer(socket_.c_str());
  }

  void TearDown() override {
    StopDaemon();
    cupsSetServer(nullptr);
    unsetenv("CUPS_SERVER");
  }

  void WriteConfiguration() {
    const fs::path& root = folder_.path();
    for (const char* sub : {"spool", "spool/tmp", "cache", "state", "log", "ppd", "out"}) {
      fs::create_directories(root / sub);
    }
    const std::string dir = root.string();
    WriteFile(root / "cupsd.conf",
              "Listen " + socket_ + "\n"
              "LogLevel warn\n"
              "Browsing No\n"
              "WebInterface No\n"
              "DefaultAuthType None\n"
              "PreserveJobFiles Yes\n"
              "PreserveJobHistory Yes\n"
              "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    // Run as root, cupsd keeps its own User/Group (lp) for the jobs' programs;
    // the raw queues on file: devices need none.
    WriteFile(root / "cups-files.conf",
              "ServerRoot " + dir + "\n"
              "RequestRoot " + dir + "/spool\n"
              "TempDir " + dir + "/spool/tmp\n"
              "CacheDir " + dir + "/cache\n"
              "StateDir " + dir + "/state\n"
              "ErrorLog " + dir + "/log/error_log\n"
              "AccessLog " + dir + "/log/access_log\n"
              "PageLog " + dir + "/log/page_log\n"
              "Printcap " + dir + "/printcap\n"
              "FileDevice Yes\n");
    // COZINHA is the default although BAR comes first by name; PARADA is
    // stopped (jobs wait), FECHADA rejects jobs.
    std::string printers;
    for (const std::string name : {"BAR", "COZINHA", "FECHADA", "PARADA"}) {
      const std::string tag = name == "COZINHA" ? "DefaultPrinter" : "Printer";
      printers += "<" + tag + " " + name + ">\n"
                  "DeviceURI file://" + dir + "/out/" + name + "\n"
                  "State " + (name == "PARADA" ? "Stopped\nStateMessage Sem papel" : "Idle") + "\n"
                  "Accepting " + (name == "FECHADA" ? "No" : "Yes") + "\n"
                  "Shared No\n"
                  "</" + tag + ">\n";
    }
    // TERMICA: a receipt printer at socket://127.0.0.1:PORT, where the test
    // listens, on a queue without a driver.
    printers += "<Printer TERMICA>\nDeviceURI socket://127.0.0.1:" + std::to_string(listener_.port) +
                "\nState Idle\nAccepting Yes\nShared No\n</Printer>\n";
    WriteFile(root / "printers.conf", printers);
  }

  // Empty when the daemon answers on its socket, else why not.
  std::string StartDaemon() {
    const std::string log = (folder_.path() / "log" / "stderr").string();
    const std::string conf = (folder_.path() / "cupsd.conf").string();
    const std::string files = (folder_.path() / "cups-files.conf").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv = {const_cast<char*>(kCupsd),      const_cast<char*>("-f"),
                               const_cast<char*>("-c"),        const_cast<char*>(conf.c_str()),
                               const_cast<char*>("-s"),        const_cast<char*>(files.c_str()),
                               nullptr};
    const int error = posix_spawn(&pid_, kCupsd, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      pid_ = -1;
      return std::string("posix_spawn: ") + std::strerror(error);
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (SocketAccepts(socket_)) return "";
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return "exited (status " + std::to_string(status) + "): " + Tail(log) +
               Tail(folder_.path() / "log" / "error_log");
      }
      std::this_thread::sleep_for(20ms);
    }
    StopDaemon();
    return "no answer on " + socket_ + " within 10 s: " + Tail(folder_.path() / "log" / "error_log");
  }

  void StopDaemon() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
    pid_ = -1;
  }

  static std::vector<JobInfo> Jobs() {
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
    std::vector<JobInfo> result;
    for (int i = 0; i < count; ++i) {
      result.push_back({jobs[i].id, jobs[i].dest, jobs[i].title ? jobs[i].title : "",
                        jobs[i].format ? jobs[i].format : "", jobs[i].state});
    }
    cupsFreeJobs(count, jobs);
    return result;
  }

  // The single job on `dest`; fails the test when there is not exactly one.
  static JobInfo OnlyJob(const std::string& dest) {
    std::vector<JobInfo> found;
    for (const auto& job : Jobs()) {
      if (job.dest == dest) found.push_back(job);
    }
    EXPECT_EQ(found.size(), 1u) << "jobs on " << dest;
    return found.empty() ? JobInfo{0, dest, "", "", IPP_JSTATE_ABORTED} : found.front();
  }

  static ipp_jstate_t WaitForEnd(int id) {
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const auto& job : Jobs()) {
        if (job.id == id) state = job.state;
      }
      if (state >= IPP_JSTATE_CANCELED) break;
      std::this_thread::sleep_for(20ms);
    }
    return state;
  }

  // The document as the daemon received it.
  std::string SpoolBytes(int id) const {
    char name[32];
    std::snprintf(name, sizeof(name), "d%05d-001", id);
    return ReadFile(folder_.path() / "spool" / name);
  }

  // A TCP port on 127.0.0.1 that takes one connection and keeps its bytes.
  struct Listener {
    int fd = -1;
    int port = 0;
    Listener() {
      fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t size = sizeof(address);
      if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(fd, 1) == 0 &&
          getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
      }
    }
    ~Listener() {
      if (fd >= 0) close(fd);
    }
    // What one connection sent; nothing when none came within `wait`.
    std::optional<std::string> Receive(std::chrono::milliseconds wait) const {
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(wait.count())) != 1) return std::nullopt;
      const int connection = accept(fd, nullptr, nullptr);
      if (connection < 0) return std::nullopt;
      std::string bytes;
      char buffer[4096];
      for (ssize_t n; (n = read(connection, buffer, sizeof(buffer))) > 0;) bytes.append(buffer, static_cast<std::size_t>(n));
      close(connection);
      return bytes;
    }
  };

  Listener listener_;
  TempFolder folder_;
  std::string socket_;
  pid_t pid_ = -1;
  // A user's default printer would otherwise beat the daemon's.
  ScopedEnv lpdest_{"LPDEST", nullptr};
  ScopedEnv printer_{"PRINTER", nullptr};
};

TEST_F(CupsPrinterTest, QueuesAreTheDestinationsAndTheDaemonsDefaultIsCurrent) {
  CupsPrinterSystem printers;
  EXPECT_EQ(printers.InstalledPrinters(),
            (std::vector<std::string>{"BAR", "COZINHA", "FECHADA", "PARADA", "TERMICA"}));
  EXPECT_EQ(printers.CurrentPrinter(), "COZINHA");
  printers.MakeCurrent("BAR");
  EXPECT_EQ(printers.CurrentPrinter(), "BAR");
}

// The queues of these tests are raw ones: text jobs are asked for.
const CupsSettings kText{"text/plain"};

TEST_F(CupsPrinterTest, EachDocumentIsOneTextJobHoldingItsLinesInUtf8) {
  CupsPrinterSystem printers(kText);
  printers.SetFont("Lucida Console", 12);
  printers.PrintLine("AÇÃO 1");
  printers.PrintLine("");
  printers.PrintLine("fim");
  printers.EndDocument();
  printers.MakeCurrent("BAR");
  printers.PrintLine("segundo");
  printers.EndDocument();

  const JobInfo kitchen = OnlyJob("COZINHA");
  const JobInfo bar = OnlyJob("BAR");
  EXPECT_EQ(kitchen.title, "OrbaPDA");
  EXPECT_EQ(kitchen.format, "text/plain");
  EXPECT_EQ(WaitForEnd(kitchen.id), IPP_JSTATE_COMPLETED);
  EXPECT_EQ(WaitForEnd(bar.id), IPP_JSTATE_COMPLETED);
  EXPECT_EQ(SpoolBytes(kitchen.id), "AÇÃO 1\n\nfim\n");
  EXPECT_EQ(SpoolBytes(bar.id), "segundo\n");
}

TEST_F(CupsPrinterTest, CodePageSettingGivesThePrintersBytes) {
  struct Case {
    const char* code_page;
    const char* printer;
    std::string bytes;
  };
  const Case cases[] = {
      {"ISO-8859-1", "BAR", "A\xC7\xC3O \xE9\n?\n"},
      {"cp860", "COZINHA", "A\x80\x8EO \x82\n?\n"},
  };
  for (const auto& c : cases) {
    CupsPrinterSystem printers(CupsSettings{"text/plain", c.code_page});
    printers.MakeCurrent(c.printer);
    printers.PrintLine("AÇÃO é");
    printers.PrintLine("€");
    printers.EndDocument();
    EXPECT_EQ(SpoolBytes(OnlyJob(c.printer).id), c.bytes) << c.code_page;
  }
}

TEST_F(CupsPrinterTest, RawQueueOfAReceiptPrinterGetsEscPosWithCodePageTallPlaceAndCut) {
  CupsPrinterSystem printers;
  EXPECT_EQ(printers.JobKind("TERMICA"), "ESC/POS");
  EXPECT_EQ(CupsPrinterSystem(kText).JobKind("TERMICA"), "texto");  // a format given is kept
  printers.MakeCurrent("TERMICA");
  printers.PrintLine("=====");
  printers.PrintPlaceLine("COMANDA: 150");
  printers.PrintLine("PÃO DE QUEIJO À MODA");
  printers.PrintLine("AÇAÍ €");
  printers.EndDocument();
  const JobInfo job = OnlyJob("TERMICA");
  EXPECT_EQ(job.format, "application/vnd.cups-raw");

  // The bytes as the printer gets them: from the listener when this CUPS has
  // its socket backend (Debian package cups), else as the daemon stored them.
  const bool backend = access("/usr/lib/cups/backend/socket", X_OK) == 0;
  const std::optional<std::string> received = backend ? listener_.Receive(10s) : std::nullopt;
  const std::string bytes = received ? *received : SpoolBytes(job.id);
  const std::string init = "\x1B@";
  const std::string code_page = "\x1Bt\x03";  // CP860
  const std::string tall = std::string("\x1B!\x10", 3), normal = std::string("\x1B!\x00", 3);
  const std::string cut = "\x1B" "d\x04\x1D" "V\x01";
  EXPECT_EQ(bytes, init + code_page + "=====\n" + tall + "COMANDA: 150\n" + normal +
                       "P\x8EO DE QUEIJO \x91 MODA\n" "A\x80" "A\x8B ?\n" + cut);
  if (backend) {
    EXPECT_TRUE(received.has_value()) << "nothing arrived on 127.0.0.1:" << listener_.port;
  }
}

TEST_F(CupsPrinterTest, MissingOrRejectingQueueThrowsAndItsLinesAreNotCarriedOver) {
  CupsPrinterSystem printers(kText);
  for (const char* queue : {"NAO_EXISTE", "FECHADA"}) {
    printers.MakeCurrent(queue);
    printers.PrintLine("perdida");
    EXPECT_THROW(printers.EndDocument(), std::runtime_error) << queue;
  }
  EXPECT_TRUE(Jobs().empty());

  printers.MakeCurrent("BAR");
  printers.PrintLine("nova");
  printers.EndDocument();
  EXPECT_EQ(SpoolBytes(OnlyJob("BAR").id), "nova\n");
}

TEST_F(CupsPrinterTest, StoppedQueueKeepsTheJobQueued) {
  CupsPrinterSystem printers(kText);
  printers.MakeCurrent("PARADA");
  printers.PrintLine("pedido 12");
  EXPECT_NO_THROW(printers.EndDocument());
  // A job on a working queue goes through meanwhile; the stopped one waits.
  printers.MakeCurrent("BAR");
  printers.PrintLine("outro");
  printers.EndDocument();
  EXPECT_EQ(WaitForEnd(OnlyJob("BAR").id), IPP_JSTATE_COMPLETED);

  const JobInfo queued = OnlyJob("PARADA");
  EXPECT_EQ(queued.state, IPP_JSTATE_PENDING);
  EXPECT_EQ(SpoolBytes(queued.id), "pedido 12\n");
}

TEST_F(CupsPrinterTest, DaemonGoneIsAFailureNotASilentLoss) {
  CupsPrinterSystem printers;
  ASSERT_EQ(printers.CurrentPrinter(), "COZINHA");
  EXPECT_EQ(printers.Unreachable(), "");
  StopDaemon();
  EXPECT_TRUE(printers.InstalledPrinters().empty());
  EXPECT_EQ(printers.Unreachable().rfind("o CUPS não está rodando (", 0), 0u) << printers.Unreachable();
  printers.MakeCurrent("COZINHA");
  printers.PrintLine("x");
  EXPECT_THROW(printers.EndDocument(), std::runtime_error);
}

}  // namespace
}  // namespace orba::test
