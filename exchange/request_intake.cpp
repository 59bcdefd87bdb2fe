#include "exchange/request_intake.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unordered_set>
#include <vector>

namespace orba {

namespace {

constexpr std::uint32_t kWatchedEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                                         IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

std::int64_t Nanoseconds(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

// File systems whose files may be written by another machine: no event here
// tells of those writes, and the client may cache what stat(2) says.
bool IsNetworkFileSystem(const std::string& folder) {
  struct statfs fs {};
  if (statfs(folder.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE (sshfs and the like)
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
    case 0x5346414FUL:  // AFS
    case 0x73757245UL:  // Coda
    case 0x564CUL:      // NCP
      return true;
    default:
      return false;
  }
}

std::string Describe(int error) { return std::strerror(error); }

}  // namespace

IntakeTime IntakeTime::Now() { return {std::chrono::steady_clock::now(), std::chrono::system_clock::now()}; }

RequestIntake::~RequestIntake() { Close(); }

void RequestIntake::Close() {
  if (inotify_fd_ >= 0) close(inotify_fd_);
  inotify_fd_ = -1;
  watch_ = -1;
}

bool RequestIntake::Open(const std::string& folder, Events events, IntakeTime now) {
  Close();
  folder_ = folder.empty() ? std::string(".") : folder;
  use_events_ = events == Events::Use;
  entries_.clear();
  index_.clear();
  listed_ = false;
  listing_needed_ = false;
  listings_ = 0;
  changed_ = true;
  event_problem_.clear();
  network_ = IsNetworkFileSystem(folder_);

  if (!use_events_) {
    event_problem_ = "sem eventos de arquivo";
  } else {
    inotify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd_ < 0) {
      event_problem_ = "inotify: " + Describe(errno);
    } else {
      Watch();
    }
  }
  // Watching before listing: nothing falls between the two.
  List(now);
  seen_stamp_ = listed_stamp_;
  if (network_ && event_problem_.empty()) {
    event_problem_ = "pasta de rede: o que outra máquina grava não gera eventos aqui";
  }
  return watch_ >= 0 && !network_;
}

bool RequestIntake::Watch() {
  if (inotify_fd_ < 0) return false;
  const int watch = inotify_add_watch(inotify_fd_, folder_.c_str(), kWatchedEvents);
  if (watch < 0) {
    event_problem_ = "inotify: " + Describe(errno);
    return false;
  }
  watch_ = watch;
  event_problem_.clear();
  return true;
}

void RequestIntake::Update(IntakeTime now) {
  if (folder_.empty()) return;
  ReadEvents(now);

  const FolderStamp stamp = FolderStamp::Of(folder_);
  if (!(stamp == seen_stamp_)) {
    seen_stamp_ = stamp;
    changed_ = true;
  }
  const auto since_listing = now.steady - last_listing_;
  const bool due = !listed_ || listing_needed_ || since_listing >= kSafetyListing ||
                   ((network_ || !(stamp == listed_stamp_)) && since_listing >= kListingInterval);
  if (!due) return;
  // A watch that was lost (the folder removed or renamed) is tried again
  // before the listing, so that nothing falls between the two.
  if (use_events_ && inotify_fd_ >= 0 && watch_ < 0) Watch();
  List(now);
}

void RequestIntake::ReadEvents(IntakeTime now) {
  if (inotify_fd_ < 0) return;
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t got = read(inotify_fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;  // EAGAIN: nothing more
    changed_ = true;
    for (const char* at = buffer; at < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      const std::uint32_t mask = event->mask;

      if ((mask & IN_Q_OVERFLOW) != 0) {
        ForgetWhatEventsSaid();
        continue;
      }
      if (event->wd != watch_) continue;  // a watch given up earlier
      if ((mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) != 0) {
        // The folder itself went away or moved: the watch is given up and
        // tried again on the folder's name at the next listing.
        if ((mask & IN_IGNORED) == 0) inotify_rm_watch(inotify_fd_, watch_);
        watch_ = -1;
        ForgetWhatEventsSaid();
        continue;
      }
      if (event->len == 0 || (mask & IN_ISDIR) != 0) continue;
      const std::string name(event->name, strnlen(event->name, event->len));
      if (!HasExtension(name, "Xml") || name.front() == '.') continue;
      if ((mask & (IN_MOVED_FROM | IN_DELETE)) != 0) {
        Erase(name);
      } else if ((mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0) {
        Arrive(name, Known::Complete, now);
      } else if ((mask & (IN_CREATE | IN_MODIFY)) != 0) {
        Arrive(name, Known::Writing, now);
      }
    }
  }
}

void RequestIntake::ForgetWhatEventsSaid() {
  // Events were lost: what they said of each file may no longer hold.
  for (Entry& entry : entries_) {
    if (entry.known == Known::Refused) continue;  // still reported once only
    entry.known = Known::Unknown;
    entry.looked = false;
  }
  listing_needed_ = true;
}

void RequestIntake::Arrive(const std::string& name, Known known, IntakeTime now) {
  auto found = index_.find(name);
  if (found == index_.end()) {
    entries_.emplace_back().name = name;
    found = index_.emplace(name, std::prev(entries_.end())).first;
  }
  Entry& entry = *found->second;
  // A name once refused is looked at again only when a new file came under it.
  if (entry.known == Known::Refused && known != Known::Complete) return;
  entry.known = known;
  entry.looked = false;
  if (known == Known::Complete) {
    // Arrival is when the file became whole.
    entries_.splice(entries_.end(), entries_, found->second);
  } else {
    entry.last_event = now.steady;
  }
}

void RequestIntake::List(IntakeTime now) {
  // The stamp before the listing: a change made while listing shows in the
  // next stamp.
  const FolderStamp stamp = FolderStamp::Of(folder_);
  const std::vector<std::string> names = ListEntries(folder_, "Xml");
  const std::unordered_set<std::string> present(names.begin(), names.end());
  for (auto entry = entries_.begin(); entry != entries_.end();) {
    if (present.count(entry->name) != 0) {
      ++entry;
      continue;
    }
    index_.erase(entry->name);
    entry = entries_.erase(entry);
    changed_ = true;
  }
  for (const std::string& name : names) {
    if (index_.count(name) != 0) continue;
    entries_.emplace_back().name = name;
    index_.emplace(name, std::prev(entries_.end()));
    changed_ = true;
  }
  listed_stamp_ = stamp;
  last_listing_ = now.steady;
  listed_ = true;
  listing_needed_ = false;
  ++listings_;
}

RequestIntake::Readiness RequestIntake::Check(Entry& entry, IntakeTime now) {
  struct stat st {};
  const std::string path = (std::filesystem::path(folder_) / entry.name).string();
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? Readiness::Gone : Readiness::Wait;
  // A link would be read through, a FIFO would never end: left alone.
  if (!S_ISREG(st.st_mode)) return Readiness::Refused;
  if (entry.known == Known::Complete) return Readiness::Ready;

  const Look look{static_cast<std::int64_t>(st.st_size), Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
  if (!entry.looked || !(look == entry.look)) {
    entry.look = look;
    entry.look_since = now.steady;
    entry.looked = true;
  }
  const bool settled = now.steady - entry.look_since >= kSettleTime;
  if (entry.known == Known::Writing) {
    return settled && now.steady - entry.last_event >= kWriterSilence ? Readiness::Ready : Readiness::Wait;
  }
  if (settled) return Readiness::Ready;
  // A file last changed a while ago is not being written. The times of a
  // network share come from another machine's clock: not trusted.
  if (!network_) {
    const std::int64_t now_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    now.wall.time_since_epoch())
                                    .count();
    const std::int64_t settle_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(kSettleTime).count();
    if (std::max(look.modified_ns, look.changed_ns) <= now_ns - settle_ns) return Readiness::Ready;
  }
  return Readiness::Wait;
}

std::optional<std::string> RequestIntake::NextReady(IntakeTime now, const std::set<std::string>& passed_over) {
  for (auto entry = entries_.begin(); entry != entries_.end();) {
    if (passed_over.count(entry->name) != 0 || entry->known == Known::Refused) {
      ++entry;
      continue;
    }
    switch (Check(*entry, now)) {
      case Readiness::Ready:
        return entry->name;
      case Readiness::Gone:
        index_.erase(entry->name);
        entry = entries_.erase(entry);
        changed_ = true;
        break;
      case Readiness::Wait:
        ++entry;
        break;
      case Readiness::Refused:
        entry->known = Known::Refused;
        refused_.push_back(entry->name);
        ++entry;
        break;
    }
  }
  return std::nullopt;
}

void RequestIntake::Forget(const std::string& name) { Erase(name); }

void RequestIntake::Erase(const std::string& name) {
  const auto found = index_.find(name);
  if (found == index_.end()) return;
  entries_.erase(found->second);
  index_.erase(found);
}

std::vector<std::string> RequestIntake::TakeRefused() {
  std::vector<std::string> refused;
  refused.swap(refused_);
  return refused;
}

bool RequestIntake::TakeChange() {
  const bool changed = changed_;
  changed_ = false;
  return changed;
}

}  // namespace orba
