// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/job.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace nsk {

void TURLInfo::ClearRunStatistics() {
  Speed = -1;
  Users = 0;
  Failed = false;
  Uses = 0;
}

std::shared_ptr<TJob> TJob::Create() {
  auto job = std::make_shared<TJob>(TPassKey{});
  job->handle_ = JobHandle(NewHandleId(), job);
  return job;
}

TJob::TJob(TPassKey) {}

std::string TJob::FirstURL() const { return URLs.empty() ? std::string() : URLs.front().URL; }

bool TJob::OpenPartFile() {
  if (!PartFile.Open(PartFileName(), FileSize)) {
    PartFile.Close();
    return false;
  }
  return true;
}

void TJob::AddReceived(std::int32_t n) {
  // Received counts re-fetched bytes too, so it could pass 2 GiB: stop at the limit.
  const std::int64_t sum = static_cast<std::int64_t>(Received) + n;
  Received = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(sum, 0, std::numeric_limits<std::int32_t>::max()));
}

void TJob::UpdatePercent() {
  if (FileSize <= 0) {
    Percent = 0;
    return;
  }
  const long p = std::lround(static_cast<double>(DoneBytes) / FileSize * 100.0);
  Percent = static_cast<std::uint8_t>(std::clamp<long>(p, 0, 100));
}

void TJob::UpdateRates() {
  CurrentSpeed = Received - ReceivedAtTick;
  ReceivedAtTick = Received;
  int h = 0, m = 0, s = 0;
  // Elapsed is read as a time of day; a value that is no time counts as 0 seconds.
  const std::int32_t seconds = TryDecodeTime(Elapsed, h, m, s) ? h * 3600 + m * 60 + s : 0;
  if (seconds > 0) AverageSpeed = Received / seconds;
  if (FileSize > 0 && AverageSpeed > 0) {
    const std::int32_t r = (FileSize - DoneBytes) / AverageSpeed;
    TDateTime t = 0;
    Remaining = r >= 0 && TryEncodeTime(r / 3600, r % 3600 / 60, r % 60, 0, t) ? t : 0;
  }
}

void TJob::BuildBlockMap() {
  if (State == TJobState::jsFinished) {
    Percent = 100;
    DoneBytes = FileSize;
    BlockMap.assign(static_cast<std::size_t>(ChunkCount(FileSize)), 1);
    return;
  }
  if (FileSize <= 0) return;
  BlockMap.assign(static_cast<std::size_t>(ChunkCount(FileSize)), 1);
  std::int64_t done = FileSize;
  const std::int32_t last = static_cast<std::int32_t>(BlockMap.size()) - 1;
  for (const auto& b : Blocks) {
    if (b->Length() <= 0) continue;
    done -= b->Length();
    const std::int32_t from = std::max(0, ChunkOf(b->StartPos));
    const std::int32_t to = std::min(last, ChunkOf(b->EndPos - 1));
    for (std::int32_t c = from; c <= to; ++c) BlockMap[static_cast<std::size_t>(c)] = 0;
  }
  DoneBytes = static_cast<std::int32_t>(std::clamp<std::int64_t>(done, 0, FileSize));
  UpdatePercent();
}

void TJob::ResetForStart(TDateTime now) {
  for (auto& u : URLs) {
    u.ClearRunStatistics();
    u.ResumeState = TResumeState::rsUnknown;
  }
  AllStarted = false;
  Errors = 0;
  BeginTime = now;
  if (StartCount < std::numeric_limits<std::int32_t>::max()) ++StartCount;
  Elapsed = 0;
  Remaining = 0;
  CurrentSpeed = 0;
  AverageSpeed = 0;
  ResumeState = TResumeState::rsUnknown;
  Received = 0;
  ReceivedAtTick = 0;
}

std::shared_ptr<TSkimbler> TJob::FindSkimbler(const SkimblerHandle& h) const {
  for (const auto& s : Skimblers)
    if (s->Handle() == h) return s;
  return nullptr;
}

std::shared_ptr<TSkimbler> TJob::RemoveSkimbler(const SkimblerHandle& h) {
  const auto it = std::find_if(Skimblers.begin(), Skimblers.end(),
                               [&](const auto& s) { return s->Handle() == h; });
  if (it == Skimblers.end()) return nullptr;
  auto s = std::move(*it);
  Skimblers.erase(it);
  return s;
}

}  // namespace nsk
