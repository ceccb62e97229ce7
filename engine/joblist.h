// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/bytecounter.h"
#include "engine/handle.h"
#include "engine/job.h"
#include "engine/view.h"
#include "engine/windowpost.h"

namespace nsk {

// Indexes of TJobList::ActionEnabled, one per job action of the main window.
enum class TAction : int {
  StartJob = 0,
  StopJob = 1,
  StartAll = 2,
  StopAll = 3,  // the list-file actions are enabled exactly when this is not
  RestartJob = 4,
  EditJob = 5,
  DeleteJob = 6,
  Explore = 7,
  Launch = 8,
  RunSkimbler = 9,
  StopSkimbler = 10,
  AddSkimbler = 11,
  DeleteSkimbler = 12,
  CopyURL = 13,
  SetPriority = 14,
};
inline constexpr std::size_t kActionCount = 15;

struct TActiveCounts {
  std::int32_t Running = 0;
  std::int32_t Queued = 0;
  std::int32_t Sum() const { return Running + Queued; }
};

// The queue's choice: the job to start (none when nothing is to start) and whether another
// start should follow at once.
struct TNextJob {
  JobHandle Job;
  bool More = false;
};

// What LoadFromFile did. Title is what the application title and the main window caption
// become: "Lumo下载 1.10 - " followed by the file's name; the front end applies it.
struct TListLoadResult {
  std::string Title;
  bool Complete = false;  // the file existed, was complete and of this format
  std::int32_t JobsInFile = 0;  // the job count the file states (as stored)
  std::int32_t JobsLoaded = 0;  // fewer than JobsInFile when the file breaks off
};

inline constexpr std::string_view kNoRunningJobHint = "没有运行中的任务";

// "Lumo下载 1.10 - " + the file-name part of path.
std::string ListTitle(const std::string& path);

// All jobs of the open list, the tree selection and focus, the byte counter, the engine's
// outer lock and the action flags. Lock order: Lock first, then at most one job's lock; the
// byte counter's lock is a leaf. The scheduler thread owns itself and is not held here.
class TJobList final {
 public:
  TJobList();
  ~TJobList();
  TJobList(const TJobList&) = delete;
  TJobList& operator=(const TJobList&) = delete;

  // The outer lock of the engine; re-entrant. Every method below that reads the list or the
  // selection takes it itself, so none may be called while a job lock is held.
  mutable std::recursive_mutex Lock;
  void Enter() const { Lock.lock(); }
  void Leave() const { Lock.unlock(); }
  [[nodiscard]] std::unique_lock<std::recursive_mutex> Guard() const {
    return std::unique_lock(Lock);
  }

  // TotalReceived and LastTotalReceived with their own lock (CounterLock).
  TByteCounter Counter;
  void EnterCounter() { Counter.Enter(); }
  void LeaveCounter() { Counter.Leave(); }

  // --- membership (changed only by the scheduler, or while loading a list) ---
  // All jobs in the order they were added or loaded; read under Lock.
  const std::vector<std::shared_ptr<TJob>>& Jobs() const { return jobs_; }
  // Number of jobs; any thread, without a lock.
  std::int32_t Count() const { return count_.load(std::memory_order_relaxed); }
  void Add(std::shared_ptr<TJob> job);
  // Takes the job out of the list; the caller frees it by dropping the pointer.
  std::shared_ptr<TJob> Remove(const JobHandle& job);
  // The listed job of that handle, or null.
  std::shared_ptr<TJob> Find(const JobHandle& job) const;

  // --- selection and focus (guarded by Lock) ---
  std::vector<JobHandle> SelectedJobs;
  std::vector<SkimblerHandle> SelectedSkimblers;
  JobHandle FocusedJob;
  SkimblerHandle FocusedSkimbler;
  JobHandle ShownJob;
  SkimblerHandle ShownSkimbler;

  // Set by the scheduler before it puts a URL on the clipboard; read and cleared by the GUI.
  std::atomic<bool> IgnoreClipboard{false};
  // Job tree filter: 0 = all jobs, else only jobs whose State + 1 equals it.
  std::atomic<std::uint8_t> ViewFilter{0};
  bool PassesFilter(const TJob& job) const;  // call with the job's lock held

  // Written by engine threads, read by the GUI without a lock.
  std::array<std::atomic<bool>, kActionCount> ActionEnabled{};
  bool IsEnabled(TAction a) const {
    return ActionEnabled[static_cast<std::size_t>(a)].load(std::memory_order_relaxed);
  }

  // --- operations ---
  // Jobs in jsRunning and in jsQueued, each read under its job's lock.
  TActiveCounts CountActive() const;
  // The highest-priority queued job with Priority > 0 (earliest on ties), when fewer than
  // maxJobs jobs run; More when there were several candidates and several free slots.
  TNextJob PickNextJob(std::int32_t maxJobs) const;
  // True when a listed job (other than the given one) has the given job's first URL,
  // ignoring ASCII letter case. Call without holding the given job's lock.
  bool HasURL(const JobHandle& job) const;
  bool HasURL(std::string_view firstURL, const JobHandle& except = {}) const;
  // Selection lists := the nodes the view has selected.
  void RebuildSelection(TView& view);
  void RebuildSelection(const TTreeSelection& selection);
  // FocusedJob / FocusedSkimbler from a selection of exactly one node; otherwise none.
  void ComputeFocus();
  // CountActive, the start-all and stop-all flags, then message 3031.
  void PostCounts(TWindowPost& post);
  // Every flag but start-all and stop-all from the selection.
  void UpdateActionFlags();
  // One line Name + "-->[" + Percent + "%]" per running job, or the no-running-job line.
  void RebuildRunningHints();
  // Copies for any thread (the basket hint).
  std::vector<std::string> RunningHints() const;
  std::string RunningHintsText() const;  // lines joined with CR LF

  // --- job list file (listfile.cpp) ---
  // Appends the jobs of the list file; see listfile.cpp.
  TListLoadResult LoadFromFile(const std::string& path);
  // Writes every job to the list file and every job's information file. False when the list
  // file could not be written (the previous file then stays as it was).
  bool SaveToFile(const std::string& path);

 private:
  std::vector<std::shared_ptr<TJob>> jobs_;
  std::atomic<std::int32_t> count_{0};
  mutable std::mutex hintsLock_;  // leaf lock: the GUI reads the hints while engines run
  std::vector<std::string> runningHints_;
};

}  // namespace nsk
