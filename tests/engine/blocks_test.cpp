// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "engine/job.h"
#include "platform/fileops.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

struct R {
  std::int32_t Start, End;
  bool Busy;
  friend bool operator==(const R&, const R&) = default;
  friend std::ostream& operator<<(std::ostream& o, const R& r) {
    return o << "[" << r.Start << "," << r.End << (r.Busy ? ") busy" : ")");
  }
};

constexpr std::int32_t K = 2048;

std::shared_ptr<TJob> JobWith(std::int32_t size, const std::vector<R>& blocks) {
  auto job = TJob::Create();
  job->FileSize = size;
  for (const auto& b : blocks)
    job->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{b.Start, b.End, b.Busy}));
  return job;
}

std::vector<R> BlocksOf(const TJob& job) {
  std::vector<R> out;
  for (const auto& b : job.Blocks) out.push_back({b->StartPos, b->EndPos, b->Busy});
  return out;
}

TEST(SplitBlock, CutsOnChunkBoundariesAndKeepsFiveChunksPerPart) {
  struct Case {
    const char* what;
    R block;
    std::int32_t n;
    std::int32_t parts;
    std::vector<R> after;  // the split block first, then a block behind it that stays
  };
  const std::int32_t tailStart = 200 * K;
  const R tail{tailStart, tailStart + 3 * K, false};
  const Case cases[] = {
      {"start inside the first chunk, 20 chunks", {100, 40960, true}, 2, 2,
       {{100, 20480, true}, {20480, 40960, false}, tail}},
      {"10 chunks give two parts of 5", {0, 10 * K, true}, 2, 2,
       {{0, 5 * K, true}, {5 * K, 10 * K, false}, tail}},
      {"9 chunks are not split", {0, 9 * K, true}, 2, 1, {{0, 9 * K, true}, tail}},
      {"three parts of 6 chunks and the rest", {0, 20 * K, true}, 3, 3,
       {{0, 6 * K, true}, {6 * K, 12 * K, false}, {12 * K, 20 * K, false}, tail}},
      {"12 chunks asked for 3 give 2", {0, 12 * K, true}, 3, 2,
       {{0, 6 * K, true}, {6 * K, 12 * K, false}, tail}},
      {"the running part may be shorter than a step", {3000, 21 * K, true}, 2, 2,
       {{3000, 11 * K, true}, {11 * K, 21 * K, false}, tail}},
      {"an end inside a chunk stays with the last part", {0, 20000, true}, 2, 2,
       {{0, 5 * K, true}, {5 * K, 20000, false}, tail}},
      {"n of 1", {0, 40 * K, true}, 1, 1, {{0, 40 * K, true}, tail}},
      {"n of 0", {0, 40 * K, true}, 0, 1, {{0, 40 * K, true}, tail}},
      {"negative n", {0, 40 * K, true}, -3, 1, {{0, 40 * K, true}, tail}},
      {"an empty block", {K, K, true}, 2, 1, {{K, K, true}, tail}},
  };
  for (const auto& c : cases) {
    auto job = JobWith(tail.End, {c.block, tail});
    EXPECT_EQ(job->SplitBlock(*job->Blocks[0], c.n), c.parts) << c.what;
    EXPECT_EQ(BlocksOf(*job), c.after) << c.what;
  }
}

