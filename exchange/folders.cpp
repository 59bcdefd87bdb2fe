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

std::vector<std::string> ListFiles(const std::string& folder, std::string_view extension) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
    if (!extension.empty() && !HasExtension(name, extension)) continue;
    if (entry->d_type == DT_UNKNOWN) {
      std::error_code ec;
      if (!std::filesystem::is_regular_file(std::filesystem::path(folder) / name, ec)) continue;
    }
    names.emplace_back(name);
  }
  closedir(dir);
  return names;
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
