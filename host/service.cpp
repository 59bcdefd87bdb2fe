#include "host/service.h"

#include <pugixml.hpp>

#include "common/error_report.h"
#include "common/operator.h"
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

enum class ConfigurationLoad { Loaded, NotLoaded, Incomplete, BadDatabase };

// Loads ORBA.INI and reads the base folder from attribute SR of the first
// child of RO, and the database from BANCO. A file that does not load is not
// reported (the service then runs without a database); one that loads
// without RO or its first child, or with a database type it does not know, is.
ConfigurationLoad ReadConfiguration(const std::string& path, std::string& base_folder, DatabaseSetting& database,
                                    std::string& error) {
  pugi::xml_document document;
  if (!LoadXmlFile(path, document, error)) return ConfigurationLoad::NotLoaded;
  const pugi::xml_node root = document.child("RO");
  if (!root || !root.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; })) {
    return ConfigurationLoad::Incomplete;
  }
  base_folder = ReadXmlAttribute(root, 0, "SR", "");
  if (!ReadDatabaseSetting(root, database, error)) return ConfigurationLoad::BadDatabase;
  return ConfigurationLoad::Loaded;
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

  std::string configuration_error;
  const ConfigurationLoad first =
      ReadConfiguration(configuration, parameters_.BaseFolder, database_, configuration_error);
  parameters_.RequestFolder = parameters_.BaseFolder + "xml/Enviar";
  parameters_.AnswerFolder = parameters_.BaseFolder + "xml/Receber";
  version_label_ = kVersionLabel;

  const InstanceLock::Result lock = mode == StartMode::Serve ? lock_.Acquire(parameters_.SystemFolder)
                                                             : InstanceLock::Result::Acquired;
  switch (lock) {
    case InstanceLock::Result::Acquired:
      break;
    case InstanceLock::Result::HeldByAnother:
      op_.ShowMessage(kAlreadyRunning, "Aviso", MessageIcon::Critical);
      return false;  // nothing has been touched
    case InstanceLock::Result::Failed:
      op_.ShowMessage(std::string(kLockFailed) + InstanceLock::LockFilePath(parameters_.SystemFolder),
                      "Aviso", MessageIcon::Critical);
      return false;
  }
  if (first == ConfigurationLoad::Incomplete) return Refuse(kConfigurationIncomplete, "Aviso");
  if (first == ConfigurationLoad::BadDatabase) return Refuse(configuration_error, "Aviso");

  if (mode == StartMode::Serve) {
    EmptyExchangeFolders();
    if (!intake_.Open(parameters_.RequestFolder)) {
      op_.LogEvent("Pedidos em " + parameters_.RequestFolder + " procurados a cada 100 ms (" +
                   intake_.EventProblem() + ").");
    }
  }
  polling_.RequestFiles = ListFiles(parameters_.RequestFolder);
  polling_.AnswerFiles = ListFiles(parameters_.AnswerFolder);

  // Without a configuration there is no database: every request then fails
  // in its handler, as the installation's fault.
  if (first == ConfigurationLoad::Loaded && OpenDatabase()) {
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
    if (mode == StartMode::Serve && !CreateServiceTables()) return false;
  }
  polling_.Busy = false;
  return true;
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
}

bool Service::CheckBusinessDay() {
  session_.SqlClear();
  session_.SqlAppend("Select dt_dia from parametro_geral");
  Recordset rs;
  if (session_.OpenRecordset(session_.SqlText(), rs)) {
    ReportError(op_, &session_, "Não foi possível ler parametro_geral.");
    Stop();
    return false;
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
}

void Service::Poll() { OnPollingTimer(context_, &Dispatch, intake_, &stop_requested_); }

}  // namespace orba
