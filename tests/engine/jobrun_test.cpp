// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <fstream>

#include "engine/job.h"
#include "platform/fileops.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

TDateTime Seconds(double s) { return s / 86400.0; }

int SecondsOf(TDateTime t) {
  int h = 0, m = 0, s = 0;
  if (!TryDecodeTime(t, h, m, s)) return -1;
  return h * 3600 + m * 60 + s;
}

TEST(UpdateRates, SpeedsAndTimeLeft) {
  struct Case {
    const char* what;
    std::int32_t received, atTick;
    TDateTime elapsed;
    std::int32_t size, done, averageBefore;
    std::int32_t current, average;
    int remaining;  // seconds
  };
  const Case cases[] = {
      {"a plain second", 10000, 4000, Seconds(10), 100000, 50000, 0, 6000, 1000, 50},
      {"no second elapsed keeps the average", 500, 0, Seconds(0), 100000, 30000, 7, 500, 7, 10000},
      {"a negative elapsed time counts as 0 seconds", 500, 0, Seconds(-5), 100000, 30000, 7, 500,
       7, 10000},
      {"an estimate of 24 hours or more is 0", 10, 0, Seconds(10), 2000000000, 0, 0, 10, 1, 0},
      {"just under 24 hours", 10, 0, Seconds(10), 86399, 0, 0, 10, 1, 86399},
      {"a run longer than a day reads as a time of day", 5000, 0, 1.0 + Seconds(5), 100000,
       0, 0, 5000, 1000, 100},
      {"hours, minutes and seconds", 1, 0, Seconds(1), 2 * 3600 + 3 * 60 + 4, 0, 0, 1, 1, 7384},
  };
  for (const auto& c : cases) {
    auto job = TJob::Create();
    job->Received = c.received;
    job->ReceivedAtTick = c.atTick;
    job->Elapsed = c.elapsed;
    job->FileSize = c.size;
    job->DoneBytes = c.done;
    job->AverageSpeed = c.averageBefore;
    job->Remaining = Seconds(123);
    job->UpdateRates();
    EXPECT_EQ(job->CurrentSpeed, c.current) << c.what;
    EXPECT_EQ(job->ReceivedAtTick, c.received) << c.what;
    EXPECT_EQ(job->AverageSpeed, c.average) << c.what;
    EXPECT_EQ(SecondsOf(job->Remaining), c.remaining) << c.what;
  }
}

TEST(UpdateRates, TimeLeftStaysWhileTheSizeOrSpeedIsUnknown) {
  auto job = TJob::Create();
  job->Received = 100;
  job->Elapsed = Seconds(10);
  job->Remaining = Seconds(42);
  job->UpdateRates();  // size unknown
  EXPECT_EQ(job->AverageSpeed, 10);
  EXPECT_EQ(SecondsOf(job->Remaining), 42);
  job->FileSize = 1000;
  job->Received = 0;
  job->AverageSpeed = 0;
  job->UpdateRates();  // nothing received
  EXPECT_EQ(SecondsOf(job->Remaining), 42);
}

TEST(ResetForStart, ClearsTheRunStatisticsButKeepsTheProgress) {
  auto job = TJob::Create();
  TURLInfo u;
  u.URL = "http://h/f";
  u.Speed = 50;
  u.Users = 2;
  u.Failed = true;
  u.Uses = 9;
  u.ResumeState = TResumeState::rsResumable;
  job->URLs = {u, u};
  job->AllStarted = true;
  job->Errors = 4;
  job->StartCount = 2;
  job->Elapsed = job->Remaining = Seconds(9);
  job->CurrentSpeed = job->AverageSpeed = 7;
  job->ResumeState = TResumeState::rsNoResume;
  job->Received = job->ReceivedAtTick = 99;
  job->FileSize = 5000;
  job->DoneBytes = 1000;
  job->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{1000, 5000, false}));
  job->BlockMap = {0, 0, 0};
  job->ResetForStart(45000.5);
  for (const auto& v : job->URLs) {
    EXPECT_EQ(v.Speed, -1);
    EXPECT_EQ(v.Users, 0);
    EXPECT_FALSE(v.Failed);
    EXPECT_EQ(v.Uses, 0);
    EXPECT_EQ(v.ResumeState, TResumeState::rsUnknown);
  }
  EXPECT_FALSE(job->AllStarted);
  EXPECT_EQ(job->Errors, 0);
  EXPECT_EQ(job->BeginTime, 45000.5);
  EXPECT_EQ(job->StartCount, 3);
  EXPECT_EQ(job->Elapsed, 0);
  EXPECT_EQ(job->Remaining, 0);
  EXPECT_EQ(job->CurrentSpeed, 0);
  EXPECT_EQ(job->AverageSpeed, 0);
  EXPECT_EQ(job->ResumeState, TResumeState::rsUnknown);
  EXPECT_EQ(job->Received, 0);
  EXPECT_EQ(job->ReceivedAtTick, 0);
  EXPECT_EQ(job->FileSize, 5000);
  EXPECT_EQ(job->DoneBytes, 1000);
  EXPECT_EQ(job->Blocks.size(), 1u);
  EXPECT_EQ(job->BlockMap.size(), 3u);
}