TEST(NextBlock, HandsOutTheLargestFreeRangeOrHalfOfTheLargestBusyOne) {
  struct Case {
    const char* what;
    std::vector<R> blocks;
    bool expectBlock;
    R returned;             // when expectBlock
    std::vector<R> after;
  };
  const Case cases[] = {
      {"no blocks", {}, false, {}, {}},
      {"busy blocks of 9 chunks at most give nothing",
       {{0, 9 * K, true}, {9 * K, 12 * K, true}}, false, {},
       {{0, 9 * K, true}, {9 * K, 12 * K, true}}},
      {"a busy block of 10 chunks is split into two halves of 5", {{0, 10 * K, true}}, true,
       {5 * K, 10 * K, false}, {{0, 5 * K, true}, {5 * K, 10 * K, false}}},
      {"the largest free block, the first of equal ones",
       {{0, 3 * K, false}, {3 * K, 8 * K, false}, {8 * K, 13 * K, false}}, true,
       {3 * K, 8 * K, false}, {{0, 3 * K, false}, {3 * K, 8 * K, false}, {8 * K, 13 * K, false}}},
      {"a short free block wins over a long busy one", {{0, 40 * K, true}, {40 * K, 40 * K + 1, false}},
       true, {40 * K, 40 * K + 1, false}, {{0, 40 * K, true}, {40 * K, 40 * K + 1, false}}},
      {"empty and inverted blocks are never taken", {{K, K, false}, {3 * K, 2 * K, false}}, false,
       {}, {{K, K, false}, {3 * K, 2 * K, false}}},
      {"of two equally long busy blocks the first is split",
       {{0, 10 * K, true}, {10 * K, 20 * K, true}}, true, {5 * K, 10 * K, false},
       {{0, 5 * K, true}, {5 * K, 10 * K, false}, {10 * K, 20 * K, true}}},
      {"the busy block is measured in chunks it touches",
       {{K - 1, 10 * K - 2047, true}}, true, {5 * K, 10 * K - 2047, false},
       {{K - 1, 5 * K, true}, {5 * K, 10 * K - 2047, false}}},
  };
  for (const auto& c : cases) {
    auto job = JobWith(100 * K, c.blocks);
    const auto b = job->NextBlock();
    ASSERT_EQ(b != nullptr, c.expectBlock) << c.what;
    if (b) {
      EXPECT_EQ((R{b->StartPos, b->EndPos, b->Busy}), c.returned) << c.what;
    }
    EXPECT_EQ(BlocksOf(*job), c.after) << c.what;
  }
}

TEST(PickBlock, ReturnsTheBlockItselfWithoutChangingTheList) {
  auto job = JobWith(100 * K, {{0, 10 * K, true}, {10 * K, 11 * K, false}});
  EXPECT_EQ(job->PickBlock(), job->Blocks[1]);
  job->Blocks[1]->Busy = true;
  EXPECT_EQ(job->PickBlock(), job->Blocks[0]);
  EXPECT_EQ(job->Blocks.size(), 2u);
}

TEST(MergeBlocks, JoinsFreeRangesToTheRangeBeforeThem) {
  struct Case {
    const char* what;
    std::vector<R> before, after;
  };
  const Case cases[] = {
      {"a running block absorbs the released range behind it",
       {{0, 100, true}, {100, 200, false}, {200, 300, false}}, {{0, 300, true}}},
      {"a busy block is never absorbed",
       {{0, 100, false}, {100, 200, true}, {200, 300, false}},
       {{0, 100, false}, {100, 300, true}}},
      {"a gap keeps ranges apart", {{0, 100, true}, {150, 200, false}},
       {{0, 100, true}, {150, 200, false}}},
      {"the list is sorted first", {{200, 300, false}, {0, 100, true}, {100, 200, false}},
       {{0, 300, true}}},
      {"free ranges join each other", {{0, 10, false}, {10, 20, false}}, {{0, 20, false}}},
      {"two busy neighbours stay two", {{0, 10, true}, {10, 20, true}},
       {{0, 10, true}, {10, 20, true}}},
      {"one block", {{0, 10, false}}, {{0, 10, false}}},
      {"none", {}, {}},
  };
  for (const auto& c : cases) {
    auto job = JobWith(1000, c.before);
    job->MergeBlocks();
    EXPECT_EQ(BlocksOf(*job), c.after) << c.what;
  }
}

TEST(MergeBlocks, TheAbsorbingBlockStaysTheSameRecord) {
  auto job = JobWith(1000, {{0, 100, true}, {100, 200, false}});
  const auto running = job->Blocks[0];
  job->MergeBlocks();
  ASSERT_EQ(job->Blocks.size(), 1u);
  EXPECT_EQ(job->Blocks[0], running);
  EXPECT_EQ(running->EndPos, 200);
}

std::string Pattern(std::int32_t from, std::int32_t n) {
  std::string s;
  for (std::int32_t i = 0; i < n; ++i) s.push_back(static_cast<char>((from + i) * 7 % 251));
  return s;
}

