#include "host/reachability.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/database.h"
#include "common/operator.h"
#include "common/sql_text.h"
#include "host/pinger.h"

namespace orba {

std::string ReachabilityLine(const std::string& address, bool reachable) {
  std::string padded = address;
  return PadText(padded, 15, false) + (reachable ? " ==> conectado" : " ==> desconectado");
}

// One refresh's echoes, shared by the worker threads. Once cancelled, the
// workers stop taking addresses and post nothing more; whatever they still
// hold (the pinger, this job) stays alive until the last of them ends.
struct ReachabilityMonitor::Job {
  std::vector<std::string> addresses;
  std::shared_ptr<Pinger> pinger;
  Post post;
  ReachabilityMonitor* monitor = nullptr;  // used on the owner's thread only, while not cancelled

  std::mutex mutex;
  std::size_t next = 0;
  bool cancelled = false;

  bool Cancelled() {
    std::lock_guard lock(mutex);
    return cancelled;
  }

  static void Work(const std::shared_ptr<Job>& job) {
    for (;;) {
      std::size_t index;
      {
        std::lock_guard lock(job->mutex);
        if (job->cancelled || job->next >= job->addresses.size()) return;
        index = job->next++;
      }
      bool reachable = false;
      try {
        reachable = job->pinger->IsHostReachable(job->addresses[index]);
      } catch (const std::exception&) {
        reachable = false;  // a failed echo is a handheld that does not answer
      }
      std::lock_guard lock(job->mutex);
      if (job->cancelled) return;
      job->post([job, index, reachable]() {
        if (job->Cancelled()) return;
        job->monitor->OnResult(job, index, reachable);
      });
    }
  }
};

ReachabilityMonitor::ReachabilityMonitor(DatabaseSession& session, Operator& op, std::shared_ptr<Pinger> pinger,
                                         Post post)
    : session_(session), op_(op), pinger_(std::move(pinger)), post_(std::move(post)) {}

ReachabilityMonitor::~ReachabilityMonitor() { Cancel(); }

void ReachabilityMonitor::Cancel() {
  if (job_ == nullptr) return;
  {
    std::lock_guard lock(job_->mutex);
    job_->cancelled = true;
  }
  job_.reset();
}

std::optional<std::vector<std::string>> ReachabilityMonitor::ReadAddresses() {
  session_.SqlClear();
  session_.SqlAppend("select");
  session_.SqlAppend("       ID_ETB_ORBA,");
  session_.SqlAppend("       ID_IP_PDA,");
  session_.SqlAppend("       DC_IP_PDA");
  session_.SqlAppend("From");
  session_.SqlAppend("       IP_FIXO_PDA");
  session_.SqlAppend("Order By");
  session_.SqlAppend("       DC_IP_PDA");
  std::string failure;
  std::vector<std::string> addresses;
  try {
    Recordset rs;
    if (session_.OpenRecordset(session_.SqlText(), rs)) {
      failure = !session_.ProviderError().empty() ? session_.ProviderError()
                : session_.IsOpen()                ? "a consulta falhou"
                                                   : "sem conexão com o banco de dados";
    } else {
      for (; !rs.Eof(); rs.MoveNext()) addresses.push_back(rs.Field("DC_IP_PDA").Text());
      rs.Close();
    }
  } catch (const DatabaseError& e) {
    failure = e.what();
  }
  if (!failure.empty()) {
    if (!query_failure_logged_) op_.LogEvent("Não foi possível ler os PDAs de IP_FIXO_PDA: " + failure);
    query_failure_logged_ = true;
    return std::nullopt;
  }
  query_failure_logged_ = false;
  return addresses;
}

void ReachabilityMonitor::Refresh() {
  if (job_ != nullptr) return;
  lines_.clear();
  if (on_cleared) on_cleared();

  std::optional<std::vector<std::string>> addresses = ReadAddresses();
  addresses_ = addresses ? std::move(*addresses) : std::vector<std::string>();
  results_.assign(addresses_.size(), std::nullopt);
  shown_ = 0;

  auto job = std::make_shared<Job>();
  job->addresses = addresses_;
  job->pinger = pinger_;
  job->post = post_;
  job->monitor = this;
  job_ = job;
  if (addresses_.empty()) {
    Finish();
    return;
  }

  const std::size_t workers = std::min(addresses_.size(), kMaxParallelPings);
  std::size_t started = 0;
  for (std::size_t i = 0; i < workers; ++i) {
    try {
      std::thread([job]() { Job::Work(job); }).detach();
      ++started;
    } catch (const std::system_error&) {
      break;  // the threads already running take the remaining addresses
    }
  }
  if (started == 0) {
    op_.LogEvent("Não foi possível iniciar o teste dos PDAs: sem threads disponíveis.");
    Cancel();
    job = std::make_shared<Job>();
    job->monitor = this;
    job_ = job;
    for (std::size_t i = 0; i < addresses_.size(); ++i) OnResult(job, i, false);
  }
}

void ReachabilityMonitor::OnResult(const std::shared_ptr<Job>& job, std::size_t index, bool reachable) {
  if (job != job_ || index >= results_.size()) return;
  results_[index] = reachable;
  while (shown_ < results_.size() && results_[shown_].has_value()) {
    const std::string& address = addresses_[shown_];
    lines_.push_back(ReachabilityLine(address, *results_[shown_]));
    if (on_line) on_line(lines_.back());
    NoteState(address, *results_[shown_]);
    ++shown_;
  }
  if (shown_ == results_.size()) Finish();
}

void ReachabilityMonitor::Finish() {
  job_.reset();
  const std::string problem = pinger_->PermissionProblem();
  if (problem.empty()) {
    permission_problem_logged_ = false;
  } else if (!permission_problem_logged_) {
    op_.LogEvent(problem);
    permission_problem_logged_ = true;
  }
  if (on_finished) on_finished();
}

void ReachabilityMonitor::NoteState(const std::string& address, bool reachable) {
  const auto known = known_.find(address);
  if (known != known_.end() && known->second == reachable) return;
  known_[address] = reachable;
  if (on_state_change) on_state_change("PDA " + address + (reachable ? " ==> conectado" : " ==> desconectado"));
}

}  // namespace orba
