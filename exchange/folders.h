#pragma once
// Files of the exchange folders, matched by extension without regard to case,
// in the order the file system lists them (nothing here sorts).

#include <string>
#include <string_view>
#include <vector>

namespace orba {

// True when `name` ends with "." + extension, compared without regard to case.
bool HasExtension(std::string_view name, std::string_view extension);

// Names (not paths) of the regular files of `folder` with that extension; all
// regular files when the extension is empty. A missing folder lists nothing.
std::vector<std::string> ListFiles(const std::string& folder, std::string_view extension = {});

// Deletes every file of `folder` with that extension; returns how many.
int DeleteFiles(const std::string& folder, std::string_view extension);

}  // namespace orba
