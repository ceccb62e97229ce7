// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/handle.h"
#include "engine/job.h"

namespace nsk {

// The fields of a job that the add-job dialog edits. The scheduler hands the dialog a
// snapshot of the focused job (mcEditJob); the dialog sends the edited values back with
// mcJobEdited, and the scheduler applies them under its locks. The dialog never touches the
// job itself.
struct TJobEdit {
  JobHandle Job;
  std::vector<TURLInfo> URLs;  // in row order; the first is the job's primary URL
  std::string FileName;        // the full target path (folder + Name)
  std::string Name;
  std::string Category;
  std::string Comment;
  bool AutoSkimblers = false;
  std::int32_t SkimblerCount = 3;
  std::uint8_t Priority = 3;
  bool AlwaysRetry = false;
  std::int32_t MaxErrors = 10;
  std::uint8_t RetryDelay = 5;
  // For the dialog's information only; an edit never changes the state.
  TJobState State = TJobState::jsStopped;
};

// A snapshot of the job's editable fields; call with the job's lock held.
TJobEdit JobEditOf(const TJob& job);

// Applies an edit to a job that is not running; call with the job's lock held. When the
// target path changes, the job's files that exist follow it: the partial file, the target
// file and the information file, in this order, each only onto a free name (an existing file
// is never replaced). When the partial file cannot follow, the job keeps its old path, so that
// it still finds the data it has. Values out of range are brought into range; an edit
// without URLs changes nothing.
void ApplyJobEdit(TJob& job, const TJobEdit& edit);

}  // namespace nsk
