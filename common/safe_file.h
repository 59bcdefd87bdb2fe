#pragma once
// Files the service writes (answers, stamp files, position work files, spool
// documents) are created so that they never follow a link and never reuse an
// existing file: the service may run as root, and the folders it writes are
// shared with other programs. Each file is written under a fresh hidden name
// in its own folder and then renamed into place, so that nobody ever reads
// half of it.

#include <string>
#include <string_view>

namespace orba {

enum class Existing {
  Replace,  // an older file of that name is replaced in one step
  Keep,     // an older file of that name stays; the write fails instead
};

// Writes `content` into `folder`/`name`. The temporary file is
// ".orbapda-XXXXXXXX.part" in the same folder: it fits however long `name`
// is and never matches a request or answer pattern. False when the file could
// not be written (the reason in `error` when given); nothing is left behind.
bool WriteFileSafely(const std::string& folder, const std::string& name, std::string_view content,
                     Existing existing = Existing::Replace, std::string* error = nullptr);

}  // namespace orba
