#pragma once

#include <string>

namespace orba {

// One running service per system directory and per base folder: an exclusive
// flock(2) on one lock file for each, named after the folder, released by the
// kernel when the process ends and removed on a clean stop.
//
// The lock files live in a folder that only the service's user can write, so
// that nobody else can hold or plant them: the unit's RuntimeDirectory=
// ($RUNTIME_DIRECTORY), else a folder of its own with mode 0700 -
// /run/orbapda for root, $XDG_RUNTIME_DIR/orbapda (or /tmp/orbapda-UID) for
// another user. That folder must be the user's own and not a link.
class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  enum class Result { Acquired, HeldByAnother, Failed };
  // HeldByAnother when another process holds the lock of this system
  // directory or of this base folder; Failed (the reason in Problem()) when
  // the lock folder or a lock file cannot be used.
  Result Acquire(const std::string& system_folder, const std::string& base_folder);
  // Removes the lock files and lets them go.
  void Release();
  const std::string& Problem() const { return problem_; }

  // The folder where the lock files of this user live.
  static std::string LockFolder();

 private:
  struct Held {
    std::string name;
    int fd = -1;
  };
  Result Take(Held& slot, const std::string& name);

  int folder_fd_ = -1;
  std::string folder_;
  Held held_[2];  // the system directory's, the base folder's
  std::string problem_;
};

}  // namespace orba
