#pragma once

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
};

}  // namespace orba
