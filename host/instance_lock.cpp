#include "host/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace orba {

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

std::string InstanceLock::LockFilePath(const std::string& system_folder) {
  std::error_code ec;
  std::string key = std::filesystem::weakly_canonical(system_folder, ec).string();
  if (ec) key = system_folder;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  // FNV-1a: a stable name for the folder, the same in every build.
  std::uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : key) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  char name[64];
  std::snprintf(name, sizeof name, "orbapda-%016llx.lock", static_cast<unsigned long long>(hash));
  // /run/lock is the same for every process of the machine, also for a unit
  // with a private /tmp; the temporary folder serves where it is not writable.
  // A TMPDIR that names no folder must not end the start-up with an exception.
  std::filesystem::path folder = "/run/lock";
  if (access(folder.c_str(), W_OK) != 0) {
    folder = std::filesystem::temp_directory_path(ec);
    if (ec) folder = "/tmp";
  }
  return (folder / name).string();
}

InstanceLock::Result InstanceLock::Acquire(const std::string& system_folder) {
  if (fd_ >= 0) return Result::Acquired;
  const std::string path = LockFilePath(system_folder);
  // The file may belong to another user (the service's, a manual start as
  // root): flock needs only a read descriptor, and opening an existing file
  // without O_CREAT is allowed in a sticky folder under fs.protected_regular.
  // It is never a link.
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    // Another start created it in between: take that one.
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) return Result::Failed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return Result::HeldByAnother;
  }
  fd_ = fd;
  return Result::Acquired;
}

}  // namespace orba
