// SPDX-License-Identifier: GPL-2.0-or-later
// Mirror choice: which URL a connection takes, what the job knows about resuming, and the
// ranking that makes the next run try the best mirror of the last one first.
#include <cmath>
#include <utility>

#include "engine/job.h"

namespace nsk {
namespace {

bool IsUnknown(const TURLInfo& u) { return u.ResumeState == TResumeState::rsUnknown; }

// True when URL p (ahead) and URL q (behind) are to change places.
bool ShouldExchange(const TURLInfo& p, const TURLInfo& q) {
  if (q.Failed) return false;
  if (p.Failed) return true;
  if (IsUnknown(q) && q.Speed == 0) return false;
  if (IsUnknown(p) && p.Speed == 0) return true;
  if (IsUnknown(p) && p.Speed == -1) return false;
  if (IsUnknown(q) && q.Speed == -1) return true;
  if (p.ResumeState == TResumeState::rsResumable)
    return q.ResumeState == TResumeState::rsResumable && p.Speed < q.Speed;
  if (p.ResumeState == TResumeState::rsNoResume)
    return q.ResumeState == TResumeState::rsResumable ||
           (q.ResumeState == TResumeState::rsNoResume && p.Speed < q.Speed);
  return false;
}

}  // namespace

std::int32_t TJob::ChooseURL() const {
  std::int32_t leastUsedUnknown = -1, idleResumable = -1, idleNoResume = -1;
  std::int32_t idleResumableSpeed = -1, idleNoResumeSpeed = -1;
  const auto count = static_cast<std::int32_t>(URLs.size());
  for (std::int32_t i = 0; i < count; ++i) {
    const TURLInfo& u = URLs[static_cast<std::size_t>(i)];
    if (u.Failed || u.Users != 0) continue;
    switch (u.ResumeState) {
      case TResumeState::rsUnknown:
        if (u.Speed == -1) return i;  // never tried in this run
        if (leastUsedUnknown < 0 || u.Uses < URLs[static_cast<std::size_t>(leastUsedUnknown)].Uses)
          leastUsedUnknown = i;
        break;
      case TResumeState::rsResumable:
        if (u.Speed > idleResumableSpeed) {
          idleResumable = i;
          idleResumableSpeed = u.Speed;
        }
        break;
      case TResumeState::rsNoResume:
        if (u.Speed > idleNoResumeSpeed) {
          idleNoResume = i;
          idleNoResumeSpeed = u.Speed;
        }
        break;
    }
  }
  std::int32_t busyResumable = -1, busySpeed = -2;
  for (std::int32_t i = 0; i < count; ++i) {
    const TURLInfo& u = URLs[static_cast<std::size_t>(i)];
    if (u.Failed || u.Users == 0 || u.ResumeState != TResumeState::rsResumable) continue;
    if (u.Speed > busySpeed) {
      busyResumable = i;
      busySpeed = u.Speed;
    }
  }
  if (idleResumable >= 0 && busyResumable >= 0) {
    // A busy mirror's speed is per connection; each further user is expected to add a fifth.
    const TURLInfo& busy = URLs[static_cast<std::size_t>(busyResumable)];
    return idleResumableSpeed >= busy.Speed * std::pow(1.2, busy.Users) ? idleResumable
                                                                         : busyResumable;
  }
  if (idleResumable >= 0) return idleResumable;
  if (busyResumable >= 0) return busyResumable;
  if (idleNoResume >= 0) return idleNoResume;
  return leastUsedUnknown;
}

bool TJob::UsesHttp(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= URLs.size()) return false;
  const TURLInfo& u = URLs[static_cast<std::size_t>(index)];
  if (!u.URL.empty() && (u.URL[0] == 'H' || u.URL[0] == 'h')) return true;
  return u.Proxy.ProxyType == TProxyType::Http;
}

TResumeState TJob::UpdateResumeState() {
  bool noResume = false;
  ResumeState = TResumeState::rsUnknown;
  for (const auto& u : URLs) {
    if (u.Failed) continue;
    if (u.ResumeState == TResumeState::rsResumable) {
      ResumeState = TResumeState::rsResumable;
      return ResumeState;
    }
    if (u.ResumeState == TResumeState::rsNoResume) noResume = true;
  }
  if (noResume) ResumeState = TResumeState::rsNoResume;
  return ResumeState;
}

bool TJob::AnyURLInUse() const {
  for (const auto& u : URLs)
    if (u.Users > 0) return true;
  return false;
}

bool TJob::AllURLsFailed() const {
  for (const auto& u : URLs)
    if (!u.Failed) return false;
  return true;
}

void TJob::RankURLs() {
  const auto count = URLs.size();
  if (count < 2) return;
  for (std::size_t i = 0; i + 1 < count; ++i)
    for (std::size_t j = count - 1; j > i; --j)
      if (ShouldExchange(URLs[i], URLs[j])) std::swap(URLs[i], URLs[j]);
}

void TJob::MarkURLFailed(std::int32_t index) {
  if (index >= 0 && static_cast<std::size_t>(index) < URLs.size()) {
    TURLInfo& u = URLs[static_cast<std::size_t>(index)];
    if (u.Users == 1) u.Failed = true;
  }
  UpdateResumeState();
}

TAttempt TJob::BeginAttempt(TSkimbler& s) {
  TAttempt a;
  const std::int32_t i = ChooseURL();
  s.URLIndex = i;
  if (i < 0) return a;
  TURLInfo& u = URLs[static_cast<std::size_t>(i)];
  if (ResumeState == TResumeState::rsNoResume && u.ResumeState == TResumeState::rsNoResume) {
    // No mirror resumes: only one connection may fetch, and only from byte 0.
    if (AnyURLInUse()) {
      s.URLIndex = -1;
      return a;
    }
    Percent = 0;
    DoneBytes = 0;
    if (FileSize > 0) {
      s.Block = ResetBlocks();
      a.Kind = TAttemptKind::Restart;
    } else {
      // Without a size there is no range to reset: the attempt learns the size first.
      Blocks.clear();
      a.Kind = TAttemptKind::LearnSize;
    }
  } else if (ResumeState != TResumeState::rsUnknown || FileSize != 0) {
    auto b = NextBlock();
    if (!b) {
      s.URLIndex = -1;
      return a;
    }
    b->Busy = true;
    s.Block = b;
    a.Kind = TAttemptKind::Block;
    a.StartPos = b->StartPos;
  } else {
    a.Kind = TAttemptKind::LearnSize;
  }
  a.URLIndex = i;
  if (u.Users < 255) ++u.Users;
  ++u.Uses;
  return a;
}

std::optional<std::int32_t> TJob::EndAttempt(TSkimbler& s) {
  if (s.URLIndex >= 0 && static_cast<std::size_t>(s.URLIndex) < URLs.size()) {
    TURLInfo& u = URLs[static_cast<std::size_t>(s.URLIndex)];
    if (u.Users > 0) --u.Users;
  }
  s.URLIndex = -1;
  std::optional<std::int32_t> released;
  if (s.Block) {
    s.Block->Busy = false;
    released = s.Block->StartPos;
    s.Block.reset();
  }
  MergeBlocks();
  s.State = TSkimblerState::ssIdle;
  return released;
}

}  // namespace nsk