TEST(CommitData, StoresAtTheBlockOffsetCutsAtTheEndAndMarksCompletedChunks) {
  using O = TCommitResult::TOutcome;
  struct Case {
    const char* what;
    std::int32_t size;
    std::vector<R> blocks;  // the first is the connection's
    std::int32_t n;
    O outcome;
    std::int32_t bytes;
    std::int32_t startAfter;  // of the connection's block, when it stays
    std::int32_t markFrom, markTo;
    std::size_t blocksAfter;
  };
  const Case cases[] = {
      {"inside the block", 10 * K, {{0, 10 * K, true}}, 3000, O::Stored, 3000, 3000, 0, 1, 1},
      {"crossing the block's end", 10 * K, {{0, 5000, true}, {5000, 10 * K, true}}, 6000,
       O::BlockDone, 5000, 0, 0, 2, 1},
      {"exactly the rest", 10 * K, {{K, 2 * K, true}}, K, O::BlockDone, K, 0, 1, 2, 0},
      {"the last byte of a file of uneven size", 5000, {{4096, 5000, true}}, 904, O::BlockDone,
       904, 0, 2, 3, 0},
      {"a few bytes inside one chunk", 10 * K, {{100, 10 * K, true}}, 10, O::Stored, 10, 110, 0,
       0, 1},
      {"reaching a chunk's end from inside it", 10 * K, {{100, 10 * K, true}}, K - 100,
       O::Stored, K - 100, K, 0, 1, 1},
      {"nothing", 10 * K, {{0, 10 * K, true}}, 0, O::Stored, 0, 0, 0, 0, 1},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    auto job = JobWith(c.size, c.blocks);
    job->FileName = dir.File("f");
    job->BlockMap.assign(static_cast<std::size_t>(ChunkCount(c.size)), 0);
    job->DoneBytes = 100;  // what other blocks already brought
    ASSERT_TRUE(job->OpenPartFile()) << c.what;
    auto s = TSkimbler::Create(job->Handle(), 1);
    s->Block = job->Blocks[0];
    const std::int32_t start = s->Block->StartPos;
    TByteCounter counter;
    const std::string data = Pattern(start, c.n + 100);
    const TCommitResult r = job->CommitData(*s, data.data(), c.n, &counter);
    EXPECT_EQ(r.Outcome, c.outcome) << c.what;
    EXPECT_EQ(r.Bytes, c.bytes) << c.what;
    EXPECT_EQ(r.MarkFrom, c.markFrom) << c.what;
    EXPECT_EQ(r.MarkTo, c.markTo) << c.what;
    EXPECT_EQ(job->Blocks.size(), c.blocksAfter) << c.what;
    if (c.outcome == O::BlockDone) {
      EXPECT_EQ(s->Block, nullptr) << c.what;
    } else {
      ASSERT_NE(s->Block, nullptr) << c.what;
      EXPECT_EQ(s->Block->StartPos, c.startAfter) << c.what;
    }
    EXPECT_EQ(job->Received, c.bytes) << c.what;
    EXPECT_EQ(job->DoneBytes, 100 + c.bytes) << c.what;
    EXPECT_EQ(counter.TotalReceived(), c.bytes) << c.what;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(job->BlockMap.size()); ++i)
      EXPECT_EQ(job->BlockMap[static_cast<std::size_t>(i)], i >= c.markFrom && i < c.markTo ? 1 : 0)
          << c.what << " chunk " << i;
    job->PartFile.Close();
    const auto disk = ReadWholeFile(dir.File("f.wyn"));
    ASSERT_TRUE(disk) << c.what;
    ASSERT_EQ(disk->size(), static_cast<std::size_t>(c.size)) << c.what;
    EXPECT_EQ(disk->substr(static_cast<std::size_t>(start), static_cast<std::size_t>(c.bytes)),
              data.substr(0, static_cast<std::size_t>(c.bytes)))
        << c.what;
    // Nothing lands beyond the cut.
    const std::size_t after = static_cast<std::size_t>(start + c.bytes);
    EXPECT_EQ(disk->find_first_not_of('\0', after), std::string::npos) << c.what;
  }
}

TEST(CommitData, DoneBytesNeverExceedsTheFileSize) {
  test::TTempDir dir;
  auto job = JobWith(3 * K, {{0, 3 * K, true}});
  job->FileName = dir.File("f");
  job->BlockMap.assign(3, 0);
  ASSERT_TRUE(job->OpenPartFile());
  auto s = TSkimbler::Create(job->Handle(), 1);
  s->Block = job->Blocks[0];
  const std::string data = Pattern(0, 10 * K);
  for (int i = 0; i < 100 && s->Block; ++i) job->CommitData(*s, data.data(), 1000, nullptr);
  EXPECT_EQ(job->DoneBytes, 3 * K);
  EXPECT_EQ(job->Percent, 100);
  EXPECT_EQ(job->BlockMap, std::vector<std::uint8_t>(3, 1));
  EXPECT_TRUE(job->Blocks.empty());
}

