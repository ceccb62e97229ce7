// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/jobedit.h"

#include <algorithm>

#include "platform/fileops.h"

namespace nsk {
namespace {

// Moves from to to when from exists and to does not; false only when a move was due and
// failed.
bool MoveIfPresent(const std::string& from, const std::string& to) {
  if (!PathExists(from)) return true;
  if (PathExists(to)) return false;
  return MoveFile(from, to);
}

}  // namespace

TJobEdit JobEditOf(const TJob& job) {
  TJobEdit e;
  e.Job = job.Handle();
  e.URLs = job.URLs;
  e.FileName = job.FileName;
  e.Name = job.Name;
  e.Category = job.Category;
  e.Comment = job.Comment;
  e.AutoSkimblers = job.AutoSkimblers;
  e.SkimblerCount = job.SkimblerCount;
  e.Priority = job.Priority;
  e.AlwaysRetry = job.AlwaysRetry;
  e.MaxErrors = job.MaxErrors;
  e.RetryDelay = job.RetryDelay;
  e.State = job.State;
  return e;
}

void ApplyJobEdit(TJob& job, const TJobEdit& edit) {
  if (edit.URLs.empty()) return;
  job.URLs = edit.URLs;
  if (!edit.FileName.empty() && edit.FileName != job.FileName) {
    // The names are compared exactly: on this file system a name that differs only in case
    // is another file.
    const std::string from = job.FileName, to = edit.FileName;
    if (MoveIfPresent(from + ".wyn", to + ".wyn")) {
      MoveIfPresent(from, to);
      MoveIfPresent(from + ".ji", to + ".ji");
      job.FileName = to;
    }
  }
  job.Name = FileNameOf(job.FileName);
  job.Category = edit.Category;
  job.Comment = edit.Comment;
  job.AutoSkimblers = edit.AutoSkimblers;
  job.SkimblerCount = std::clamp(edit.SkimblerCount, 1, 20);
  job.Priority = std::min<std::uint8_t>(edit.Priority, 5);
  job.AlwaysRetry = edit.AlwaysRetry;
  job.MaxErrors = std::max(edit.MaxErrors, 1);
  job.RetryDelay = edit.RetryDelay;
}

}  // namespace nsk
