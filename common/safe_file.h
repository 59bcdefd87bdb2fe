#pragma once
// Files the service writes (answers, stamp files, position work files, spool
// documents) are created so that they never follow a link and never reuse an
// existing file: the service may run as root, and the folders it writes are
// shared with other programs. Each file is written under a fresh hidden name
// in its own folder and then renamed into place, so that nobody ever reads
// half of it.

#include <cstddef>
#include <string>
#include <string_view>

namespace orba {

// A folder opened for the *at(2) calls: its last component is never a link
// (O_NOFOLLOW), so a folder swapped for a link is refused, not followed.
class Folder {
 public:
  explicit Folder(const std::string& path);
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // errno of the failed open, 0 when open.
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// Reads `folder`/`name`, opened without following a link and only when it is
// a regular file (a FIFO never makes the call wait), at most `max_bytes`.
// False with the reason in `error` otherwise.
bool ReadFileInFolder(const std::string& folder, const std::string& name, std::string& bytes, std::string& error,
                      std::size_t max_bytes);

// Reads the file open on `fd` (named `path` in messages) and closes it: only
// a regular file of at most `max_bytes`.
bool ReadRegularDescriptor(int fd, const std::string& path, std::string& bytes, std::string& error,
                           std::size_t max_bytes);

// Removes the temporary files that WriteFileSafely left in `folder` when the
// process ended in the middle of a write; returns how many.
int RemoveUnfinishedWrites(const std::string& folder);

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
// The same in a folder already open, named `directory` in messages.
bool WriteFileSafely(const Folder& folder, const std::string& directory, const std::string& name,
                     std::string_view content, Existing existing, std::string* error);

}  // namespace orba
