// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/joblist.h"

#include <algorithm>

#include "platform/fileops.h"
#include "platform/utf8.h"

namespace nsk {
namespace {

bool IsOneOf(TJobState s, std::initializer_list<TJobState> states) {
  return std::find(states.begin(), states.end(), s) != states.end();
}

using TFlags = std::array<bool, kActionCount>;

bool& Flag(TFlags& f, TAction a) { return f[static_cast<std::size_t>(a)]; }

}  // namespace

std::string ListTitle(const std::string& path) { return "Lumo下载 1.10 - " + FileNameOf(path); }

TJobList::TJobList() : runningHints_{std::string(kNoRunningJobHint)} {}

TJobList::~TJobList() = default;

void TJobList::Add(std::shared_ptr<TJob> job) {
  if (!job) return;
  auto g = Guard();
  jobs_.push_back(std::move(job));
  count_.store(static_cast<std::int32_t>(jobs_.size()), std::memory_order_relaxed);
}

std::shared_ptr<TJob> TJobList::Remove(const JobHandle& job) {
  auto g = Guard();
  const auto it = std::find_if(jobs_.begin(), jobs_.end(),
                               [&](const auto& j) { return j->Handle() == job; });
  if (it == jobs_.end()) return nullptr;
  auto removed = std::move(*it);
  jobs_.erase(it);
  count_.store(static_cast<std::int32_t>(jobs_.size()), std::memory_order_relaxed);
  return removed;
}

std::shared_ptr<TJob> TJobList::Find(const JobHandle& job) const {
  auto g = Guard();
  for (const auto& j : jobs_)
    if (j->Handle() == job) return j;
  return nullptr;
}

bool TJobList::PassesFilter(const TJob& job) const {
  const std::uint8_t f = ViewFilter.load(std::memory_order_relaxed);
  return f == 0 || f == ToInt(job.State) + 1;
}

TActiveCounts TJobList::CountActive() const {
  auto g = Guard();
  TActiveCounts c;
  for (const auto& j : jobs_) {
    auto jg = j->Guard();
    if (j->State == TJobState::jsRunning) ++c.Running;
    else if (j->State == TJobState::jsQueued) ++c.Queued;
  }
  return c;
}

TNextJob TJobList::PickNextJob(std::int32_t maxJobs) const {
  auto g = Guard();
  std::int32_t running = 0, candidates = 0, bestPriority = 0;
  JobHandle best;
  for (const auto& j : jobs_) {
    auto jg = j->Guard();
    if (j->State == TJobState::jsRunning) {
      ++running;
    } else if (j->State == TJobState::jsQueued && j->Priority > 0) {
      ++candidates;
      if (j->Priority > bestPriority) {
        bestPriority = j->Priority;
        best = j->Handle();
      }
    }
  }
  const std::int64_t free = static_cast<std::int64_t>(maxJobs) - running;
  if (free <= 0 || candidates == 0) return {};
  return {best, candidates > 1 && free > 1};
}

bool TJobList::HasURL(const JobHandle& job) const {
  const auto j = job.Resolve();
  if (!j) return false;
  std::string url;
  {
    auto jg = j->Guard();
    url = j->FirstURL();
  }
  return HasURL(url, job);
}

bool TJobList::HasURL(std::string_view firstURL, const JobHandle& except) const {
  if (firstURL.empty()) return false;
  const std::string wanted = UpperAscii(firstURL);
  auto g = Guard();
  for (const auto& j : jobs_) {
    if (j->Handle() == except) continue;
    auto jg = j->Guard();
    if (!j->URLs.empty() && UpperAscii(j->URLs.front().URL) == wanted) return true;
  }
  return false;
}

void TJobList::RebuildSelection(TView& view) { RebuildSelection(view.SelectedNodes()); }

void TJobList::RebuildSelection(const TTreeSelection& selection) {
  auto g = Guard();
  SelectedJobs = selection.Jobs;
  SelectedSkimblers = selection.Skimblers;
}

void TJobList::ComputeFocus() {
  auto g = Guard();
  FocusedJob = {};
  FocusedSkimbler = {};
  if (SelectedJobs.size() + SelectedSkimblers.size() != 1) return;
  if (!SelectedJobs.empty()) {
    FocusedJob = SelectedJobs.front();
    return;
  }
  // A connection's job is fixed when the record is made; a freed record focuses nothing.
  if (const auto s = SelectedSkimblers.front().Resolve()) {
    FocusedSkimbler = s->Handle();
    FocusedJob = s->Job();
  }
}

void TJobList::PostCounts(TWindowPost& post) {
  TActiveCounts c;
  std::int32_t total = 0;
  {
    auto g = Guard();
    c = CountActive();
    total = Count();
    ActionEnabled[static_cast<std::size_t>(TAction::StartAll)].store(c.Sum() < total);
    ActionEnabled[static_cast<std::size_t>(TAction::StopAll)].store(c.Sum() > 0);
  }
  post.Post(TJobCountsMessage{total, c.Running, c.Queued});
}

void TJobList::UpdateActionFlags() {
  auto g = Guard();
  TFlags f{};
  if (SelectedJobs.empty() && SelectedSkimblers.size() == 1) {
    const auto s = SelectedSkimblers.front().Resolve();
    const auto j = s ? s->Job().Resolve() : nullptr;
    if (s && j) {
      auto jg = j->Guard();
      const bool running = j->State == TJobState::jsRunning;
      const bool stopped = s->State == TSkimblerState::ssStopped;
      Flag(f, TAction::RunSkimbler) = stopped && running;
      Flag(f, TAction::StopSkimbler) = !stopped;
      Flag(f, TAction::AddSkimbler) =
          running && j->ResumeState == TResumeState::rsResumable && j->FileSize > 0;
      Flag(f, TAction::DeleteSkimbler) = stopped && running && j->Skimblers.size() >= 2;
    }
  } else if (SelectedSkimblers.empty() && SelectedJobs.size() == 1) {
    if (const auto j = SelectedJobs.front().Resolve()) {
      auto jg = j->Guard();
      const TJobState st = j->State;
      using enum TJobState;
      Flag(f, TAction::StartJob) = IsOneOf(st, {jsStopped, jsError});
      Flag(f, TAction::StopJob) = IsOneOf(st, {jsRunning, jsQueued});
      Flag(f, TAction::RestartJob) = Flag(f, TAction::EditJob) =
          IsOneOf(st, {jsStopped, jsError, jsFinished});
      Flag(f, TAction::DeleteJob) = IsOneOf(st, {jsStopped, jsError, jsFinished});
      Flag(f, TAction::Explore) = Flag(f, TAction::Launch) = st == jsFinished;
      Flag(f, TAction::CopyURL) = Flag(f, TAction::SetPriority) = true;
      Flag(f, TAction::AddSkimbler) =
          st == jsRunning && j->ResumeState == TResumeState::rsResumable;
    }
  } else if (SelectedSkimblers.empty() && SelectedJobs.size() > 1) {
    bool start = true, stop = true, del = true;
    for (const auto& h : SelectedJobs) {
      const auto j = h.Resolve();
      if (!j) {  // a freed job can be neither started, stopped nor deleted
        start = stop = del = false;
        break;
      }
      auto jg = j->Guard();
      using enum TJobState;
      start = start && IsOneOf(j->State, {jsStopped, jsError});
      stop = stop && IsOneOf(j->State, {jsRunning, jsQueued});
      del = del && IsOneOf(j->State, {jsStopped, jsError, jsFinished});
    }
    Flag(f, TAction::StartJob) = start;
    Flag(f, TAction::StopJob) = stop;
    Flag(f, TAction::DeleteJob) = del;
  }
  for (std::size_t i = 0; i < kActionCount; ++i) {
    if (i == static_cast<std::size_t>(TAction::StartAll) ||
        i == static_cast<std::size_t>(TAction::StopAll))
      continue;
    ActionEnabled[i].store(f[i]);
  }
}

void TJobList::RebuildRunningHints() {
  std::vector<std::string> lines;
  {
    auto g = Guard();
    for (const auto& j : jobs_) {
      auto jg = j->Guard();
      if (j->State == TJobState::jsRunning)
        lines.push_back(j->Name + "-->[" + std::to_string(j->Percent) + "%]");
    }
  }
  if (lines.empty()) lines.emplace_back(kNoRunningJobHint);
  std::lock_guard hg(hintsLock_);
  runningHints_ = std::move(lines);
}

std::vector<std::string> TJobList::RunningHints() const {
  std::lock_guard hg(hintsLock_);
  return runningHints_;
}

std::string TJobList::RunningHintsText() const {
  std::lock_guard hg(hintsLock_);
  std::string text;
  for (std::size_t i = 0; i < runningHints_.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += runningHints_[i];
  }
  return text;
}

}  // namespace nsk
