// SPDX-License-Identifier: GPL-2.0-or-later
// The job list file (.mjl): every job of the list with its settings and URLs.
#include <string_view>

#include "engine/jobrecord.h"
#include "engine/joblist.h"
#include "platform/atomicfile.h"
#include "platform/fileops.h"

namespace nsk {
namespace {

// The list and information files hold passwords in plain text: only the user may read them.
constexpr mode_t kJobFileMode = 0600;

constexpr std::uint8_t kStoredFinished = 4;
constexpr std::uint8_t kStoredStopped = 2;

}  // namespace

bool TJobList::SaveToFile(const std::string& path) {
  auto g = Guard();
  // Written under a temporary name and renamed at the end: a failed or interrupted save
  // leaves the previous list file as it was.
  TAtomicFile file(path, kJobFileMode);
  TRecordWriter head;
  WriteHeader(head);
  head.I32(static_cast<std::int32_t>(jobs_.size()));
  if (!file.Write(head.Data())) return false;
  for (const auto& job : jobs_) {
    auto jg = job->Guard();
    TRecordWriter w;
    WriteJobRecord(w, JobRecordOf(*job));
    // Every unfinished job is stored as stopped: nothing runs right after a start.
    w.U8(job->State == TJobState::jsFinished ? kStoredFinished : kStoredStopped);
    w.I32(static_cast<std::int32_t>(job->URLs.size()));
    for (const auto& u : job->URLs) WriteURLRecord(w, u);
    if (!file.Write(w.Data())) return false;
    job->SaveInfoFile();
  }
  return file.WriteAt(0, std::string_view("\x01", 1)) && file.Commit();
}

TListLoadResult TJobList::LoadFromFile(const std::string& path) {
  TListLoadResult result;
  result.Title = ListTitle(path);
  const auto data = ReadWholeFile(path);
  if (!data) return result;
  TRecordReader r(*data);
  std::int32_t count = 0;
  try {
    if (!ReadHeader(r)) return result;
    count = r.I32();
  } catch (const TBadRecord&) {
    return result;
  }
  result.Complete = true;
  result.JobsInFile = count;
  for (std::int32_t i = 0; i < count; ++i) {
    auto job = TJob::Create();
    try {
      ApplyJobRecord(ReadJobRecord(r), *job);
      job->State = r.U8() == kStoredFinished ? TJobState::jsFinished : TJobState::jsStopped;
      const std::int32_t urls = ReadCount(r, kURLRecordSize);
      for (std::int32_t k = 0; k < urls; ++k) job->URLs.push_back(ReadURLRecord(r));
    } catch (const TBadRecord&) {
      break;  // the jobs read before the damaged record stay
    }
    if (job->State == TJobState::jsFinished) {
      job->BuildBlockMap();
    } else {
      job->LoadInfoFile(false);
      if (job->FileSize != 0) job->BuildBlockMap();
    }
    Add(std::move(job));
    ++result.JobsLoaded;
  }
  return result;
}

}  // namespace nsk
