#pragma once
// End-to-end harness: a throw-away installation of the service (system
// folder with ORBA.INI, base folder with the exchange folders and ORBA.MDB,
// spool printers) and the real orbapda binary running on it.

#include <sys/types.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orba::test {
class ScratchDatabase;
}

namespace orba::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct InstallationOptions {
  // The database of the engine under test (test::TestServer()): ORBA.MDB in
  // the base folder, or a database of its own on the test server. Without
  // it, ORBA.INI still names one (on a server, one that does not exist).
  bool create_database = true;
  bool demo = true;             // db/demo.sql after db/schema.sql
  std::string sql;              // run after the scripts
  std::vector<std::string> printers = {"COZINHA", "BAR"};
  // ORBA.INI content; empty gives the usual one pointing at the base folder.
  // "{BASE}" stands for the base folder (ending in '/'). On a server the
  // BANCO element that names the database goes before the last "</RO>".
  std::string configuration;
};

class Installation {
 public:
  explicit Installation(const InstallationOptions& options = {});
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  fs::path root;
  fs::path system_dir;
  fs::path base;  // base folder; BasePrefix() is it with a trailing '/'
  fs::path requests;
  fs::path answers;
  fs::path fixed;
  fs::path spool;
  fs::path database;  // ORBA.MDB, which a server installation never has

  std::string BasePrefix() const { return base.string() + "/"; }
  bool OnServer() const;
  // The database of the installation, for opening sessions of one's own.
  const test::ScratchDatabase& scratch() const { return *scratch_; }

  // SQL straight on the database through a connection of our own (the
  // service keeps SQLite in WAL mode, so both can work on it). Fails the test on error.
  void Exec(const std::string& sql) const;
  // First column of the first row as text ("" for Null or no row).
  std::string Scalar(const std::string& sql) const;
  // Every row, every column as text.
  std::vector<std::vector<std::string>> Rows(const std::string& sql) const;
  // The names of the database's tables, sorted.
  std::vector<std::string> Tables() const;

  // Drops a request the way the synchronisation layer does: written as
  // NAME.part and renamed to NAME, so the service never sees half a file.
  void DropRequest(const std::string& name, const std::string& bytes) const;
  // Waits until the answer folder holds `name`; its bytes, or nothing on timeout.
  std::optional<std::string> WaitForAnswer(const std::string& name,
                                           std::chrono::milliseconds timeout = 5s) const;
  // Waits until `path` exists (or, with `present` false, is gone).
  bool WaitForPath(const fs::path& path, bool present = true, std::chrono::milliseconds timeout = 5s) const;

  // Sorted names of the files of a folder.
  static std::vector<std::string> FilesOf(const fs::path& folder);

 private:
  std::unique_ptr<test::ScratchDatabase> scratch_;
};

// The real binary, started headless on an installation.
class ServiceProcess {
 public:
  ServiceProcess() = default;
  ~ServiceProcess();  // kills a process still running
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Starts ORBA_BINARY --headless --system-dir ... --printer-spool ... plus
  // `extra` arguments; stdout and stderr go to files of the installation.
  bool Start(const Installation& installation, const std::vector<std::string>& extra = {});
  // Starts the binary with exactly these arguments (no defaults added).
  bool StartRaw(const Installation& installation, const std::vector<std::string>& arguments);

  // Waits until the service takes requests: a probe with a code nobody
  // serves is dropped until the service puts it in work (.Tmp). False when
  // the process ended or the timeout passed.
  bool WaitUntilServing(std::chrono::milliseconds timeout = 10s);

  bool Running();
  // Exit status after the process ended (-1 for a signal), or nothing on timeout.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout = 10s);
  // SIGTERM and wait; the exit status (or nothing when it did not end).
  std::optional<int> Terminate(std::chrono::milliseconds timeout = 10s);

  std::string Stderr() const;
  std::string Stdout() const;
  pid_t pid() const { return pid_; }

  // NAME=VALUE entries given to the next Start on top of the inherited
  // environment (an entry replaces the inherited one of the same name).
  std::vector<std::string> environment;

 private:
  bool Spawn(const std::vector<std::string>& arguments);

  const Installation* installation_ = nullptr;
  pid_t pid_ = -1;
  std::optional<int> status_;
  fs::path stdout_path_;
  fs::path stderr_path_;
  int run_ = 0;
};

// A suite whose tests share one service on one installation: started before
// its first test, stopped (with exit status 0) after its last. `Suite` is the
// fixture itself, so that every fixture has a service of its own.
template <typename Suite>
class SharedService : public ::testing::Test {
 protected:
  // `prepare` runs on the installation before the service starts.
  static void StartShared(const InstallationOptions& options = {}, std::vector<std::string> environment = {},
                          const std::function<void(Installation&)>& prepare = {}) {
    installation_ = std::make_unique<Installation>(options);
    if (prepare) prepare(*installation_);
    service_ = std::make_unique<ServiceProcess>();
    service_->environment = std::move(environment);
    ASSERT_TRUE(service_->Start(*installation_));
    ASSERT_TRUE(service_->WaitUntilServing()) << service_->Stderr();
  }
  static void TearDownTestSuite() {
    if (service_) {
      EXPECT_EQ(service_->Terminate(), 0) << service_->Stderr();
    }
    service_.reset();
    installation_.reset();
  }
  void SetUp() override {
    if (!service_ || !service_->Running()) FAIL() << "the service is not running";
  }
  static Installation& inst() { return *installation_; }

  static inline std::unique_ptr<Installation> installation_;
  static inline std::unique_ptr<ServiceProcess> service_;
};

// An STM request as a handheld sends it (ISO-8859-1 bytes); `mesa` in UTF-8.
std::string StmRequest(const std::string& mesa);
// Attributes of the first `local` element of an answer (values in UTF-8);
// empty when the answer does not parse.
std::map<std::string, std::string> LocalAttributes(const std::string& answer_bytes);

}  // namespace orba::e2e
