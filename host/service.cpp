#include "host/service.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <pugixml.hpp>

#include "common/error_report.h"
#include "common/operator.h"
#include "common/safe_file.h"
#include "common/service_tables.h"
#include "common/sql_text.h"
#include "common/text.h"
#include "common/xml_config.h"
#include "exchange/folders.h"
#include "exchange/polling.h"
#include "host/routes.h"
#include "orders/customer.h"

namespace orba {

namespace {

constexpr std::string_view kAlreadyRunning = "OrbaPDA já está sendo executado.     ";
constexpr std::string_view kNotConfigured = "ORBAOFFLINE ainda não configurado.     ";
constexpr std::string_view kDayNotOpen =
    "Para iniciar o OrbaPDA é obrigatório a abertura do dia no OrbaOffLine.     ";
constexpr std::string_view kParametersMissing = "OrbaOffLine não Configurado.     ";
constexpr std::string_view kConfigurationIncomplete =
    "ORBA.INI sem o elemento RO ou sem o seu primeiro elemento filho.     ";
constexpr std::string_view kLockFailed = "Não foi possível criar o arquivo de trava do OrbaPDA.     ";

// Loads ORBA.INI and reads the base folder from attribute SR of the first
// child of RO, and the database from BANCO. Without all of it the service
// cannot serve: false, with the reason in `error`.
bool ReadConfiguration(const std::string& path, std::string& base_folder, DatabaseSetting& database,
                       std::string& error) {
  pugi::xml_document document;
  if (!LoadXmlFile(path, document, error)) {
    error = "Sem configuração, o OrbaPDA não serve: " + error + ".     ";
    return false;
  }
  const pugi::xml_node root = document.child("RO");
  if (!root || !root.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; })) {
    error = kConfigurationIncomplete;
    return false;
  }
  base_folder = ReadXmlAttribute(root, 0, "SR", "");
  // The folders are the base glued to "xml/Enviar": a relative base would
  // depend on where the service starts, one without its '/' names other folders.
  if (base_folder.empty() || base_folder.front() != '/' || base_folder.back() != '/') {
    error = "ORBA.INI: a pasta base SR=\"" + base_folder + "\" de " + path +
            " deve ser um caminho absoluto terminado em /.     ";
    return false;
  }
  return ReadDatabaseSetting(root, database, error);
}

// The exchange folders must be folders of their own: through a link the
// service would empty and write another folder. xml/Fixos may be missing (an
// order then only warns that its stamp could not be kept).
bool CheckExchangeFolders(const std::string& base_folder, std::string& error) {
  for (const char* name : {"xml", "xml/Enviar", "xml/Receber", "xml/Fixos"}) {
    const std::string path = base_folder + name;
    struct stat st {};
    const bool optional = std::string_view(name) == "xml/Fixos";
    if (lstat(path.c_str(), &st) != 0) {
      if (optional && errno == ENOENT) continue;
      error = "A pasta " + path + " não pode ser usada: " + std::strerror(errno) + ".     ";
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      error = "A pasta " + path + (S_ISLNK(st.st_mode) ? " é um link" : " não é uma pasta") +
              ": o OrbaPDA só usa as suas próprias pastas.     ";
      return false;
    }
  }
  return true;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined.empty() ? "nenhuma" : joined;
}

}  // namespace

bool ReadDatabaseSetting(const pugi::xml_node& root, DatabaseSetting& setting, std::string& error) {
  setting = DatabaseSetting();
  const pugi::xml_node element = root.child("BANCO");
  if (!element) return true;
  const std::string type = UpperCase(TrimSpaces(element.attribute("TIPO").value()));
  if (type.empty() || type == "SQLITE") return true;
  if (type != "POSTGRESQL") {
    error = "ORBA.INI: tipo de banco de dados desconhecido em BANCO TIPO=\"" +
            std::string(element.attribute("TIPO").value()) + "\" (use sqlite ou postgresql).     ";
    return false;
  }
  setting.server = true;
  setting.connection = TrimSpaces(element.attribute("CONEXAO").value());
  return true;
}

