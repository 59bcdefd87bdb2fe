#pragma once

#include <string>

namespace orba {

// One running service per system directory: an exclusive flock(2) on a lock
// file named after the directory, released by the kernel when the process ends.
class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  enum class Result { Acquired, HeldByAnother, Failed };
  // HeldByAnother when another process holds the lock of this system
  // directory; Failed when the lock file cannot be opened at all.
  Result Acquire(const std::string& system_folder);
  static std::string LockFilePath(const std::string& system_folder);

 private:
  int fd_ = -1;
};

}  // namespace orba
