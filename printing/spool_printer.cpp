#include "printing/spool_printer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <stdexcept>

#include "common/safe_file.h"
#include "common/text.h"

namespace orba {

namespace fs = std::filesystem;

SpoolPrinterSystem::SpoolPrinterSystem(std::string folder) : folder_(std::move(folder)) {}

std::vector<std::string> SpoolPrinterSystem::InstalledPrinters() {
  std::vector<std::string> names;
  DIR* entries = opendir(folder_.c_str());
  if (entries == nullptr) return names;
  while (const dirent* entry = readdir(entries)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    // The type the listing gives, so that a document does not cost a look
    // at every entry; asked for only where the file system does not tell.
    bool folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info {};
      folder = fstatat(dirfd(entries), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
    }
    if (folder) names.emplace_back(name);
  }
  closedir(entries);
  std::sort(names.begin(), names.end());
  return names;
}

std::string SpoolPrinterSystem::CurrentPrinter() {
  if (current_chosen_) return current_;
  const std::vector<std::string> installed = InstalledPrinters();
  std::string content;
  std::string error;
  if (ReadFileInFolder(folder_, "default", content, error, 4096)) {
    std::string wanted = content.substr(0, content.find('\n'));
    if (!wanted.empty() && wanted.back() == '\r') wanted.pop_back();
    if (std::find(installed.begin(), installed.end(), wanted) != installed.end()) return wanted;
  }
  return installed.empty() ? std::string() : installed.front();
}

void SpoolPrinterSystem::MakeCurrent(std::string_view device_name) {
  if (device_name != CurrentPrinter()) {
    font_name_.clear();
    font_size_.reset();
  }
  current_ = std::string(device_name);
  current_chosen_ = true;
}

void SpoolPrinterSystem::SetFont(std::string_view name, std::optional<double> size) {
  font_name_ = std::string(name);
  if (size) font_size_ = size;
}

void SpoolPrinterSystem::PrintLine(std::string_view line) { lines_.emplace_back(line); }

void SpoolPrinterSystem::EndDocument() {
  std::vector<std::string> lines;
  lines.swap(lines_);
  const std::string printer = CurrentPrinter();
  if (printer.empty()) throw std::runtime_error("Nenhuma impressora instalada");
  const std::string target = (fs::path(folder_) / printer).string();
  const Folder printer_folder(target);
  if (!printer_folder.IsOpen()) throw std::runtime_error("Impressora não encontrada: " + printer);
  struct stat info {};
  if (fstatat(printer_folder.fd(), "offline", &info, 0) == 0) throw std::runtime_error("Impressora desligada: " + printer);

  const long long last = LastNumber(printer, target);
  std::string content;
  for (const auto& line : lines) content += line + '\n';
  // A document never replaces a file, nor goes through a link: when the next
  // number is taken meanwhile, the one after it is tried.
  std::string name;
  std::string error;
  bool written = false;
  for (int attempt = 0; attempt < 100 && !written; ++attempt) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%06lld.txt", last + 1 + attempt);
    name = buffer;
    written = WriteFileSafely(printer_folder, target, name, content, Existing::Keep, &error);
    if (written) last_numbers_[printer] = last + 1 + attempt;
  }
  if (!written) throw std::runtime_error("Não foi possível gravar o documento em " + target + ": " + error);

  // The document is handed over; the font log is only a record of it.
  const std::string entry = printer + '/' + name + '\t' + font_name_ + '\t' +
                            (font_size_ ? FormatDecimal(*font_size_, '.') : std::string()) + '\n';
  const Folder spool(folder_);
  const int log = spool.IsOpen() ? openat(spool.fd(), "fonts.log", O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW |
                                                                       O_NONBLOCK | O_CLOEXEC, 0644)
                                 : -1;
  struct stat st {};
  // Appended to only as a file of its own: never into a FIFO or a hard link to another file.
  if (log >= 0 && fstat(log, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
    [[maybe_unused]] const auto ignored = write(log, entry.data(), entry.size());
  }
  if (log >= 0) close(log);
}

long long SpoolPrinterSystem::LastNumber(const std::string& printer, const std::string& folder) {
  if (const auto known = last_numbers_.find(printer); known != last_numbers_.end()) return known->second;
  // The highest number already in the folder (any number of digits, so that
  // a folder past 999999 documents never reuses a name).
  long long last = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) {
      const std::string stem = name.substr(0, name.size() - 4);
      if (!stem.empty() && stem.find_first_not_of("0123456789") == std::string::npos) {
        if (auto number = ParseInteger(stem)) last = std::max(last, *number);
      }
    }
  }
  if (ec) throw std::runtime_error("Não foi possível ler a pasta da impressora " + folder);
  return last_numbers_[printer] = last;
}

void SpoolPrinterSystem::RemoveLeftovers() {
  for (const std::string& printer : InstalledPrinters()) RemoveUnfinishedWrites((fs::path(folder_) / printer).string());
}

}  // namespace orba
