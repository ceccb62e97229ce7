// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>

#include "engine/enginecontext.h"
#include "engine/monitorcommands.h"
#include "platform/threadqueue.h"

namespace nsk {

class TMonitorThread;

// The download engine of one front end: the scheduler thread with the job threads and
// connection workers it starts. A front end
//   1. makes the parts of the context (job list, view, window post, settings, clock,
//      launcher) and the engine with them,
//   2. loads the current job list on its own thread (JobList.LoadFromFile) before
//      StartMonitor,
//   3. posts commands to MonitorId() (monitorcommands.h) and receives the view calls and
//      window messages of the engine,
//   4. before StopMonitor, stops the jobs (PostStopAll) and waits until none runs (3033, or
//      JobList.CountActive()).
// Nothing the engine starts outlives StopMonitor.
class TEngine final {
 public:
  explicit TEngine(TEngineContext context);
  ~TEngine();  // StopMonitor
  TEngine(const TEngine&) = delete;
  TEngine& operator=(const TEngine&) = delete;

  TEngineContext& Context() { return context_; }

  // Starts the scheduler (nothing when it runs already).
  void StartMonitor();
  // Ends the scheduler and waits for it (see TMonitorThread::Terminate).
  void StopMonitor();
  bool Running() const { return monitor_ != nullptr; }
  // The scheduler's thread id for the Post functions; 0 while it is not running.
  TThreadId MonitorId() const;
  // After a job list was loaded while the scheduler runs (the answer to mcOpenList): the
  // scheduler re-applies the view filter and posts the counts.
  void RequestRefresh();

 private:
  TEngineContext context_;
  std::unique_ptr<TMonitorThread> monitor_;
};

}  // namespace nsk
