#pragma once
// The list of the handhelds' fixed addresses (IP_FIXO_PDA) and whether each
// answers an ICMP echo. The query runs on the thread that owns the monitor
// (the session is single-threaded); the echoes run in parallel on worker
// threads, so a refresh never holds up the exchange, and their results come
// back through `post` to the owner's thread, where the lines are added in the
// order of DC_IP_PDA as soon as every line before them is known.

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orba {

class DatabaseSession;
class Operator;
class Pinger;

// At most this many echoes are in flight at once.
inline constexpr std::size_t kMaxParallelPings = 32;

// The line of an address: padded (or cut) to 15 characters, then the state.
std::string ReachabilityLine(const std::string& address, bool reachable);

class ReachabilityMonitor {
 public:
  // Runs a function on the owner's thread, later (for Qt a queued call). It is
  // called from worker threads.
  using Post = std::function<void(std::function<void()>)>;

  ReachabilityMonitor(DatabaseSession& session, Operator& op, std::shared_ptr<Pinger> pinger, Post post);
  // Abandons a running refresh: its outstanding echoes end on their own and
  // their results are dropped. Never waits for them.
  ~ReachabilityMonitor();
  ReachabilityMonitor(const ReachabilityMonitor&) = delete;
  ReachabilityMonitor& operator=(const ReachabilityMonitor&) = delete;

  // Called on the owner's thread: the list was cleared, a line was added,
  // the refresh is over.
  std::function<void()> on_cleared;
  std::function<void(const std::string& line)> on_line;
  std::function<void()> on_finished;
  // One line each time a handheld is seen for the first time or its state
  // changes (answers <-> does not answer); none when nothing changes.
  std::function<void(const std::string& text)> on_state_change;

  // Clears the list and reads the addresses; the echoes go out in the
  // background. Does nothing while a refresh is still running. A query that
  // fails leaves the list empty, logged once until a query succeeds again.
  void Refresh();
  // Abandons a running refresh (the service is stopping).
  void Cancel();
  bool Running() const { return job_ != nullptr; }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  struct Job;
  std::optional<std::vector<std::string>> ReadAddresses();
  void OnResult(const std::shared_ptr<Job>& job, std::size_t index, bool reachable);
  void Finish();
  void NoteState(const std::string& address, bool reachable);

  DatabaseSession& session_;
  Operator& op_;
  std::shared_ptr<Pinger> pinger_;
  Post post_;
  std::shared_ptr<Job> job_;
  std::vector<std::string> addresses_;
  std::vector<std::optional<bool>> results_;
  std::size_t shown_ = 0;
  std::vector<std::string> lines_;
  std::map<std::string, bool> known_;
  bool query_failure_logged_ = false;
  bool permission_problem_logged_ = false;
};

}  // namespace orba
