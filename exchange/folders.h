#pragma once
// Files of the exchange folders, matched by extension without regard to case,
// in the order the file system lists them (nothing here sorts).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orba {

// True when `name` ends with "." + extension, compared without regard to case.
bool HasExtension(std::string_view name, std::string_view extension);

// Names (not paths) of the regular files of `folder` with that extension; all
// regular files when the extension is empty. A missing folder lists nothing.
// Names beginning with '.' (other programs' temporary files) are never listed.
std::vector<std::string> ListFiles(const std::string& folder, std::string_view extension = {});

// The same, with links, FIFOs and other special files too (not folders): the
// names the request intake must look at, if only to leave them alone.
std::vector<std::string> ListEntries(const std::string& folder, std::string_view extension);

// Deletes every file of `folder` with that extension; returns how many.
int DeleteFiles(const std::string& folder, std::string_view extension);

// What stat(2) says of a folder itself. It changes whenever a name is added
// to, removed from or renamed in the folder, so an unchanged stamp spares a
// listing. A folder that cannot be read has the stamp of a missing one.
struct FolderStamp {
  bool exists = false;
  std::uint64_t inode = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;

  static FolderStamp Of(const std::string& folder);
  bool operator==(const FolderStamp&) const = default;
};

}  // namespace orba
