// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/handle.h"
#include "engine/job.h"
#include "engine/jobedit.h"
#include "engine/view.h"
#include "platform/threadqueue.h"

namespace nsk {

// Thread messages of the engine.
inline constexpr std::uint32_t TM_MONITOR_COMMAND = 3024;  // to the scheduler
inline constexpr std::uint32_t TM_JOB_COMMAND = 3025;      // to a job thread
inline constexpr std::uint32_t TM_JOB_ENDED = 3029;        // a job thread to the scheduler

// Scheduler commands: the low 16 bits of lParam of TM_MONITOR_COMMAND; the high 16 bits carry
// a second argument (mcDeleteJob, mcDeleteJobs: 1 = keep the job's files). Payloads are owned
// values (see the Post functions below); a posted payload belongs to the scheduler.
enum class TMonitorCode : std::uint16_t {
  mcSetFilter = 0,         // wParam: view filter 0..5
  mcAddJob = 1,            // payload: std::shared_ptr<TJob>
  mcStartNext = 2,         // wParam: 1 = tell the window when all jobs are done
  mcAddJobs = 4,           // payload: std::vector<std::shared_ptr<TJob>>
  mcSelectionChanged = 5,  // payload (optional): TTreeSelection; else the view is asked
  mcStartSelected = 6,
  mcStopSelected = 7,
  mcDeleteSelected = 8,
  mcStartAll = 9,
  mcStopAll = 10,          // wParam: 1 = then close the program
  mcRestartJob = 11,
  mcSetPriority = 12,      // wParam: 0..5
  mcCopyURL = 13,          // wParam: URL index
  mcDeleteJob = 15,        // payload: JobHandle
  mcDeleteJobs = 16,       // payload: std::vector<JobHandle>
  mcEditJob = 17,
  mcJobEdited = 18,        // payload: TJobEdit
  mcExplore = 19,
  mcLaunch = 20,
  mcRunSkimbler = 21,
  mcStopSkimbler = 22,
  mcAddSkimbler = 23,
  mcDeleteSkimbler = 24,
  mcNewList = 25,
  mcOpenList = 26,
  mcSaveListAs = 27,
  mcClearHistory = 28,
  mcSaveList = 29,
};

// Job thread commands: lParam of TM_JOB_COMMAND.
enum class TJobCode : std::uint8_t {
  jcStartOthers = 1,    // the first connection learnt or confirmed the size
  jcSkimblerEnded = 2,  // wParam: 1 = the worker was told to stop; payload: the worker's id
  jcRenameReply = 3,    // wParam: TRenameAnswer
  jcStopAll = 4,
};

// Answers to the file-exists question.
enum class TRenameAnswer : std::uint8_t { Rename = 1, Overwrite = 2, Cancel = 3 };

inline constexpr std::intptr_t MonitorLParam(TMonitorCode code, std::uint16_t second = 0) {
  return static_cast<std::intptr_t>(static_cast<std::uint32_t>(code) |
                                    (static_cast<std::uint32_t>(second) << 16));
}
inline constexpr TMonitorCode MonitorCodeOf(std::intptr_t lParam) {
  return static_cast<TMonitorCode>(static_cast<std::uint32_t>(lParam) & 0xFFFF);
}
inline constexpr std::uint16_t MonitorSecondOf(std::intptr_t lParam) {
  return static_cast<std::uint16_t>((static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFF);
}

// Each Post function queues one command for the scheduler whose thread id is given and
// returns at once; false when no scheduler has that id (any more), the payload then being
// freed.
bool PostMonitorCommand(TThreadId monitor, TMonitorCode code, std::intptr_t wParam = 0,
                        std::uint16_t second = 0,
                        std::unique_ptr<TMessagePayload> payload = nullptr);

bool PostSetFilter(TThreadId monitor, std::uint8_t filter);
// A new job (not yet in any list); it belongs to the scheduler from now on.
bool PostAddJob(TThreadId monitor, std::shared_ptr<TJob> job);
bool PostAddJobs(TThreadId monitor, std::vector<std::shared_ptr<TJob>> jobs);
bool PostStartNext(TThreadId monitor, bool reportAllDone);
// The selection is read from the view (TView::SelectedNodes) ...
bool PostSelectionChanged(TThreadId monitor);
// ... or handed over with the command.
bool PostSelectionChanged(TThreadId monitor, TTreeSelection selection);
bool PostStartSelected(TThreadId monitor);
bool PostStopSelected(TThreadId monitor);
bool PostDeleteSelected(TThreadId monitor);
bool PostStartAll(TThreadId monitor);
bool PostStopAll(TThreadId monitor, bool thenExit);
bool PostRestartJob(TThreadId monitor);
bool PostSetPriority(TThreadId monitor, int priority);
bool PostCopyURL(TThreadId monitor, int urlIndex);
bool PostDeleteJob(TThreadId monitor, JobHandle job, bool keepFiles);
// The confirm-delete dialog's answer: the jobs it offered, in the order offered.
bool PostDeleteJobs(TThreadId monitor, std::vector<JobHandle> jobs, bool keepFiles);
bool PostEditJob(TThreadId monitor);
bool PostJobEdited(TThreadId monitor, TJobEdit edit);
bool PostExplore(TThreadId monitor);
bool PostLaunch(TThreadId monitor);
bool PostRunSkimbler(TThreadId monitor);
bool PostStopSkimbler(TThreadId monitor);
bool PostAddSkimbler(TThreadId monitor);
bool PostDeleteSkimbler(TThreadId monitor);
bool PostNewList(TThreadId monitor);
bool PostOpenList(TThreadId monitor);
bool PostSaveListAs(TThreadId monitor);
bool PostClearHistory(TThreadId monitor);
bool PostSaveList(TThreadId monitor);

// The answer to TView::AskFileExists, to the job thread that asked.
bool PostRenameReply(TThreadId jobThread, TRenameAnswer answer);

}  // namespace nsk
