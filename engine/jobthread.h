// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/enginecontext.h"
#include "engine/job.h"
#include "engine/monitorcommands.h"
#include "engine/threadlinks.h"
#include "platform/queuethread.h"
#include "platform/threadqueue.h"

namespace nsk {

class TSkimblerThread;

// Number of connections of a job whose connection count follows its size: one per
// everySkimbler KiB, at least 1 and at most 20 (everySkimbler below 1 counts as 1).
std::int32_t AutoSkimblerCount(std::int32_t fileSize, std::int32_t everySkimbler);

// The end state of a run whose connections have all stopped: finished when every byte is
// stored, stopped when the user stopped it or the error limit was not reached, error when the
// limit was reached on a job that is not complete, and error whenever every URL has failed.
// Call with the job's lock held.
TJobState EndStateOf(const TJob& job, bool userStopped);

// The thread of one running job: checks the target and partial files, starts the first
// connection and, once that one knows the size, the others; computes the rates once a
// second; relays stop requests to the workers; decides the end state when the last worker has
// ended and reports it to the scheduler (TM_JOB_ENDED), which joins the thread afterwards.
// The thread owns its workers: every worker of the run, also those the scheduler adds, is
// started through StartWorker and joined by this thread after its end report, so no worker
// outlives the job thread.
class TJobThread final : public TJobThreadLink {
 public:
  // Starts the thread; returns once its message queue exists. monitor is the scheduler's
  // thread id, where the end report goes.
  TJobThread(TEngineContext& context, std::shared_ptr<TJob> job, TThreadId monitor);
  ~TJobThread() override;
  TJobThread(const TJobThread&) = delete;
  TJobThread& operator=(const TJobThread&) = delete;

  // Any thread: asks the job to stop (seen at once: it wakes the thread).
  void RequestStop() override;
  TThreadId Id() const { return thread_.Id(); }
  TThreadId MonitorId() const { return monitor_; }
  const JobHandle& Job() const { return handle_; }
  // Waits for the thread's end; the scheduler calls it after the end report.
  void Join();

  // Starts a worker for the connection record s (one of the job's) and stores it in
  // s->Thread. Call with the job's lock held. False, with nothing started, once the run is
  // stopping or ending, or when no thread could be made.
  bool StartWorker(const std::shared_ptr<TSkimbler>& s);
  // The next connection number of this run. Call with the job's lock held.
  std::int32_t NextSkimblerNumber() { return ++skimblerCounter_; }

  // Whether a periodic save of the information file may run now, at most one per
  // Timing.AutoSaveFloor per job; true also records the save. Call with the job's lock held.
  bool TakeAutoSaveTurn(std::chrono::steady_clock::time_point now);

 private:
  void Run(TThreadQueue& queue, TEventLoop& loop);
  bool CheckFiles(TThreadQueue& queue, TEventLoop& loop);
  void BeginRun();
  void StartFirst();
  // A new connection record with its node and worker; job lock held.
  void AddConnection();
  void Handle(const TThreadMessage& m);
  void StartOthers();
  void SkimblerEnded(bool stopped, std::uint64_t workerId);
  void StopAll();
  void ArmTick(TEventLoop& loop);
  void Tick();
  void FinishRun();
  void JoinWorker(std::uint64_t workerId);
  void JoinAllWorkers();
  bool IsFocused() const;  // list lock held

  TEngineContext& context_;
  const std::shared_ptr<TJob> job_;
  const JobHandle handle_;
  const TThreadId monitor_;

  std::atomic<bool> stopRequest_{false};
  TJobState endState_ = TJobState::jsStopped;
  bool userStopped_ = false;
  bool terminated_ = false;
  // Guarded by the job's lock: the run is being stopped (jcStopAll seen) or is ending (every
  // connection has stopped); no further worker starts.
  bool stopping_ = false;
  bool closing_ = false;
  std::int32_t skimblerCounter_ = 0;
  std::chrono::steady_clock::time_point lastAutoSave_{};
  bool autoSaved_ = false;
  TEventLoop::TTimerId tick_ = 0;

  std::mutex workersLock_;  // leaf: guards workers_ only
  std::map<std::uint64_t, std::shared_ptr<TSkimblerThread>> workers_;

  TQueueThread thread_;
};

}  // namespace nsk
