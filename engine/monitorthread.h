// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>

#include "engine/enginecontext.h"
#include "engine/monitorcommands.h"
#include "platform/queuethread.h"
#include "platform/threadqueue.h"

namespace nsk {

class TJobThread;

// The scheduler: the one thread that changes job membership and job states. It executes the
// commands posted to it (monitorcommands.h) one at a time under the job list's lock, runs the
// queue (at most MaxJobs jobs, highest priority first), creates the job threads and joins each
// after its end report, finishes completed jobs, keeps the job list file saved, fires the
// start and stop schedule, drives the speed display once a second, and tells the window when
// everything is done (3033) or, after mcStopAll with 1, asks it to close.
class TMonitorThread final {
 public:
  // Starts the thread; returns once its queue takes commands. The context must outlive it.
  explicit TMonitorThread(TEngineContext& context);
  // Terminate.
  ~TMonitorThread();
  TMonitorThread(const TMonitorThread&) = delete;
  TMonitorThread& operator=(const TMonitorThread&) = delete;

  TThreadId Id() const { return thread_.Id(); }
  // Ends the thread and waits for it. Running jobs are not stopped by the scheduler's end in
  // the normal course (the front end stops them first with mcStopAll and waits for 3033 or the
  // counts); should any still run, they are stopped and their end is handled before the thread
  // ends, so that no thread outlives the scheduler. Messages posted afterwards are freed
  // unread.
  void Terminate();
  // On the next pass: re-apply the view filter and post the counts (after a list was loaded).
  void RequestRefresh();

 private:
  void Run(TThreadQueue& queue, TEventLoop& loop);
  void Handle(TThreadMessage& m);
  void Command(TMonitorCode code, std::intptr_t wParam, std::uint16_t second,
               TThreadMessage& m);
  void ArmTick(TEventLoop& loop);
  void Tick();
  void ScheduleCheck();
  void StopJobThreads(TThreadQueue& queue, TEventLoop& loop);

  // --- the queue and the end of a run (monitorthread.cpp) ---
  void StartNext(bool reportAllDone);
  void JobEnded(const JobHandle& handle, TJobState state);
  void Save();

  // --- commands (monitoractions.cpp) ---
  void SetFilter(std::intptr_t filter);
  // True when the job was added; startNext: run the queue when the job waits in it.
  bool AddJob(std::shared_ptr<TJob> job, bool startNext);
  void AddJobs(std::vector<std::shared_ptr<TJob>> jobs);
  void SelectionChanged(const TTreeSelection* selection);
  void StartJobs(bool all);
  void StopJobs(bool all);
  void DeleteSelected();
  void DeleteJobs(const std::vector<JobHandle>& jobs, bool keepFiles);
  void RestartJob();
  void SetPriority(std::intptr_t priority);
  void CopyURL(std::intptr_t index);
  void EditJob();
  void JobEdited(const JobHandle& handle, const TJobEdit* edit);
  void ExploreOrLaunch(bool launch);
  void RunSkimbler();
  void StopSkimbler();
  void AddSkimbler();
  void DeleteSkimbler();
  void ListCommand(TMonitorCode code);
  void ClearHistoryPage();

  // --- helpers; list lock held (and the job's lock for the node ones) ---
  void HideNode(TJob& job);
  void ShowNode(TJob& job);
  // Drops selected jobs and connections that are gone, then recomputes the focus.
  void PruneSelection();
  std::shared_ptr<TJob> FocusedJob() const;
  // The priority tick and the copy-URL menu of the focused job, where their actions are on.
  void RefreshFocusMenus();
  std::shared_ptr<TJobThread> JobThreadOf(const TJob& job) const;

  TEngineContext& context_;
  std::atomic<bool> terminate_{false};
  std::atomic<bool> PendingRefresh{true};
  std::atomic<bool> PendingAutoStart{true};

  bool ExitWhenIdle = false;
  // The window was told that nothing runs or waits (3033, or the close for ExitWhenIdle);
  // cleared when a job is queued or runs again, so that one idle spell is told once.
  bool idleReported_ = false;
  std::int32_t TickCount = 0;
  bool StartLatch = false;
  bool StopLatch = false;
  TEventLoop::TTimerId timer_ = 0;
  // The job threads by job handle id; each is joined after its end report.
  std::map<std::uint64_t, std::shared_ptr<TJobThread>> jobThreads_;

  TQueueThread thread_;
};

}  // namespace nsk
