// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/viewdata.h"

#include <cstdio>

namespace nsk {

const std::array<const char*, kInfoValueCount> kInfoLabels = {
    "URL",           "Save As",      "File Size",       "File Date",      "Priority",
    "Ratio",         "Bytes Received", "Bytes Left",    "Bps",            "Average Bps",
    "Time Elasped",  "Time Left",    "Skimbler Number", "Errors",         "Attempt",
    "Comment",       "Last Start Time", "Last Stop Time",
};

namespace {

std::string DateOrUnknown(TDateTime t) { return t < 0 ? kUnknownText : FormatDateTime(t); }

}  // namespace

std::string FormatDuration(TDateTime value) {
  int h = 0, m = 0, s = 0;
  if (!TryDecodeTime(value, h, m, s)) h = m = s = 0;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, m, s);
  return buf;
}

TJobNodeView JobNodeOf(const TJob& job) {
  return {job.Handle(), std::to_string(job.Priority), job.Name, ToInt(job.State) + 1,
          ToInt(job.ResumeState) + 6};
}

TSkimblerNodeView SkimblerNodeOf(const TJob& job, const TSkimbler& s) {
  TSkimblerNodeView v;
  v.Skimbler = s.Handle();
  v.Job = job.Handle();
  v.Text = "#" + std::to_string(s.Number);
  if (s.URLIndex >= 0 && static_cast<std::size_t>(s.URLIndex) < job.URLs.size())
    v.WorkingURL = job.URLs[static_cast<std::size_t>(s.URLIndex)].URL;
  v.StateImage = ToInt(s.State) + 11;
  return v;
}

TJobInfoValues JobInfoOf(const TJob& job) {
  TJobInfoValues info;
  info.Job = job.Handle();
  auto& v = info.Values;
  for (std::size_t i = 0; i < job.URLs.size(); ++i) {
    if (i > 0) v[0] += "\r\n";
    v[0] += job.URLs[i].URL;
  }
  v[1] = job.FileName;
  v[2] = job.FileSize == 0 ? kUnknownText : std::to_string(job.FileSize);
  v[3] = DateOrUnknown(job.FileDate);
  v[4] = std::to_string(job.Priority);
  v[5] = job.FileSize < 1 ? kUnknownText : std::to_string(job.Percent) + "%";
  v[6] = std::to_string(job.DoneBytes);
  v[7] = std::to_string(static_cast<std::int64_t>(job.FileSize) - job.DoneBytes);
  v[8] = std::to_string(job.CurrentSpeed);
  v[9] = std::to_string(job.AverageSpeed);
  v[10] = FormatDuration(job.Elapsed);
  v[11] = FormatDuration(job.Remaining);
  v[12] = std::to_string(job.SkimblerCount);
  v[13] = std::to_string(job.Errors);
  v[14] = std::to_string(job.StartCount);
  v[15] = job.Comment;
  v[16] = DateOrUnknown(job.BeginTime);
  v[17] = DateOrUnknown(job.EndTime);
  return info;
}

std::vector<TBlockCell> SkimblerCellsOf(const TJob& job, const SkimblerHandle& focused) {
  std::vector<TBlockCell> cells;
  for (const auto& s : job.Skimblers) {
    if (!s->Thread || s->State == TSkimblerState::ssStopped || !s->Block || !s->Block->Busy)
      continue;
    cells.push_back({ChunkOf(s->Block->StartPos), s->Handle() == focused
                                                      ? TCellValue::FocusedConnection
                                                      : TCellValue::OtherConnection});
  }
  return cells;
}

}  // namespace nsk
