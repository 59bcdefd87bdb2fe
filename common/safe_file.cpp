#include "common/safe_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace orba {

namespace {

std::string Describe(const std::string& what, int error_number) {
  return what + ": " + std::strerror(error_number);
}

constexpr std::string_view kTemporaryPrefix = ".orbapda-";
constexpr std::string_view kTemporarySuffix = ".part";
constexpr std::size_t kTemporaryDigits = 12;
constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

std::string TemporaryName() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string name(kTemporaryPrefix);
  for (std::size_t i = 0; i < kTemporaryDigits; ++i) name += kDigits[random() % (sizeof kDigits - 1)];
  return name + std::string(kTemporarySuffix);
}

// Exactly the names TemporaryName makes: another program's files stay.
bool IsTemporaryName(std::string_view name) {
  if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size()) return false;
  if (name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix) return false;
  if (name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix) return false;
  const std::string_view digits = name.substr(kTemporaryPrefix.size(), kTemporaryDigits);
  return digits.find_first_not_of(kDigits) == std::string_view::npos;
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

// Moves the written `temporary` to `name`, in place of a file of that name in
// one step: readers find the old file or the new one, never none. An old file
// is swapped with the new one and then removed, not renamed over: ext4 writes
// a file renamed over another out to the disk at once, a disk write that
// every order would wait for. Either way a link of that name is replaced
// itself, never what it points at. False with errno set.
bool PutInPlace(int dir, const std::string& temporary, const std::string& name) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EINVAL) return renameat(dir, temporary.c_str(), dir, name.c_str()) == 0;  // no renameat2 flags here
    if (errno != EEXIST) return false;
    if (renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_EXCHANGE) == 0) {
      if (unlinkat(dir, temporary.c_str(), 0) == 0) return true;
      // A folder of that name: swapped back, and refused as a rename over it is.
      const int refused = errno;
      renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_EXCHANGE);
      errno = refused;
      return false;
    }
    if (errno == EINVAL) return renameat(dir, temporary.c_str(), dir, name.c_str()) == 0;  // no swapping here
    if (errno != ENOENT) return false;  // removed meanwhile: the plain rename again
  }
  return false;
}

}  // namespace

Folder::Folder(const std::string& path)
    : fd_(open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)),
      error_(fd_ < 0 ? errno : 0) {}

Folder::~Folder() {
  if (fd_ >= 0) close(fd_);
}

bool ReadRegularDescriptor(int fd, const std::string& path, std::string& bytes, std::string& error,
                           std::size_t max_bytes) {
  bytes.clear();
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    error = path + ": não é um arquivo comum";
    return false;
  }
  if (static_cast<unsigned long long>(info.st_size) > max_bytes) {
    close(fd);
    error = path + ": arquivo grande demais (" + std::to_string(info.st_size) + " bytes)";
    return false;
  }
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // shrank while read: what was there
    done += static_cast<std::size_t>(got);
  }
  close(fd);
  bytes.resize(done);
  return true;
}

bool ReadFileInFolder(const std::string& folder, const std::string& name, std::string& bytes, std::string& error,
                      std::size_t max_bytes) {
  bytes.clear();
  const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + name;
  const Folder dir(folder);
  if (!dir.IsOpen()) {
    error = Describe(folder.empty() ? "." : folder, dir.error());
    return false;
  }
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const int fd = openat(dir.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ELOOP ? path + ": é um link, não é lido" : Describe(path, errno);
    return false;
  }
  return ReadRegularDescriptor(fd, path, bytes, error, max_bytes);
}

int RemoveUnfinishedWrites(const std::string& folder) {
  const Folder dir(folder);
  if (!dir.IsOpen()) return 0;
  const int listing = dup(dir.fd());
  DIR* entries = listing >= 0 ? fdopendir(listing) : nullptr;
  if (entries == nullptr) {
    if (listing >= 0) close(listing);
    return 0;
  }
  int removed = 0;
  while (const dirent* entry = readdir(entries)) {
    // unlinkat removes a link itself, never what it points at.
    if (IsTemporaryName(entry->d_name) && unlinkat(dir.fd(), entry->d_name, 0) == 0) ++removed;
  }
  closedir(entries);
  return removed;
}

bool WriteFileSafely(const std::string& folder, const std::string& name, std::string_view content,
                     Existing existing, std::string* error) {
  const std::string directory = folder.empty() ? std::string(".") : folder;
  const Folder folder_handle(folder);
  if (!folder_handle.IsOpen()) {
    if (error != nullptr) *error = Describe(directory, folder_handle.error());
    return false;
  }
  return WriteFileSafely(folder_handle, directory, name, content, existing, error);
}

bool WriteFileSafely(const Folder& folder, const std::string& directory, const std::string& name,
                     std::string_view content, Existing existing, std::string* error) {
  auto fail = [error](std::string reason) {
    if (error != nullptr) *error = std::move(reason);
    return false;
  };
  const int dir = folder.fd();

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
    return fail(Describe(directory + "/" + name, errno));
  }

  const bool written = WriteAll(fd, content);
  const int write_error = errno;
  const bool closed = close(fd) == 0;
  if (!written || !closed) {
    unlinkat(dir, temporary.c_str(), 0);
    return fail(Describe(directory + "/" + name, written ? errno : write_error));
  }
  const bool renamed = existing == Existing::Replace
                           ? PutInPlace(dir, temporary, name)
                           : renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0;
  if (!renamed) {
    const int saved = errno;
    unlinkat(dir, temporary.c_str(), 0);
    return fail(Describe(directory + "/" + name, saved));
  }
  return true;
}

}  // namespace orba
