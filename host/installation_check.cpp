#include "host/installation_check.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <pugixml.hpp>

#include "common/clock.h"
#include "common/database.h"
#include "common/operator.h"
#include "common/postgres_backend.h"
#include "common/text.h"
#include "common/xml_config.h"
#include "host/service.h"
#include "printing/routing.h"

namespace orba {

namespace {

// Keeps what start-up would have shown, for the check's own lines.
class CollectingOperator final : public Operator {
 public:
  void ShowMessage(std::string_view text, std::string_view title, MessageIcon) override {
    messages.push_back(OneLine(HeadlessOperator::FormatLine(Trim(text), Trim(title))));
  }
  void LogEvent(std::string_view text) override { messages.push_back(OneLine(text)); }

  std::vector<std::string> messages;

 private:
  static std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
  }
  // Runs of blanks (the trailing blanks of the message boxes) become one.
  static std::string OneLine(std::string_view text) {
    std::string line;
    for (const char c : Trim(text)) {
      if (c == ' ' && !line.empty() && line.back() == ' ') continue;
      line += c;
    }
    return line;
  }
};

class Report {
 public:
  explicit Report(std::ostream& out) : out_(out) {}
  void Ok(const std::string& text) { out_ << "OK " << text << '\n'; }
  void Warning(const std::string& text) { out_ << "AVISO " << text << '\n'; }
  void Error(const std::string& text) {
    out_ << "ERRO " << text << '\n';
    passed_ = false;
  }
  bool passed() const { return passed_; }

 private:
  std::ostream& out_;
  bool passed_ = true;
};

std::string UserName() {
  const uid_t uid = geteuid();
  const passwd* entry = getpwuid(uid);
  const std::string name = entry != nullptr ? entry->pw_name : std::to_string(uid);
  return name + " (uid " + std::to_string(uid) + ")";
}

std::string SystemError(int error) { return std::strerror(error); }

// Why this user cannot use `path` as a folder it lists and writes; empty when it can.
std::string FolderProblem(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return errno == ENOENT ? "não existe" : SystemError(errno);
  }
  if (!S_ISDIR(info.st_mode)) return "não é uma pasta";
  if (access(path.c_str(), R_OK | W_OK | X_OK) != 0) {
    return "sem permissão de leitura e escrita para este usuário (" + SystemError(errno) + ")";
  }
  return {};
}

// The same for a file it reads and writes.
std::string FileProblem(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return errno == ENOENT ? "não existe" : SystemError(errno);
  }
  if (!S_ISREG(info.st_mode)) return "não é um arquivo";
  if (access(path.c_str(), R_OK | W_OK) != 0) {
    return "sem permissão de leitura e escrita para este usuário (" + SystemError(errno) + ")";
  }
  return {};
}

// The base folder (and the database) from ORBA.INI; empty after reporting
// why there is none to use.
std::string CheckConfiguration(const std::string& system_folder, DatabaseSetting& database, Report& report) {
  const std::string path = system_folder + kConfigurationFile;
  if (access(path.c_str(), R_OK) != 0) {
    report.Error("ORBA.INI: não foi possível ler " + path + " (" + SystemError(errno) + ")");
    return {};
  }
  pugi::xml_document document;
  std::string error;
  if (!LoadXmlFile(path, document, error)) {
    report.Error("ORBA.INI: não é um XML válido: " + error);
    return {};
  }
  const pugi::xml_node root = document.child("RO");
  if (!root || !root.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; })) {
    report.Error("ORBA.INI: " + path + " sem o elemento RO ou sem o seu primeiro elemento filho");
    return {};
  }
  const std::string base = ReadXmlAttribute(root, 0, "SR", "");
  if (base.empty()) {
    report.Error("ORBA.INI: " + path + " sem a pasta base (atributo SR do primeiro elemento de RO)");
    return {};
  }
  if (base.front() != '/' || base.back() != '/') {
    // The folders are the base glued to "xml/Enviar": a relative base depends
    // on the folder the service starts in, one without '/' names other folders.
    report.Error("ORBA.INI: a pasta base SR=\"" + base +
                 "\" deve ser um caminho absoluto terminado em / (as pastas seriam " + base +
                 "xml/Enviar ...)");
    return {};
  }
  std::string database_error;
  if (!ReadDatabaseSetting(root, database, database_error)) {
    report.Error(TrimSpaces(database_error));
    return {};
  }
  report.Ok("ORBA.INI: " + path + ", pasta base " + base);
  if (database.server && ConnectionHoldsPassword(database.connection)) {
    report.Warning("ORBA.INI: CONEXAO contém uma senha; guarde-a em ~/.pgpass do usuário do serviço");
  }
  return base;
}

void CheckPrinterType(const std::string& system_folder, Report& report) {
  try {
    const PrinterSettings settings = ReadPrinterSettings(system_folder);
    PrinterTypeNumber(settings.type);
    report.Ok("tipo de impressão TP_IMPR: " + settings.type);
  } catch (const std::exception& e) {
    report.Error(std::string("tipo de impressão: ") + e.what());
  }
}