TEST(CommitData, AFailingWriteOnlyCountsTheReceivedBytes) {
  auto job = JobWith(10 * K, {{0, 10 * K, true}});
  job->BlockMap.assign(10, 0);  // no partial file is open
  auto s = TSkimbler::Create(job->Handle(), 1);
  s->Block = job->Blocks[0];
  TByteCounter counter;
  const std::string data(500, 'x');
  const TCommitResult r = job->CommitData(*s, data.data(), 500, &counter);
  EXPECT_EQ(r.Outcome, TCommitResult::TOutcome::WriteFailed);
  EXPECT_FALSE(r.Stored());
  EXPECT_EQ(job->Received, 500);
  EXPECT_EQ(job->DoneBytes, 0);
  EXPECT_EQ(job->Blocks[0]->StartPos, 0);
  EXPECT_EQ(job->BlockMap, std::vector<std::uint8_t>(10, 0));
  EXPECT_EQ(counter.TotalReceived(), 0);
  EXPECT_EQ(s->Block, job->Blocks[0]);
}

TEST(CommitData, AConnectionWithoutABlockOfTheJobStoresNothing) {
  test::TTempDir dir;
  auto job = JobWith(10 * K, {{0, 10 * K, true}});
  job->FileName = dir.File("f");
  ASSERT_TRUE(job->OpenPartFile());
  auto s = TSkimbler::Create(job->Handle(), 1);
  const std::string data(500, 'x');
  EXPECT_EQ(job->CommitData(*s, data.data(), 500, nullptr).Outcome, TCommitResult::TOutcome::NoBlock);
  s->Block = std::make_shared<TBlockInfo>(TBlockInfo{0, 10 * K, true});  // not one of Blocks
  EXPECT_EQ(job->CommitData(*s, data.data(), 500, nullptr).Outcome, TCommitResult::TOutcome::NoBlock);
  s->Block = job->Blocks[0];
  EXPECT_EQ(job->CommitData(*s, data.data(), -1, nullptr).Outcome, TCommitResult::TOutcome::NoBlock);
  EXPECT_EQ(job->Received, 0);
  EXPECT_EQ(job->DoneBytes, 0);
}

TEST(ResetBlocks, OneBusyBlockOverTheFileAndAnEmptyMap) {
  auto job = JobWith(5000, {{0, 100, false}, {200, 300, true}});
  job->BlockMap = {1, 1, 1};
  const auto b = job->ResetBlocks();
  EXPECT_EQ(BlocksOf(*job), (std::vector<R>{{0, 5000, true}}));
  EXPECT_EQ(job->Blocks[0], b);
  EXPECT_EQ(job->BlockMap, std::vector<std::uint8_t>(3, 0));
}

TEST(BuildBlockMap, DerivesMapDoneBytesAndPercentFromTheMissingRanges) {
  struct Case {
    const char* what;
    TJobState state;
    std::int32_t size;
    std::vector<R> blocks;
    std::vector<std::uint8_t> map;
    std::int32_t done;
    int percent;
  };
  const Case cases[] = {
      {"finished", TJobState::jsFinished, 5000, {{0, 10, false}}, {1, 1, 1}, 5000, 100},
      {"unknown size", TJobState::jsStopped, 0, {}, {}, 77, 0},
      {"two ranges", TJobState::jsStopped, 5 * K, {{K, 2 * K, false}, {6000, 4 * K, false}},
       {1, 0, 0, 0, 1}, 5 * K - K - (4 * K - 6000), 59},
      {"the uneven last chunk", TJobState::jsStopped, 5000, {{4000, 5000, false}}, {1, 0, 0},
       4000, 80},
      {"nothing stored", TJobState::jsStopped, 5000, {{0, 5000, false}}, {0, 0, 0}, 0, 0},
      {"complete but not finished", TJobState::jsError, 4 * K, {}, {1, 1, 1, 1}, 4 * K, 100},
  };
  for (const auto& c : cases) {
    auto job = JobWith(c.size, c.blocks);
    job->State = c.state;
    job->DoneBytes = 77;
    job->BuildBlockMap();
    EXPECT_EQ(job->BlockMap, c.map) << c.what;
    EXPECT_EQ(job->DoneBytes, c.done) << c.what;
    EXPECT_EQ(job->Percent, c.percent) << c.what;
  }
}

}  // namespace
}  // namespace nsk
