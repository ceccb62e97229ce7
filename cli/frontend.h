// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <string>

#include "cli/headlessview.h"
#include "cli/progress.h"
#include "engine/engine.h"
#include "engine/joblist.h"
#include "engine/sharedsettings.h"
#include "platform/threadqueue.h"

namespace nsk::cli {

// The engine without a window, run from the command's own thread, which plays the part of
// the window's thread: it prints the message lines of the engine's window messages, answers
// the file-exists question, draws the progress of the running jobs once a second and turns
// Ctrl-C into a stop of every job.
//
// Use: make it (before any other thread exists: it blocks SIGINT and SIGTERM so that they
// reach this thread only), load the job list into JobList(), Start(), post commands to
// Monitor() followed by CommandsPosted(), Run(), Stop().
class TFrontEnd final {
 public:
  TFrontEnd(TRegistryInfo engineSettings, TRenameAnswer onExists);
  ~TFrontEnd();
  TFrontEnd(const TFrontEnd&) = delete;
  TFrontEnd& operator=(const TFrontEnd&) = delete;

  TJobList& JobList() { return list_; }
  TConsole& Console() { return console_; }

  // Starts the scheduler and waits until its first pass is through.
  void Start();
  TThreadId Monitor() const { return engine_.MonitorId(); }
  // Call after posting commands: Run() and Stop() return only once the scheduler has handled
  // them.
  void CommandsPosted();
  // Serves the engine until no job runs or waits any more. A first SIGINT or SIGTERM stops
  // every job (they stay resumable) and the run goes on until they have ended; a second one
  // ends the process at once with 128 + the signal, as a kill would, which the job files
  // survive as well.
  void Run();
  // Lets the scheduler handle what is still queued, then ends it.
  void Stop();

  // The signal that stopped the jobs, 0 when none came.
  int StopSignal() const { return stopSignal_; }
  // True when the scheduler refused the job as a duplicate (message 3026).
  bool Refused(const JobHandle& job) const { return refused_.count(job.Id()) > 0; }

 private:
  void Serve(std::chrono::steady_clock::duration timeout);
  void Drain();
  void OnWindowMessage(const TWindowMessage& m);
  void OnSignal(int signal);
  void DrawProgress();

  TConsole console_;
  int signalFd_ = -1;
  TEventLoop& loop_;
  TThreadQueue queue_;
  THeadlessView view_;
  THeadlessPost post_;
  TSharedSettings settings_;
  TSystemClock clock_;
  TDetachedLauncher launcher_;
  TJobList list_;
  TEngine engine_;
  TEventLoop::TWatchId signalWatch_ = 0;
  TRenameAnswer onExists_;

  int passes_ = 0;    // filter passes the scheduler finished
  int expected_ = 0;  // filter passes asked for
  int stopSignal_ = 0;
  int signals_ = 0;
  std::set<std::uint64_t> refused_;
};

// The settings the engine of a command runs with: the user's, with at least one job slot.
TRegistryInfo EngineSettings(const TRegistryInfo& user);

// Loads a job list file into list as the program does at start; a file that does not exist
// is an empty list. False, with the reason on standard error, when the file exists but is
// not a complete job list: saving over it would lose its jobs. A list that breaks off after
// some jobs keeps those, with a warning.
bool LoadJobList(TJobList& list, const std::string& path, const std::string& command);

// "dir/name" made absolute against the current folder.
std::string AbsolutePath(const std::string& path);

}  // namespace nsk::cli
