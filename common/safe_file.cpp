#include "common/safe_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace orba {

namespace {

std::string Describe(const std::string& what, int error_number) {
  return what + ": " + std::strerror(error_number);
}

std::string TemporaryName() {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string name = ".orbapda-";
  for (int i = 0; i < 12; ++i) name += kDigits[random() % (sizeof kDigits - 1)];
  return name + ".part";
}

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t written = write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

bool WriteFileSafely(const std::string& folder, const std::string& name, std::string_view content,
                     Existing existing, std::string* error) {
  auto fail = [error](std::string reason) {
    if (error != nullptr) *error = std::move(reason);
    return false;
  };
  const std::string directory = folder.empty() ? std::string(".") : folder;
  const int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return fail(Describe(directory, errno));

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary = TemporaryName();
    // O_EXCL never opens an existing file, and with O_CREAT it never follows
    // a link either, whatever the link points at.
    fd = openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int saved = errno;
    close(dir);
    return fail(Describe(directory + "/" + name, saved));
  }

  const bool written = WriteAll(fd, content);
  const int write_error = errno;
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    unlinkat(dir, temporary.c_str(), 0);
    close(dir);
    return fail(Describe(directory + "/" + name, written ? errno : write_error));
  }
  // rename() replaces a link of that name itself, never what it points at.
  const int renamed = existing == Existing::Replace
                          ? renameat(dir, temporary.c_str(), dir, name.c_str())
                          : renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_NOREPLACE);
  if (renamed != 0) {
    const int saved = errno;
    unlinkat(dir, temporary.c_str(), 0);
    close(dir);
    return fail(Describe(directory + "/" + name, saved));
  }
  close(dir);
  return true;
}

}  // namespace orba
