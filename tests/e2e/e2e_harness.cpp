#include "e2e_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include <pugixml.hpp>

#include "support/test_database.h"

extern char** environ;

namespace orba::e2e {

namespace {

constexpr auto kPollStep = 5ms;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

struct StringWriter : pugi::xml_writer {
  std::string bytes;
  void write(const void* data, std::size_t size) override {
    bytes.append(static_cast<const char*>(data), size);
  }
};

}  // namespace

// ------------------------------------------------------------ Installation

Installation::Installation(const InstallationOptions& options) {
  std::string pattern = (fs::temp_directory_path() / "orba-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root = pattern;
  system_dir = root / "etc";
  base = root / "loja";
  requests = base / "xml" / "Enviar";
  answers = base / "xml" / "Receber";
  fixed = base / "xml" / "Fixos";
  spool = root / "spool";
  database = base / "ORBA.MDB";
  for (const fs::path& folder : {system_dir, requests, answers, fixed, spool}) fs::create_directories(folder);
  for (const std::string& printer : options.printers) fs::create_directories(spool / printer);

  scratch_ = std::make_unique<test::ScratchDatabase>(base, options.demo, options.create_database);
  std::string configuration =
      options.configuration.empty()
          ? "<RO><CONFIG SR=\"{BASE}\"/><IMPRESSORA TP_IMPR=\"0\"/></RO>"
          : options.configuration;
  if (const std::size_t end = configuration.rfind("</RO>"); end != std::string::npos) {
    configuration.insert(end, scratch_->ConfigurationElement());
  }
  test::WriteFile(system_dir / "ORBA.INI", ReplaceAll(configuration, "{BASE}", BasePrefix()));
  if (options.create_database && !options.sql.empty()) Exec(options.sql);
}

Installation::~Installation() {
  scratch_.reset();
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

bool Installation::OnServer() const { return scratch_->OnServer(); }

void Installation::Exec(const std::string& sql) const {
  try {
    scratch_->Script(sql);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "SQL failed: " << e.what() << "\n" << sql;
  }
}

std::vector<std::vector<std::string>> Installation::Rows(const std::string& sql) const {
  test::RecordingOperator op;
  DatabaseSession session(op);
  std::vector<std::vector<std::string>> rows;
  if (!scratch_->Open(session)) {
    ADD_FAILURE() << "cannot open the database: " << (op.messages.empty() ? "" : op.messages[0].text);
    return rows;
  }
  session.SetLockWait(std::chrono::seconds(5));
  Recordset rs;
  if (session.OpenRecordset(OnServer() ? test::NameSubqueries(sql) : sql, rs)) {
    ADD_FAILURE() << "query failed: " << session.ProviderError() << "\n" << sql;
    return rows;
  }
  for (; !rs.Eof(); rs.MoveNext()) {
    std::vector<std::string> row;
    for (std::size_t i = 0; i < rs.FieldCount(); ++i) row.push_back(rs.Field(i).Text());
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::string> Installation::Tables() const {
  const std::string sql = OnServer() ? "select table_name from information_schema.tables "
                                       "where table_schema = 'public' order by table_name"
                                     : "select name from sqlite_master where type = 'table' order by name";
  std::vector<std::string> tables;
  for (const auto& row : Rows(sql)) tables.push_back(row.at(0));
  return tables;
}

std::string Installation::Scalar(const std::string& sql) const {
  const auto rows = Rows(sql);
  return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
}

void Installation::DropRequest(const std::string& name, const std::string& bytes) const {
  const fs::path partial = requests / (name + ".part");
  test::WriteFile(partial, bytes);
  fs::rename(partial, requests / name);
}

bool Installation::WaitForPath(const fs::path& path, bool present, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::error_code ec;
    if (fs::exists(path, ec) == present) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollStep);
  }
}

std::optional<std::string> Installation::WaitForAnswer(const std::string& name,
                                                       std::chrono::milliseconds timeout) const {
  if (!WaitForPath(answers / name, true, timeout)) return std::nullopt;
  return test::ReadFile(answers / name);
}

std::vector<std::string> Installation::FilesOf(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// ---------------------------------------------------------- ServiceProcess

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

bool ServiceProcess::Start(const Installation& installation, const std::vector<std::string>& extra) {
  std::vector<std::string> arguments = {"--headless", "--system-dir", installation.system_dir.string(),
                                        "--printer-spool", installation.spool.string()};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return StartRaw(installation, arguments);
}

bool ServiceProcess::StartRaw(const Installation& installation, const std::vector<std::string>& arguments) {
  installation_ = &installation;
  ++run_;
  const std::string tag = std::to_string(getpid()) + "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) +
                          "-" + std::to_string(run_);
  stdout_path_ = installation.root / ("orbapda-" + tag + ".out");
  stderr_path_ = installation.root / ("orbapda-" + tag + ".err");
  std::vector<std::string> argv_text = {ORBA_BINARY};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  return Spawn(argv_text);
}

bool ServiceProcess::Spawn(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdout_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  // Nothing points the service at another installation; its locks stay in this one.
  std::vector<std::string> environment_text = {"RUNTIME_DIRECTORY=" + (installation_->root / "run").string()};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    if (text.rfind("ORBA_SYSTEM_DIR=", 0) == 0 || text.rfind("ORBA_PRINTER_SPOOL=", 0) == 0 ||
        text.rfind("RUNTIME_DIRECTORY=", 0) == 0) {
      continue;
    }
    const std::string_view name = text.substr(0, text.find('=') + 1);
    const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const std::string& extra) {
      return std::string_view(extra).substr(0, extra.find('=') + 1) == name;
    });
    if (!replaced) environment_text.emplace_back(text);
  }
  environment_text.insert(environment_text.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& entry : environment_text) envp.push_back(entry.data());
  envp.push_back(nullptr);

  status_.reset();
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << rc;
    return false;
  }
  return true;
}

