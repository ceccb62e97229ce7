// SPDX-License-Identifier: GPL-2.0-or-later
// Connections, a scheduler and a window sharing one job the way the engine's threads do:
// list lock, then job lock; the counter and the action flags from other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/joblist.h"
#include "platform/fileops.h"
#include "tests/support/engine/recordingpost.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

char ByteAt(std::int32_t pos) { return static_cast<char>((pos % 251) ^ (pos >> 11)); }

// Empty when the job's ranges and counts are consistent; else what is wrong.
std::string BrokenInvariant(const TJob& job) {
  std::ostringstream why;
  std::int64_t missing = 0;
  for (std::size_t i = 0; i < job.Blocks.size(); ++i) {
    const auto& b = *job.Blocks[i];
    if (b.StartPos < 0 || b.EndPos > job.FileSize || b.StartPos >= b.EndPos)
      why << "block " << i << " [" << b.StartPos << "," << b.EndPos << ") outside the file; ";
    if (i > 0 && job.Blocks[i - 1]->EndPos > b.StartPos) why << "blocks " << i << " overlap; ";
    missing += b.Length();
  }
  if (job.DoneBytes > job.FileSize) why << "DoneBytes beyond the size; ";
  if (job.DoneBytes + missing != job.FileSize) why << "stored plus missing is not the size; ";
  for (const auto& s : job.Skimblers) {
    if (!s->Block) continue;
    if (!s->Block->Busy) why << "#" << s->Number << " holds a free block; ";
    bool listed = false;
    for (const auto& b : job.Blocks) listed = listed || b == s->Block;
    if (!listed) why << "#" << s->Number << " holds a block the job lost; ";
    for (const auto& o : job.Skimblers)
      if (o != s && o->Block == s->Block) why << "two connections share a block; ";
  }
  return why.str();
}

TEST(JobLocking, ConnectionsSchedulerAndWindowKeepTheJobConsistent) {
  test::TTempDir dir;
  TJobList list;
  test::TRecordingPost post;
  auto job = TJob::Create();
  job->FileName = dir.File("big.bin");
  job->Name = "big.bin";
  job->FileSize = 3 * 1024 * 1024 + 1234;
  job->State = TJobState::jsRunning;
  job->ResumeState = TResumeState::rsResumable;
  for (int i = 0; i < 2; ++i) {
    TURLInfo u;
    u.URL = "http://127.0.0.1/" + std::to_string(i);
    u.ResumeState = TResumeState::rsResumable;
    u.Speed = 100 * (i + 1);
    job->URLs.push_back(u);
  }
  ASSERT_TRUE(job->OpenPartFile());
  job->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{0, job->FileSize, false}));
  job->BlockMap.assign(static_cast<std::size_t>(ChunkCount(job->FileSize)), 0);
  constexpr int kConnections = 6;
  std::vector<std::shared_ptr<TSkimbler>> skimblers;
  for (int i = 1; i <= kConnections; ++i) {
    skimblers.push_back(TSkimbler::Create(job->Handle(), i));
    job->AddSkimbler(skimblers.back());
  }
  list.Add(job);
  list.SelectedJobs = {job->Handle()};

  std::atomic<bool> done{false};
  std::atomic<int> violations{0};
  std::atomic<std::int64_t> stored{0};
  const auto check = [&](const char* where) {
    const std::string why = BrokenInvariant(*job);
    if (!why.empty() && violations.fetch_add(1) < 5) ADD_FAILURE() << where << ": " << why;
  };

  std::vector<std::thread> workers;
  for (int w = 0; w < kConnections; ++w) {
    workers.emplace_back([&, w] {
      TSkimbler& s = *skimblers[static_cast<std::size_t>(w)];
      std::mt19937 rng(static_cast<unsigned>(w * 7919 + 1));
      std::string packet;
      for (;;) {
        TAttempt a;
        {
          auto lg = list.Guard();
          auto jg = job->Guard();
          a = job->BeginAttempt(s);
          check("begin");
        }
        if (!a.GoesAhead()) break;
        // Some attempts break off early, as failing connections do.
        int budget = std::uniform_int_distribution<int>(1, 60)(rng);
        for (;;) {
          auto lg = list.Guard();
          auto jg = job->Guard();
          if (!s.Block) break;
          const std::int32_t pos = s.Block->StartPos;
          const auto n = std::uniform_int_distribution<std::int32_t>(1, 9000)(rng);
          packet.resize(static_cast<std::size_t>(n));
          for (std::int32_t i = 0; i < n; ++i) packet[static_cast<std::size_t>(i)] = ByteAt(pos + i);
          const TCommitResult r = job->CommitData(s, packet.data(), n, &list.Counter);
          if (r.Outcome == TCommitResult::TOutcome::WriteFailed) ADD_FAILURE() << "write failed";
          stored += r.Bytes;
          check("commit");
          if (r.Outcome != TCommitResult::TOutcome::Stored || --budget == 0) break;
        }
        auto lg = list.Guard();
        auto jg = job->Guard();
        job->EndAttempt(s);
        check("end");
      }
    });
  }
  // The scheduler's tick and the auto-save, as they run beside the connections.
  std::thread scheduler([&] {
    while (!done) {
      list.Counter.TakeTick();
      list.RebuildRunningHints();
      list.UpdateActionFlags();
      list.PostCounts(post);
      auto lg = list.Guard();
      auto jg = job->Guard();
      job->UpdateRates();
      job->SaveInfoFile();
    }
  });
  // The window reads only what is meant for it without a lock.
  std::thread window([&] {
    std::size_t seen = 0;
    while (!done) {
      seen += list.RunningHintsText().size();
      seen += list.IsEnabled(TAction::StopJob) ? 1 : 0;
      seen += static_cast<std::size_t>(list.Count());
      list.IgnoreClipboard.store(false);
    }
    EXPECT_GT(seen, 0u);
  });
  for (auto& t : workers) t.join();
  done = true;
  scheduler.join();
  window.join();

  auto lg = list.Guard();
  auto jg = job->Guard();
  EXPECT_EQ(violations.load(), 0);
  EXPECT_TRUE(job->Blocks.empty());
  EXPECT_EQ(job->DoneBytes, job->FileSize);
  EXPECT_EQ(job->Percent, 100);
  EXPECT_EQ(job->BlockMap, std::vector<std::uint8_t>(job->BlockMap.size(), 1));
  EXPECT_EQ(stored.load(), job->FileSize);
  EXPECT_EQ(list.Counter.TotalReceived(), job->FileSize);
  for (const auto& u : job->URLs) EXPECT_EQ(u.Users, 0);
  job->PartFile.Close();
  const auto data = ReadWholeFile(job->PartFileName());
  ASSERT_TRUE(data);
  ASSERT_EQ(data->size(), static_cast<std::size_t>(job->FileSize));
  std::int32_t wrong = 0;
  for (std::int32_t i = 0; i < job->FileSize; ++i)
    if ((*data)[static_cast<std::size_t>(i)] != ByteAt(i)) ++wrong;
  EXPECT_EQ(wrong, 0);
  list.RebuildRunningHints();
  EXPECT_EQ(list.RunningHints(), std::vector<std::string>{"big.bin-->[100%]"});
}

}  // namespace
}  // namespace nsk
