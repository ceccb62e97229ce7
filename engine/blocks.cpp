// SPDX-License-Identifier: GPL-2.0-or-later
// The range allocator of a job: which missing range a connection gets, how a busy range is
// shared, how released ranges join again, and how received bytes are stored.
#include <algorithm>

#include "engine/job.h"

namespace nsk {
namespace {

// A busy block is split for another connection only when it spans this many chunks.
constexpr std::int32_t kMinSplitChunks = 10;
// Every part of a split keeps at least this many chunks.
constexpr std::int32_t kMinPartChunks = 5;

std::int32_t SpannedChunks(const TBlockInfo& b) {
  return ChunkOf(b.EndPos - 1) - ChunkOf(b.StartPos) + 1;
}

}  // namespace

std::shared_ptr<TBlockInfo> TJob::ResetBlocks() {
  auto b = std::make_shared<TBlockInfo>(TBlockInfo{0, FileSize, true});
  Blocks.clear();
  Blocks.push_back(b);
  BlockMap.assign(static_cast<std::size_t>(ChunkCount(FileSize)), 0);
  return b;
}

void TJob::SortBlocks() {
  std::stable_sort(Blocks.begin(), Blocks.end(),
                   [](const auto& a, const auto& b) { return a->StartPos < b->StartPos; });
}

std::shared_ptr<TBlockInfo> TJob::PickBlock() const {
  std::shared_ptr<TBlockInfo> free, busy;
  std::int32_t freeLen = 0, busyLen = 0;
  for (const auto& b : Blocks) {
    const std::int32_t len = b->Length();
    if (len <= 0) continue;
    if (!b->Busy && len > freeLen) {
      free = b;
      freeLen = len;
    } else if (b->Busy && len > busyLen) {
      busy = b;
      busyLen = len;
    }
  }
  if (free) return free;
  if (busy && SpannedChunks(*busy) >= kMinSplitChunks) return busy;
  return nullptr;
}

std::shared_ptr<TBlockInfo> TJob::NextBlock() {
  auto p = PickBlock();
  if (!p || !p->Busy) return p;
  return SplitBlock(*p, 2) == 2 ? PickBlock() : nullptr;
}

std::int32_t TJob::SplitBlock(TBlockInfo& b, std::int32_t n) {
  if (n < 2 || b.Length() <= 0) return 1;
  const std::int32_t c0 = ChunkOf(b.StartPos);
  const std::int32_t chunks = ChunkOf(b.EndPos - 1) - c0 + 1;
  std::int32_t k = n, step = 0;
  for (; k > 1; --k) {
    step = chunks / k;
    if (step >= kMinPartChunks) break;
  }
  if (k <= 1) return 1;
  const std::int32_t oldEnd = b.EndPos;
  b.EndPos = (c0 + step) * kChunkSize;
  std::int32_t pos = b.EndPos;
  for (std::int32_t i = 0; i < k - 2; ++i) {
    Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{pos, pos + step * kChunkSize, false}));
    pos += step * kChunkSize;
  }
  Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{pos, oldEnd, false}));
  SortBlocks();
  return k;
}

void TJob::MergeBlocks() {
  SortBlocks();
  // Each block absorbs the free blocks that follow it without a gap; a busy block thereby
  // extends the range its connection streams into.
  std::vector<std::shared_ptr<TBlockInfo>> kept;
  kept.reserve(Blocks.size());
  for (auto& b : Blocks) {
    if (!kept.empty() && !b->Busy && kept.back()->EndPos == b->StartPos) {
      kept.back()->EndPos = b->EndPos;
      continue;
    }
    kept.push_back(std::move(b));
  }
  Blocks = std::move(kept);
}

TCommitResult TJob::CommitData(TSkimbler& s, const char* data, std::int32_t n,
                               TByteCounter* counter) {
  TCommitResult r;
  const auto block = s.Block;
  if (!block || n < 0 ||
      std::find(Blocks.begin(), Blocks.end(), block) == Blocks.end())
    return r;  // NoBlock
  TBlockInfo& b = *block;
  // Bytes beyond the block's end belong to another connection's range: drop them.
  const std::int32_t remaining = std::max(0, b.EndPos - b.StartPos);
  if (n >= remaining) n = remaining;
  r.Bytes = n;
  AddReceived(n);
  if (!PartFile.WriteAt(b.StartPos, data, static_cast<std::size_t>(n))) {
    r.Outcome = TCommitResult::TOutcome::WriteFailed;
    return r;
  }
  const std::int64_t end = static_cast<std::int64_t>(b.StartPos) + n;
  std::int32_t from = ChunkOf(b.StartPos);
  std::int32_t to = ChunkOf(static_cast<std::int32_t>(end));
  // The last chunk of a file whose size is no multiple of the chunk size is complete when
  // the file's last byte arrived.
  if (end == FileSize && FileSize % kChunkSize != 0) ++to;
  to = std::min(to, static_cast<std::int32_t>(BlockMap.size()));
  if (from < to) {
    std::fill(BlockMap.begin() + from, BlockMap.begin() + to, 1);
    r.MarkFrom = from;
    r.MarkTo = to;
  }
  if (n == remaining) {
    Blocks.erase(std::find(Blocks.begin(), Blocks.end(), block));
    s.Block.reset();
    r.Outcome = TCommitResult::TOutcome::BlockDone;
  } else {
    b.StartPos += n;
    r.Outcome = TCommitResult::TOutcome::Stored;
  }
  DoneBytes = static_cast<std::int32_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(DoneBytes) + n, std::max(FileSize, 0)));
  UpdatePercent();
  if (counter) counter->Add(n);
  return r;
}

}  // namespace nsk