bool ServiceProcess::Running() {
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  const pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  return true;
}

std::optional<int> ServiceProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kPollStep);
  }
  return status_;
}

std::optional<int> ServiceProcess::Terminate(std::chrono::milliseconds timeout) {
  if (Running()) kill(pid_, SIGTERM);
  return WaitForExit(timeout);
}

bool ServiceProcess::WaitUntilServing(std::chrono::milliseconds timeout) {
  const std::string stem = "ZZPROBE" + std::to_string(getpid());
  const fs::path waiting = installation_->requests / (stem + ".Xml");
  const fs::path in_work = installation_->requests / (stem + ".Tmp");
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::error_code ec;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!Running()) return false;
    if (fs::exists(in_work, ec)) {
      fs::remove(in_work, ec);
      return true;
    }
    // The start-up empties the request folder: drop the probe again until
    // the polling cycle takes it.
    if (!fs::exists(waiting, ec)) installation_->DropRequest(stem + ".Xml", "<probe/>");
    std::this_thread::sleep_for(kPollStep);
  }
  return false;
}

std::string ServiceProcess::Stderr() const {
  std::error_code ec;
  return fs::exists(stderr_path_, ec) ? test::ReadFile(stderr_path_) : std::string();
}

std::string ServiceProcess::Stdout() const {
  std::error_code ec;
  return fs::exists(stdout_path_, ec) ? test::ReadFile(stdout_path_) : std::string();
}

// ----------------------------------------------------------------- helpers

std::string StmRequest(const std::string& mesa) {
  pugi::xml_document request;
  pugi::xml_node declaration = request.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "ISO-8859-1";
  pugi::xml_node local = request.append_child("local");
  local.append_attribute("mesa") = mesa.c_str();
  for (const char* name : {"status", "mensagem", "ambiente", "posisaoAss", "tipoConta", "pessoas"}) {
    local.append_attribute(name) = "";
  }
  StringWriter writer;
  request.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_latin1);
  return writer.bytes;
}

std::map<std::string, std::string> LocalAttributes(const std::string& answer_bytes) {
  std::map<std::string, std::string> attributes;
  pugi::xml_document answer;
  if (!answer.load_buffer(answer_bytes.data(), answer_bytes.size())) return attributes;
  const pugi::xml_node local = answer.select_node("//local").node();
  for (pugi::xml_attribute attribute : local.attributes()) attributes[attribute.name()] = attribute.value();
  return attributes;
}

}  // namespace orba::e2e
