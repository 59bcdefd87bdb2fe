#include "exchange/polling.h"

#include <exception>
#include <filesystem>
#include <set>
#include <string>

#include "common/database.h"
#include "common/general_parameters.h"
#include "common/operator.h"
#include "exchange/folders.h"
#include "exchange/polling_state.h"
#include "exchange/request_document.h"

namespace orba {

namespace {

namespace fs = std::filesystem;

std::string InFolder(const std::string& folder, const std::string& name) {
  return (fs::path(folder.empty() ? "." : folder) / name).string();
}

void RefreshFileLists(const GeneralParameters& parameters, PollingState& polling) {
  polling.RequestFiles = ListFiles(parameters.RequestFolder);
  polling.AnswerFiles = ListFiles(parameters.AnswerFolder);
}

// Takes one request through its states: .Xml -> .Tmp -> answer saved, .Tmp
// deleted. Returns false when the file could not be taken this time.
bool ServeRequest(Context& context, DispatchFunction dispatch, const std::string& name,
                  pugi::xml_document& document) {
  const GeneralParameters& parameters = context.parameters;
  PollingState& polling = context.polling;
  polling.Status = "Executando...";
  polling.CurrentFile = name;

  std::error_code ec;
  fs::remove(InFolder(parameters.AnswerFolder, name), ec);  // a stale answer of the same name

  polling.CurrentCode = name.substr(0, 3);
  polling.CurrentTmpFile = name.substr(0, name.size() - 3) + "Tmp";
  polling.CurrentStem = name.substr(0, name.size() - 4);

  const std::string request_path = InFolder(parameters.RequestFolder, name);
  const std::string work_path = InFolder(parameters.RequestFolder, polling.CurrentTmpFile);
  fs::rename(request_path, work_path, ec);
  if (ec) {
    // Still being written, or gone: it stays as it is for the next cycle.
    return false;
  }

  std::string error;
  if (!LoadRequestDocument(work_path, document, error)) {
    context.op.LogEvent("Pedido ilegível " + name + ": " + error);
  }
  bool answered = false;
  try {
    answered = dispatch(context, polling.CurrentCode, document);
  } catch (const std::exception& e) {
    // Handlers trap their own failures; one that slips through must not end
    // the service. The document is answered as it stands.
    answered = true;
    context.op.LogEvent("Falha no tratamento de " + name + ": " + e.what());
  } catch (...) {
    answered = true;
    context.op.LogEvent("Falha no tratamento de " + name);
  }
  // A transaction left open would block every later request.
  if (context.db.InTransaction()) context.db.RollbackTransaction();
  if (!answered) return true;  // unknown code: stays .Tmp

  std::string save_error;
  if (!SaveAnswerDocument(document, parameters.AnswerFolder, name, &save_error)) {
    context.op.LogEvent("Não foi possível gravar a resposta " + name + ": " + save_error);
  }
  fs::remove(work_path, ec);
  return true;
}

}  // namespace

void PollingCycle(Context& context, DispatchFunction dispatch) {
  PollingState& polling = context.polling;
  polling.Status = "Parado";
  RefreshFileLists(context.parameters, polling);
  polling.CurrentFile.clear();
  polling.CurrentTmpFile.clear();

  pugi::xml_document document;
  // A file that could not be taken is left for the next cycle instead of being
  // retried in a tight loop here.
  std::set<std::string> skipped;
  for (;;) {
    bool served_any = false;
    for (const std::string& name : ListFiles(context.parameters.RequestFolder, "Xml")) {
      if (skipped.count(name) != 0) continue;
      if (ServeRequest(context, dispatch, name, document)) {
        served_any = true;
      } else {
        skipped.insert(name);
      }
    }
    if (!served_any) break;
  }
  RefreshFileLists(context.parameters, polling);
}

void OnPollingTimer(Context& context, DispatchFunction dispatch) {
  PollingState& polling = context.polling;
  if (polling.Busy) return;
  polling.Busy = true;
  PollingCycle(context, dispatch);
  polling.Busy = false;
  polling.Status = "Parado";
}

}  // namespace orba