TEST(OpenPartFile, ThePartialFileIsAlwaysExactlyFileSizeBytes) {
  struct Case {
    const char* what;
    std::int64_t existing;  // -1 = no file
    std::int32_t size;
  };
  const Case cases[] = {
      {"created", -1, 10000},
      {"extended", 100, 10000},
      {"cut", 20000, 10000},
      {"kept", 10000, 10000},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    auto job = TJob::Create();
    job->FileName = dir.File("a.bin");
    job->FileSize = c.size;
    if (c.existing >= 0) {
      std::ofstream(job->PartFileName(), std::ios::binary)
          << std::string(static_cast<std::size_t>(c.existing), 'k');
    }
    ASSERT_TRUE(job->OpenPartFile()) << c.what;
    EXPECT_TRUE(job->PartFile.IsOpen()) << c.what;
    EXPECT_EQ(FileLength(job->PartFileName()), c.size) << c.what;
    const char byte = 'z';
    EXPECT_TRUE(job->PartFile.WriteAt(c.size - 1, &byte, 1)) << c.what;
    job->PartFile.Close();
    const auto data = ReadWholeFile(job->PartFileName());
    ASSERT_TRUE(data);
    EXPECT_EQ(data->size(), static_cast<std::size_t>(c.size));
    EXPECT_EQ(data->back(), 'z');
    // Bytes already in the file stay where they were.
    const std::size_t kept = static_cast<std::size_t>(std::min<std::int64_t>(std::max<std::int64_t>(c.existing, 0), c.size - 1));
    EXPECT_EQ(data->substr(0, kept), std::string(kept, 'k')) << c.what;
  }
}

TEST(OpenPartFile, FailsWithoutLeavingAFileOpen) {
  test::TTempDir dir;
  auto job = TJob::Create();
  job->FileName = dir.File("missing/folder/a.bin");
  job->FileSize = 100;
  EXPECT_FALSE(job->OpenPartFile());
  EXPECT_FALSE(job->PartFile.IsOpen());
  const char byte = 1;
  EXPECT_FALSE(job->PartFile.WriteAt(0, &byte, 1));
}

TEST(SkimblerLog, LinesCarryATimeStampAndTheirKind) {
  auto job = TJob::Create();
  auto s = TSkimbler::Create(job->Handle(), 4);
  TDateTime when = 0;
  ASSERT_TRUE(TryEncodeDate(2024, 3, 9, when));
  when += (13 * 3600 + 5 * 60 + 7) / 86400.0;
  const TLogLine& line = s->AddLog("正在接收数据...", TLogType::ltState, when);
  EXPECT_EQ(line.Text, "2024-03-09 13:05:07 正在接收数据...");
  EXPECT_EQ(line.Type, TLogType::ltState);
  s->AddLog("写文件错误", TLogType::ltError, when);
  ASSERT_EQ(s->Log.size(), 2u);
  EXPECT_EQ(s->Log[1].Text.substr(20), "写文件错误");
  EXPECT_EQ(s->Log[1].Type, TLogType::ltError);
  EXPECT_EQ(s->Number, 4);
  EXPECT_EQ(s->Job(), job->Handle());
  EXPECT_EQ(s->State, TSkimblerState::ssStopped);
  EXPECT_EQ(s->URLIndex, -1);
}

TEST(JobDefaults, ANewRecord) {
  auto job = TJob::Create();
  EXPECT_EQ(job->State, TJobState::jsStopped);
  EXPECT_EQ(job->SkimblerCount, 3);
  EXPECT_EQ(job->MaxErrors, 10);
  EXPECT_EQ(job->RetryDelay, 5);
  EXPECT_EQ(job->Priority, 3);
  EXPECT_EQ(job->FileDate, -1.0);
  EXPECT_EQ(job->BeginTime, -1.0);
  EXPECT_EQ(job->EndTime, -1.0);
  EXPECT_EQ(job->ResumeState, TResumeState::rsUnknown);
  EXPECT_FALSE(job->TreeNode);
  TURLInfo u;
  EXPECT_EQ(u.Speed, -1);
  EXPECT_EQ(ToInt(TJobState::jsFinished), 4);
  EXPECT_EQ(ToInt(TResumeState::rsNoResume), 2);
  EXPECT_EQ(ToInt(TSkimblerState::ssIdle), 6);
  EXPECT_EQ(ToInt(TSkimblerState::ssStopped), 5);
  EXPECT_EQ(ChunkCount(0), 0);
  EXPECT_EQ(ChunkCount(2048), 1);
  EXPECT_EQ(ChunkCount(2049), 2);
  EXPECT_EQ(ChunkCount(2147483647), 1048576);
}

}  // namespace
}  // namespace nsk
