#include "exchange/polling.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "common/database.h"
#include "common/safe_file.h"
#include "common/general_parameters.h"
#include "common/operator.h"
#include "exchange/folders.h"
#include "exchange/polling_state.h"
#include "exchange/request_document.h"
#include "exchange/request_intake.h"

namespace orba {

namespace {

namespace fs = std::filesystem;

std::string InFolder(const std::string& folder, const std::string& name) {
  return (fs::path(folder.empty() ? "." : folder) / name).string();
}

bool StopRequested(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

// The window's lists, read again only when their folder changed.
void RefreshFileLists(const GeneralParameters& parameters, PollingState& polling, RequestIntake& intake) {
  if (intake.TakeChange()) polling.RequestFiles = ListFiles(parameters.RequestFolder);
  const FolderStamp answers = FolderStamp::Of(parameters.AnswerFolder);
  if (!(answers == polling.AnswerStamp)) {
    polling.AnswerStamp = answers;
    polling.AnswerFiles = ListFiles(parameters.AnswerFolder);
  }
}

enum class Taken { Served, Gone, NotNow };

// Takes one request through its states: .Xml -> .Tmp -> answer saved, .Tmp
// deleted.
Taken ServeRequest(Context& context, DispatchFunction dispatch, const std::string& name,
                   pugi::xml_document& document, RequestIntake& intake) {
  const GeneralParameters& parameters = context.parameters;
  PollingState& polling = context.polling;
  polling.Status = "Executando...";
  polling.CurrentFile = name;
  polling.CurrentCode = name.substr(0, 3);
  polling.CurrentTmpFile = name.substr(0, name.size() - 3) + "Tmp";
  polling.CurrentStem = name.substr(0, name.size() - 4);

  const std::string request_path = InFolder(parameters.RequestFolder, name);
  const std::string work_path = InFolder(parameters.RequestFolder, polling.CurrentTmpFile);
  std::error_code ec;
  fs::rename(request_path, work_path, ec);
  if (ec) {
    // Gone (taken by someone else), or not movable now: it stays as it is
    // for the next cycle.
    return ec == std::errc::no_such_file_or_directory ? Taken::Gone : Taken::NotNow;
  }
  // From here on a new file of this name is a new request.
  intake.Forget(name);
  fs::remove(InFolder(parameters.AnswerFolder, name), ec);  // a stale answer of the same name

  std::string error;
  if (!LoadRequestDocument(parameters.RequestFolder, polling.CurrentTmpFile, document, error)) {
    context.op.LogEvent("Pedido ilegível " + name + ": " + error);
  }
  bool answered = false;
  polling.AnswerBytes.reset();
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
  if (!answered) return Taken::Served;  // unknown code: stays .Tmp

  std::string save_error;
  const bool saved = polling.AnswerBytes
                         ? WriteFileSafely(parameters.AnswerFolder, name, *polling.AnswerBytes, Existing::Replace,
                                           &save_error)
                         : SaveAnswerDocument(document, parameters.AnswerFolder, name, &save_error);
  polling.AnswerBytes.reset();
  if (!saved) {
    context.op.LogEvent("Não foi possível gravar a resposta " + name + ": " + save_error);
  }
  fs::remove(work_path, ec);
  return Taken::Served;
}

}  // namespace

void PollingCycle(Context& context, DispatchFunction dispatch, RequestIntake& intake, const std::atomic<bool>* stop) {
  PollingState& polling = context.polling;
  polling.Status = "Parado";
  polling.CurrentFile.clear();
  polling.CurrentTmpFile.clear();

  pugi::xml_document document;
  // A file that could not be taken is left for the next cycle instead of
  // being retried in a tight loop here.
  std::set<std::string> passed_over;
  intake.Update();
  while (!StopRequested(stop)) {
    const std::optional<std::string> name = intake.NextReady(IntakeTime::Now(), passed_over);
    if (!name) break;
    switch (ServeRequest(context, dispatch, *name, document, intake)) {
      case Taken::Served:
        break;
      case Taken::Gone:
        intake.Forget(*name);
        break;
      case Taken::NotNow:
        passed_over.insert(*name);
        break;
    }
    intake.Update();  // what arrived meanwhile is served in this cycle
  }
  for (const std::string& name : intake.TakeRefused()) {
    context.op.LogEvent("Pedido " + name + " deixado na pasta: não é um arquivo comum (link, FIFO ou outro).");
  }
  RefreshFileLists(context.parameters, polling, intake);
}

void OnPollingTimer(Context& context, DispatchFunction dispatch, RequestIntake& intake, const std::atomic<bool>* stop) {
  PollingState& polling = context.polling;
  if (StopRequested(stop)) return;
  if (polling.Busy) {
    // Read the events, so that their descriptor does not keep waking a
    // message box's event loop; the running cycle serves the files.
    intake.Update();
    return;
  }
  polling.Busy = true;
  PollingCycle(context, dispatch, intake, stop);
  polling.Busy = false;
  polling.Status = "Parado";
}

}  // namespace orba
