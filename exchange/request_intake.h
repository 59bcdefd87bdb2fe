#pragma once
// Which request files of the request folder may be taken now, and in which
// order.
//
// Names beginning with '.' are other programs' temporary files (a sync tool
// writes ".name.Xml" and renames it): never taken. A name that is a link, a
// FIFO or anything but a regular file is never taken either; it is reported
// once through TakeRefused() and left where it is.
//
// A name in the folder is not yet a whole request: a file may be written in
// place under its final name. Linux file events (inotify) say when a file was
// closed after writing or moved into the folder; such a file is complete and
// is taken at once, in the order the events came. A file that events show
// still open for writing waits for its close. A file the events say nothing
// about (there before the watch began, seen after the event queue overflowed,
// or written by another machine onto a network share, which raises no event
// here) is taken once it has stopped changing: unchanged for kSettleTime, or
// last changed longer ago than that.
//
// The folder is listed only when its stamp changed (at most every
// kListingInterval) and, as a safety net, every kSafetyListing; on a network
// file system, whose client may cache the stamp, at every update.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "exchange/folders.h"

namespace orba {

// One moment on both clocks: intervals are measured on the steady clock, file
// times are compared with the wall clock.
struct IntakeTime {
  std::chrono::steady_clock::time_point steady;
  std::chrono::system_clock::time_point wall;

  static IntakeTime Now();
  IntakeTime operator+(std::chrono::milliseconds later) const { return {steady + later, wall + later}; }
};

class RequestIntake {
 public:
  // How long a file without event information must stay unchanged.
  static constexpr std::chrono::milliseconds kSettleTime{150};
  // A file that events show open for writing is taken all the same after this
  // long without a write: a link made into the folder never reports a close.
  static constexpr std::chrono::milliseconds kWriterSilence{5000};
  // While the folder keeps changing it is listed at most this often.
  static constexpr std::chrono::milliseconds kListingInterval{100};
  // Listed this often even when nothing seems to change.
  static constexpr std::chrono::milliseconds kSafetyListing{2000};

  enum class Events { Use, Ignore };  // Ignore: as on a file system without events

  RequestIntake() = default;
  ~RequestIntake();
  RequestIntake(const RequestIntake&) = delete;
  RequestIntake& operator=(const RequestIntake&) = delete;

  // Starts watching `folder` and lists it. False when there are no events
  // (the reason in EventProblem()); the folder is then found by listing alone
  // and the watch is tried again at each safety listing.
  bool Open(const std::string& folder, Events events = Events::Use, IntakeTime now = IntakeTime::Now());
  const std::string& EventProblem() const { return event_problem_; }

  // Becomes readable when the folder has news; -1 without events. It stays
  // the same descriptor while the intake lives.
  int EventDescriptor() const { return inotify_fd_; }

  // Reads the pending events and lists the folder when that is due. Cheap
  // when nothing changed.
  void Update(IntakeTime now = IntakeTime::Now());

  // The first request, in order of arrival, that may be taken now, passing
  // over the names in `passed_over`; nothing when none may.
  std::optional<std::string> NextReady(IntakeTime now = IntakeTime::Now(),
                                       const std::set<std::string>& passed_over = {});

  // The request was taken, or is gone. A later file of the same name is a
  // new request.
  void Forget(const std::string& name);

  // The names found not to be regular files since the last call, each once.
  std::vector<std::string> TakeRefused();

  // True once after the folder changed (for the window's file list).
  bool TakeChange();

  // How often the folder was listed: the one step whose cost grows with the
  // folder.
  std::size_t Listings() const { return listings_; }
  bool OnNetworkFileSystem() const { return network_; }

 private:
  enum class Known {
    Complete,  // closed after writing, or moved in
    Writing,   // created or written, not closed since
    Unknown,   // no event information
    Refused,   // not a regular file: left alone
  };
  struct Look {  // what stat(2) said of the file
    std::int64_t size = -1;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;
    bool operator==(const Look&) const = default;
  };
  struct Entry {
    std::string name;
    Known known = Known::Unknown;
    std::chrono::steady_clock::time_point last_event;  // the last sign of a writer
    bool looked = false;
    Look look;
    std::chrono::steady_clock::time_point look_since;  // first seen as `look`
  };
  enum class Readiness { Ready, Wait, Gone, Refused };

  void Close();
  bool Watch();
  void ReadEvents(IntakeTime now);
  void ForgetWhatEventsSaid();
  void Arrive(const std::string& name, Known known, IntakeTime now);
  void List(IntakeTime now);
  Readiness Check(Entry& entry, IntakeTime now);
  void Erase(const std::string& name);

  std::string folder_;
  bool use_events_ = true;
  int inotify_fd_ = -1;
  int watch_ = -1;
  std::string event_problem_;
  bool network_ = false;

  std::list<Entry> entries_;  // order of arrival
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;

  bool listed_ = false;
  bool listing_needed_ = false;
  FolderStamp listed_stamp_;  // the folder's stamp at the last listing
  FolderStamp seen_stamp_;    // at the last update
  std::chrono::steady_clock::time_point last_listing_;
  std::size_t listings_ = 0;
  bool changed_ = false;
  std::vector<std::string> refused_;
};

}  // namespace orba
