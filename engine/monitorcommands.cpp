// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/monitorcommands.h"

namespace nsk {
namespace {

using enum TMonitorCode;

bool Simple(TThreadId monitor, TMonitorCode code) { return PostMonitorCommand(monitor, code); }

}  // namespace

bool PostMonitorCommand(TThreadId monitor, TMonitorCode code, std::intptr_t wParam,
                        std::uint16_t second, std::unique_ptr<TMessagePayload> payload) {
  return TThreadQueue::Post(monitor, TM_MONITOR_COMMAND, wParam, MonitorLParam(code, second),
                            std::move(payload));
}

bool PostSetFilter(TThreadId monitor, std::uint8_t filter) {
  return PostMonitorCommand(monitor, mcSetFilter, filter);
}

bool PostAddJob(TThreadId monitor, std::shared_ptr<TJob> job) {
  const auto id = job ? static_cast<std::intptr_t>(job->Handle().Id()) : 0;
  return PostMonitorCommand(monitor, mcAddJob, id, 0, MakePayload(std::move(job)));
}

bool PostAddJobs(TThreadId monitor, std::vector<std::shared_ptr<TJob>> jobs) {
  return PostMonitorCommand(monitor, mcAddJobs, 0, 0, MakePayload(std::move(jobs)));
}

bool PostStartNext(TThreadId monitor, bool reportAllDone) {
  return PostMonitorCommand(monitor, mcStartNext, reportAllDone ? 1 : 0);
}

bool PostSelectionChanged(TThreadId monitor) { return Simple(monitor, mcSelectionChanged); }

bool PostSelectionChanged(TThreadId monitor, TTreeSelection selection) {
  return PostMonitorCommand(monitor, mcSelectionChanged, 0, 0, MakePayload(std::move(selection)));
}

bool PostStartSelected(TThreadId monitor) { return Simple(monitor, mcStartSelected); }
bool PostStopSelected(TThreadId monitor) { return Simple(monitor, mcStopSelected); }
bool PostDeleteSelected(TThreadId monitor) { return Simple(monitor, mcDeleteSelected); }
bool PostStartAll(TThreadId monitor) { return Simple(monitor, mcStartAll); }

bool PostStopAll(TThreadId monitor, bool thenExit) {
  return PostMonitorCommand(monitor, mcStopAll, thenExit ? 1 : 0);
}

bool PostRestartJob(TThreadId monitor) { return Simple(monitor, mcRestartJob); }

bool PostSetPriority(TThreadId monitor, int priority) {
  return PostMonitorCommand(monitor, mcSetPriority, priority);
}

bool PostCopyURL(TThreadId monitor, int urlIndex) {
  return PostMonitorCommand(monitor, mcCopyURL, urlIndex);
}

bool PostDeleteJob(TThreadId monitor, JobHandle job, bool keepFiles) {
  const auto id = static_cast<std::intptr_t>(job.Id());
  return PostMonitorCommand(monitor, mcDeleteJob, id, keepFiles ? 1 : 0,
                            MakePayload(std::move(job)));
}

bool PostDeleteJobs(TThreadId monitor, std::vector<JobHandle> jobs, bool keepFiles) {
  return PostMonitorCommand(monitor, mcDeleteJobs, 0, keepFiles ? 1 : 0,
                            MakePayload(std::move(jobs)));
}

bool PostEditJob(TThreadId monitor) { return Simple(monitor, mcEditJob); }

bool PostJobEdited(TThreadId monitor, TJobEdit edit) {
  const auto id = static_cast<std::intptr_t>(edit.Job.Id());
  return PostMonitorCommand(monitor, mcJobEdited, id, 0, MakePayload(std::move(edit)));
}

bool PostExplore(TThreadId monitor) { return Simple(monitor, mcExplore); }
bool PostLaunch(TThreadId monitor) { return Simple(monitor, mcLaunch); }
bool PostRunSkimbler(TThreadId monitor) { return Simple(monitor, mcRunSkimbler); }
bool PostStopSkimbler(TThreadId monitor) { return Simple(monitor, mcStopSkimbler); }
bool PostAddSkimbler(TThreadId monitor) { return Simple(monitor, mcAddSkimbler); }
bool PostDeleteSkimbler(TThreadId monitor) { return Simple(monitor, mcDeleteSkimbler); }
bool PostNewList(TThreadId monitor) { return Simple(monitor, mcNewList); }
bool PostOpenList(TThreadId monitor) { return Simple(monitor, mcOpenList); }
bool PostSaveListAs(TThreadId monitor) { return Simple(monitor, mcSaveListAs); }
bool PostClearHistory(TThreadId monitor) { return Simple(monitor, mcClearHistory); }
bool PostSaveList(TThreadId monitor) { return Simple(monitor, mcSaveList); }

bool PostRenameReply(TThreadId jobThread, TRenameAnswer answer) {
  return TThreadQueue::Post(jobThread, TM_JOB_COMMAND, static_cast<std::intptr_t>(answer),
                            static_cast<std::intptr_t>(TJobCode::jcRenameReply));
}

}  // namespace nsk
