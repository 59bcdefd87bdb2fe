#pragma once
// What the benchmarks that run handlers in process share: an operator that
// writes to standard error, the installation's ORBA.INI read, and the day's
// parameters read from parametro_geral as the service does at start-up.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "common/database.h"
#include "common/general_parameters.h"
#include "common/operator.h"

namespace bench {

class QuietOperator final : public orba::Operator {
 public:
  void ShowMessage(std::string_view text, std::string_view title, orba::MessageIcon) override {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
                 static_cast<int>(text.size()), text.data());
  }
  void LogEvent(std::string_view text) override {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
};

// The values of one column of a query (a note in place of them when it fails).
inline std::vector<std::string> Query(orba::DatabaseSession& db, const std::string& sql, std::size_t column) {
  std::vector<std::string> values;
  orba::Recordset rs;
  if (db.OpenRecordset(sql, rs)) {
    values.push_back("(cannot run: " + db.ProviderError() + ")");
    return values;
  }
  for (; !rs.Eof(); rs.MoveNext()) values.push_back(rs.Field(column).Text());
  return values;
}

struct Installation {
  orba::GeneralParameters parameters;
  bool server = false;     // ORBA.INI names a PostgreSQL server in BANCO
  std::string connection;  // its libpq connection string
};

// Reads SYSTEM_DIR/ORBA.INI; false (with a message) when it cannot.
inline bool ReadInstallation(const std::string& system_dir, Installation& out) {
  pugi::xml_document configuration;
  if (!configuration.load_file((system_dir + "ORBA.INI").c_str())) {
    std::fprintf(stderr, "cannot read %sORBA.INI\n", system_dir.c_str());
    return false;
  }
  out.parameters.SystemFolder = system_dir;
  out.parameters.BaseFolder = configuration.child("RO").first_child().attribute("SR").value();
  out.parameters.RequestFolder = out.parameters.BaseFolder + "xml/Enviar";
  out.parameters.AnswerFolder = out.parameters.BaseFolder + "xml/Receber";
  const pugi::xml_node banco = configuration.child("RO").child("BANCO");
  out.server = std::string(banco.attribute("TIPO").value()) == "postgresql";
  out.connection = banco.attribute("CONEXAO").value();
  return true;
}

// The business day, company, establishment and branch, as the service reads them.
inline bool ReadDay(orba::DatabaseSession& db, orba::GeneralParameters& parameters) {
  const auto day = Query(db, "select dt_dia from parametro_geral", 0);
  const auto company = Query(db, "select id_emp_orba from parametro_geral", 0);
  const auto establishment = Query(db, "select id_etb_orba from parametro_geral", 0);
  const auto branch = Query(db, "select sg_fil from parametro_geral", 0);
  if (day.empty() || day[0].size() != 8 || company.empty() || establishment.empty() || branch.empty()) return false;
  parameters.BusinessDay = day[0].substr(6, 2) + "/" + day[0].substr(4, 2) + "/" + day[0].substr(0, 4);
  parameters.id_emp_orba = std::atoi(company[0].c_str());
  parameters.id_etb_orba = std::atoi(establishment[0].c_str());
  parameters.sg_fil = branch[0];
  return true;
}

}  // namespace bench
