#include "exchange/folders.h"

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>

namespace orba {

bool HasExtension(std::string_view name, std::string_view extension) {
  if (name.size() < extension.size() + 1) return false;
  const std::string_view tail = name.substr(name.size() - extension.size());
  if (name[name.size() - extension.size() - 1] != '.') return false;
  for (std::size_t i = 0; i < extension.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(tail[i]) != lower(extension[i])) return false;
  }
  return true;
}

namespace {

std::vector<std::string> List(const std::string& folder, std::string_view extension, bool regular_only) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.empty() || name.front() == '.') continue;
    if (!extension.empty() && !HasExtension(name, extension)) continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + std::string(name);
      if (lstat(path.c_str(), &st) != 0) continue;
      type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_LNK;
    }
    if (type == DT_DIR || (regular_only && type != DT_REG)) continue;
    names.emplace_back(name);
  }
  closedir(dir);
  return names;
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& folder, std::string_view extension) {
  return List(folder, extension, true);
}

std::vector<std::string> ListEntries(const std::string& folder, std::string_view extension) {
  return List(folder, extension, false);
}

int DeleteFiles(const std::string& folder, std::string_view extension) {
  int deleted = 0;
  for (const auto& name : ListFiles(folder, extension)) {
    std::error_code ec;
    if (std::filesystem::remove(std::filesystem::path(folder) / name, ec)) ++deleted;
  }
  return deleted;
}

FolderStamp FolderStamp::Of(const std::string& folder) {
  FolderStamp stamp;
  struct stat st {};
  if (stat(folder.empty() ? "." : folder.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.inode = st.st_ino;
  stamp.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changed_ns = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

}  // namespace orba