Service::Service(Operator& op, std::unique_ptr<PrinterSystem> printers, const Clock& clock)
    : op_(op),
      printers_(std::move(printers)),
      clock_(clock),
      session_(op),
      context_{parameters_, session_, op_, clock_, polling_, customer_, *printers_} {
  session_.SetLockWait(DatabaseSession::kDefaultLockWait, &stop_requested_);
}

bool Service::Refuse(std::string_view text, std::string_view title) {
  op_.ShowMessage(text, title, MessageIcon::Critical);
  Stop();
  return false;
}

bool Service::Start(const std::string& system_dir_option, StartMode mode) {
  parameters_.SystemFolder = SystemDirectory(system_dir_option);
  const std::string configuration = parameters_.SystemFolder + kConfigurationFile;
  version_label_ = kVersionLabel;

  // Everything that can stop the start is checked before anything in the
  // exchange folders is touched.
  std::string error;
  if (!ReadConfiguration(configuration, parameters_.BaseFolder, database_, error)) return Refuse(error, "Aviso");
  parameters_.RequestFolder = parameters_.BaseFolder + "xml/Enviar";
  parameters_.AnswerFolder = parameters_.BaseFolder + "xml/Receber";

  const InstanceLock::Result lock = mode == StartMode::Serve
                                        ? lock_.Acquire(parameters_.SystemFolder, parameters_.BaseFolder)
                                        : InstanceLock::Result::Acquired;
  switch (lock) {
    case InstanceLock::Result::Acquired:
      break;
    case InstanceLock::Result::HeldByAnother:
      op_.ShowMessage(kAlreadyRunning, "Aviso", MessageIcon::Critical);
      return false;  // nothing has been touched
    case InstanceLock::Result::Failed:
      op_.ShowMessage(std::string(kLockFailed) + lock_.Problem(), "Aviso", MessageIcon::Critical);
      return false;
  }
  if (!CheckExchangeFolders(parameters_.BaseFolder, error)) return Refuse(error, "Aviso");
  // OpenDatabase has shown why it could not open.
  if (!OpenDatabase()) {
    Stop();
    return false;
  }
  if (!CheckBusinessDay()) return false;
  try {
    // Without the walk-in customer no sale can be written: the message has
    // been shown and the service stops.
    if (!LoadConsumerCustomer(session_, op_, customer_)) {
      Stop();
      return false;
    }
  } catch (const DatabaseError& e) {
    ReportError(op_, &session_, e.what(), "Não foi possível ler o consumidor.");
    Stop();
    return false;
  }
  if (!ReadGeneralParameters()) return false;
  if (mode == StartMode::Serve) {
    if (!CreateServiceTables()) return false;
    EmptyExchangeFolders();
    if (!intake_.Open(parameters_.RequestFolder)) {
      op_.LogEvent("Pedidos em " + parameters_.RequestFolder + " procurados a cada 100 ms (" +
                   intake_.EventProblem() + ").");
    }
  }
  polling_.RequestFiles = ListFiles(parameters_.RequestFolder);
  polling_.AnswerFiles = ListFiles(parameters_.AnswerFolder);
  if (mode == StartMode::Serve) op_.LogNotice(StartLine(configuration));
  polling_.Busy = false;
  return true;
}

std::string Service::StartLine(const std::string& configuration) const {
  return std::string("OrbaPDA ") + ORBA_VERSION + " (" + version_label_ + "): configuração " + configuration +
         ", pasta base " + parameters_.BaseFolder + ", banco " + DatabaseLine() + ", dia " + parameters_.BusinessDay + ", modo " + (parameters_.ComandaMode == "S" ? "comanda" : "mesa") +
         ", impressoras: " + JoinNames(printers_->InstalledPrinters());
}

