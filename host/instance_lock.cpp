#include "host/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace orba {

namespace {

// A stable name for a folder, the same in every build (FNV-1a of its
// canonical path).
std::string LockName(const char* kind, const std::string& folder) {
  std::error_code ec;
  std::string key = std::filesystem::weakly_canonical(folder, ec).string();
  if (ec) key = folder;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  std::uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : key) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  char name[64];
  std::snprintf(name, sizeof name, "orbapda-%s-%016llx.lock", kind, static_cast<unsigned long long>(hash));
  return name;
}

std::string Reason(const std::string& what, int error) { return what + ": " + std::strerror(error); }

}  // namespace

InstanceLock::~InstanceLock() { Release(); }

std::string InstanceLock::LockFolder() {
  if (const char* runtime = std::getenv("RUNTIME_DIRECTORY"); runtime != nullptr && *runtime != '\0') {
    const std::string list = runtime;  // systemd joins several with ':'
    return list.substr(0, list.find(':'));
  }
  if (geteuid() == 0) return "/run/orbapda";
  if (const char* user_runtime = std::getenv("XDG_RUNTIME_DIR"); user_runtime != nullptr && *user_runtime == '/') {
    return std::string(user_runtime) + "/orbapda";
  }
  return "/tmp/orbapda-" + std::to_string(geteuid());
}

InstanceLock::Result InstanceLock::Acquire(const std::string& system_folder, const std::string& base_folder) {
  if (folder_fd_ >= 0) return Result::Acquired;
  folder_ = LockFolder();
  // A folder of our own; one that exists is used only when it is ours, not a
  // link, and nobody else may write in it.
  if (mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
    problem_ = Reason(folder_, errno);
    return Result::Failed;
  }
  folder_fd_ = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  if (folder_fd_ < 0 || fstat(folder_fd_, &st) != 0) {
    problem_ = Reason(folder_, errno);
    Release();
    return Result::Failed;
  }
  if (st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    problem_ = folder_ + ": a pasta da trava deve ser do usuário " + std::to_string(geteuid()) +
               " e só ele pode gravar nela";
    Release();
    return Result::Failed;
  }
  Result result = Take(held_[0], LockName("sistema", system_folder));
  if (result == Result::Acquired) result = Take(held_[1], LockName("base", base_folder));
  if (result != Result::Acquired) Release();
  return result;
}

InstanceLock::Result InstanceLock::Take(Held& slot, const std::string& name) {
  // A file removed by a stopping instance between our open and our flock is
  // not the lock any more: take the one under the name again.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = openat(folder_fd_, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      problem_ = Reason(folder_ + "/" + name, errno);
      return Result::Failed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      close(fd);
      if (error == EWOULDBLOCK) return Result::HeldByAnother;
      problem_ = Reason(folder_ + "/" + name, error);
      return Result::Failed;
    }
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) == 0 && fstatat(folder_fd_, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      slot = {name, fd};
      return Result::Acquired;
    }
    close(fd);
  }
  problem_ = folder_ + "/" + name + ": trava removida e criada sem parar";
  return Result::Failed;
}

void InstanceLock::Release() {
  // Removed while still held: a start waiting on the old file sees it gone.
  for (Held& held : held_) {
    if (held.fd < 0) continue;
    unlinkat(folder_fd_, held.name.c_str(), 0);
    close(held.fd);
    held = {{}, -1};
  }
  if (folder_fd_ >= 0) close(folder_fd_);
  folder_fd_ = -1;
}

}  // namespace orba
