#pragma once

#include <optional>
#include <string>
#include <vector>

#include "exchange/folders.h"

namespace orba {

// What the polling cycle is working on, and what the window shows of it.
struct PollingState {
  std::string CurrentFile;     // the request's name, e.g. PEM0001.Xml
  std::string CurrentTmpFile;  // the same name with "Tmp" as extension
  std::string CurrentStem;     // the name without its extension
  std::string CurrentCode;     // first three characters of the name
  bool Busy = false;           // a cycle is running
  std::string Status = "Parado";          // "Parado" or "Executando..."
  std::vector<std::string> RequestFiles;  // files of the request folder
  std::vector<std::string> AnswerFiles;   // files of the answer folder
  FolderStamp AnswerStamp;                // the answer folder's when AnswerFiles was read
  // The answer's bytes, when a handler wrote its answer as text of its own
  // (the position document) and they must reach the handheld as written;
  // otherwise the document is saved. Cleared for every request.
  std::optional<std::string> AnswerBytes;
};

}  // namespace orba