std::string Service::DatabaseLine() const {
  return (session_.Engine() == DatabaseEngine::Postgresql ? "PostgreSQL " : "SQLite ") + session_.Description();
}

bool Service::OpenDatabase() {
  // On a server ORBA.MDB is neither opened nor created.
  if (database_.server) return session_.OpenServer(database_.connection);
  return session_.OpenDatabase(kDatabaseFile, parameters_.BaseFolder);
}

void Service::EmptyExchangeFolders() {
  // Requests that came while the service was down and answers nobody
  // collected belong to sessions that are over.
  for (const char* extension : {"Xml", "Tmp"}) DeleteFiles(parameters_.RequestFolder, extension);
  for (const char* extension : {"Xml", "Tmp", "Prc"}) DeleteFiles(parameters_.AnswerFolder, extension);
  // What a crash left half written under our own temporary names.
  for (const std::string& folder : {parameters_.RequestFolder, parameters_.AnswerFolder, parameters_.FixedFolder()}) {
    RemoveUnfinishedWrites(folder);
  }
  printers_->RemoveLeftovers();
}

bool Service::CheckBusinessDay() {
  session_.SqlClear();
  session_.SqlAppend("Select dt_dia from parametro_geral");
  Recordset rs;
  if (session_.OpenRecordset(session_.SqlText(), rs)) {
    // The database opened but is not the back office's.
    return Refuse("O banco de dados " + session_.Description() + " não tem a tabela parametro_geral (" +
                      session_.ProviderError() + "): carregue " +
                      (database_.server ? "db/schema-postgresql.sql" : "db/schema.sql") + ".     ",
                  "Aviso");
  }
  if (rs.Eof()) return Refuse(kNotConfigured, "Aviso");
  const Value& day = rs.Field("dt_dia");
  if (day.IsNull()) return Refuse(kDayNotOpen, "Aviso");
  parameters_.BusinessDay = ConvertDate(day.Text(), "dd/mm/yyyy");
  return true;
}

bool Service::ReadGeneralParameters() {
  session_.SqlClear();
  session_.SqlAppend("SELECT SERVERNAME, ");
  session_.SqlAppend("       ID_EMP_ORBA, ID_ETB_ORBA, ");
  session_.SqlAppend("       NM_EMP, SG_FIL , IC_TRA_CMD, IC_TRA_CMD_SEM_CTRL_ES ");
  session_.SqlAppend("FROM   PARAMETRO_GERAL");
  Recordset rs;
  try {
    rs = session_.Query(session_.SqlText());
    if (rs.Eof()) return Refuse(kParametersMissing, "ATENÇÃO");
    parameters_.id_etb_orba = rs.Field("ID_ETB_ORBA").Int32();
    parameters_.id_emp_orba = rs.Field("ID_EMP_ORBA").Int32();
    parameters_.nm_emp = rs.Field("NM_EMP").Text();
    parameters_.sg_fil = rs.Field("SG_FIL").Text();
    parameters_.servername = rs.Field("SERVERNAME").Text();
    const bool comanda = rs.Field("IC_TRA_CMD").Text() == "S" ||
                         rs.Field("IC_TRA_CMD_SEM_CTRL_ES").Text() == "S";
    parameters_.ComandaMode = comanda ? "S" : "N";
  } catch (const DatabaseError& e) {
    ReportError(op_, &session_, e.what(), "Não foi possível ler os parâmetros gerais.");
    Stop();
    return false;
  }
  return true;
}

bool Service::CreateServiceTables() {
  try {
    EnsureServiceTables(session_);
    return true;
  } catch (const DatabaseError& e) {
    ReportError(op_, &session_, e.what(), "Não foi possível criar as tabelas do OrbaPDA.");
    Stop();
    return false;
  }
}

void Service::Stop() {
  stop_requested_ = true;
  session_.CloseDatabase();
  lock_.Release();
}

void Service::Poll() { OnPollingTimer(context_, &Dispatch, intake_, &stop_requested_); }

}  // namespace orba
