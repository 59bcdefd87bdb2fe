#pragma once
// The process-wide objects of the service and its start-up and stop sequence.
// The runners (headless or window) create one Service and drive its timers.

#include <atomic>
#include <memory>
#include <string>

#include <pugixml.hpp>

#include "common/clock.h"
#include "common/context.h"
#include "common/database.h"
#include "common/general_parameters.h"
#include "exchange/polling_state.h"
#include "exchange/request_intake.h"
#include "host/instance_lock.h"
#include "orders/customer.h"
#include "printing/printer_system.h"

namespace orba {

class Operator;

// The installation's database: the element BANCO under RO in ORBA.INI,
// <BANCO TIPO="postgresql" CONEXAO="host=db.loja dbname=orba user=orbapda"/>,
// names a PostgreSQL server by a libpq connection string; without it, or
// with TIPO="sqlite", the database is ORBA.MDB in the base folder.
struct DatabaseSetting {
  bool server = false;
  std::string connection;
};
// False, with the reason, for a TIPO that is neither sqlite nor postgresql.
bool ReadDatabaseSetting(const pugi::xml_node& root, DatabaseSetting& setting, std::string& error);

inline constexpr const char* kVersionLabel = "20/08/2008 - Release 9";
inline constexpr const char* kDatabaseFile = "ORBA.MDB";
inline constexpr const char* kConfigurationFile = "ORBA.INI";

class Service {
 public:
  Service(Operator& op, std::unique_ptr<PrinterSystem> printers, const Clock& clock);

  // Serve: the whole start-up. Check: the same without the single-instance
  // lock and without emptying the exchange folders, for an installation check
  // that may run beside the service.
  enum class StartMode { Serve, Check };
  // Start-up in its fixed order. False when start-up refused to go on (no
  // usable configuration, exchange folder, database or schema, another
  // instance, business day not open): the message has been shown, nothing in
  // the exchange folders was touched, the session is closed and the process
  // must end with status 1. On success one line says what it serves.
  bool Start(const std::string& system_dir_option, StartMode mode = StartMode::Serve);
  // The stop sequence: closes the session and removes the lock.
  void Stop();

  // Timer1's event and the wake-up when a request arrives: a polling cycle,
  // unless one is running or a stop was requested.
  void Poll();
  // Set from SIGTERM and SIGINT (by the signal watcher's thread) and by Stop:
  // the polling cycle takes no further request, and a wait for the back
  // office's lock on the database ends at once.
  std::atomic<bool>& stop_requested() { return stop_requested_; }
  // The request folder, watched from the start-up on.
  RequestIntake& intake() { return intake_; }

  Context& context() { return context_; }
  GeneralParameters& parameters() { return parameters_; }
  PollingState& polling() { return polling_; }
  DatabaseSession& session() { return session_; }
  const DatabaseSetting& database_setting() const { return database_; }
  const std::string& VersionLabel() const { return version_label_; }
  // The database in use, engine and where (never a password): the start-up
  // line and the window show it alike.
  std::string DatabaseLine() const;

 private:
  void EmptyExchangeFolders();
  bool CheckBusinessDay();
  bool ReadGeneralParameters();
  bool CreateServiceTables();
  bool Refuse(std::string_view text, std::string_view title);
  // The one line that says what this start serves (never a password).
  std::string StartLine(const std::string& configuration) const;
  bool OpenDatabase();

  Operator& op_;
  std::unique_ptr<PrinterSystem> printers_;
  const Clock& clock_;
  GeneralParameters parameters_;
  DatabaseSession session_;
  PollingState polling_;
  CustomerRecord customer_;
  DatabaseSetting database_;
  InstanceLock lock_;
  RequestIntake intake_;
  std::atomic<bool> stop_requested_{false};
  std::string version_label_;
  Context context_;
};

}  // namespace orba