// Whether the base folder itself is usable (the database lives there).
bool CheckFolders(const std::string& base, Report& report) {
  bool base_usable = true;
  const struct {
    const char* label;
    std::string path;
  } folders[] = {{"pasta base", base},
                 {"pasta de pedidos", base + "xml/Enviar"},
                 {"pasta de respostas", base + "xml/Receber"},
                 {"pasta de controle", base + "xml/Fixos"}};
  for (const auto& folder : folders) {
    const std::string problem = FolderProblem(folder.path);
    if (problem.empty()) {
      report.Ok(std::string(folder.label) + ": " + folder.path);
    } else {
      report.Error(std::string(folder.label) + " " + folder.path + ": " + problem);
      if (folder.path == base) base_usable = false;
    }
  }
  return base_usable;
}

// The database file and the WAL files SQLite keeps beside it.
bool CheckDatabaseFiles(const std::string& base, Report& report) {
  const std::string path = base + kDatabaseFile;
  bool usable = true;
  for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
    if (file != path && access(file.c_str(), F_OK) != 0) continue;  // made when needed
    const std::string problem = FileProblem(file);
    if (!problem.empty()) {
      report.Error("banco de dados " + file + ": " + problem);
      usable = false;
    }
  }
  return usable;
}

void CheckDatabase(Service& service, const CollectingOperator& op, bool started, Report& report) {
  if (!started || !service.session().IsOpen()) {
    for (const std::string& message : op.messages) report.Error(message);
    if (op.messages.empty()) report.Error("banco de dados: não foi aberto");
    return;
  }
  const GeneralParameters& p = service.parameters();
  report.Ok("banco de dados: " + service.session().Description());
  report.Ok("dia de movimento aberto: " + p.BusinessDay);
  report.Ok("parâmetros gerais: empresa " + std::to_string(p.id_emp_orba) + " " + p.nm_emp +
            ", estabelecimento " + std::to_string(p.id_etb_orba) + ", filial " + p.sg_fil + ", modo " +
            (p.IsComandaMode() ? "comanda" : "mesa"));
}

// The installed printers, and the production printers of the database (when
// it can be read, also after start-up refused to go on) among them.
void CheckPrinters(PrinterSystem& printers, const DatabaseSetting* database, const std::string& database_folder,
                   Report& report) {
  std::vector<std::string> installed;
  try {
    installed = printers.InstalledPrinters();
  } catch (const std::exception& e) {
    report.Error(std::string("impressoras: ") + e.what());
    return;
  }
  if (installed.empty()) {
    const std::string why = printers.Unreachable();
    report.Error("impressoras: " + (why.empty() ? std::string("nenhuma impressora instalada") : why));
  } else {
    std::string names;
    for (const std::string& name : installed) names += (names.empty() ? "" : ", ") + name;
    report.Ok("impressoras instaladas: " + names + " (padrão: " + printers.CurrentPrinter() + ")");
  }

  if (database == nullptr) return;
  CollectingOperator op;
  DatabaseSession db(op);
  const bool opened = database->server ? db.OpenServer(database->connection)
                                        : db.OpenDatabase(kDatabaseFile, database_folder);
  if (!opened) return;  // reported above
  Recordset rs;
  if (db.OpenRecordset("Select id_imp, nm_end_imp from impressora order by id_imp", rs)) {
    report.Error("impressoras de produção: " + db.ProviderError());
    return;
  }
  for (; !rs.Eof(); rs.MoveNext()) {
    const std::string device = rs.Field("nm_end_imp").Text();
    if (TrimSpaces(device).empty()) continue;  // its items go out on the pre-bill
    const std::string label =
        "impressora de produção " + device + " (id_imp " + rs.Field("id_imp").Text() + ")";
    if (std::find(installed.begin(), installed.end(), device) != installed.end()) {
      report.Ok(label + ", " + printers.JobKind(device));
    } else {
      report.Error(label + ": não está instalada");
    }
  }
}

}  // namespace

bool CheckInstallation(const std::string& system_dir_option, std::unique_ptr<PrinterSystem> printers,
                       std::ostream& out) {
  Report report(out);
  report.Ok("usuário: " + UserName() + ", as permissões valem para ele");

  const std::string system_folder = SystemDirectory(system_dir_option);
  DatabaseSetting database;
  const std::string base = CheckConfiguration(system_folder, database, report);
  if (base.empty()) return false;
  CheckPrinterType(system_folder, report);

  // A database on a server has no files here to check.
  const bool folders_usable = CheckFolders(base, report);
  const bool database_usable = database.server || (folders_usable && CheckDatabaseFiles(base, report));

  CollectingOperator op;
  SystemClock clock;
  Service service(op, std::move(printers), clock);
  if (database_usable) {
    const bool started = service.Start(system_dir_option, Service::StartMode::Check);
    CheckDatabase(service, op, started, report);
  }
  service.Stop();
  CheckPrinters(service.context().printers, database_usable ? &database : nullptr, base, report);
  return report.passed();
}

}  // namespace orba
