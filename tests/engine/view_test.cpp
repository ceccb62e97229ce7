// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "engine/viewcalls.h"
#include "engine/viewdata.h"
#include "engine/windowpost.h"
#include "tests/support/engine/recordingview.h"

namespace nsk {
namespace {

class TFakeWorker final : public TSkimblerThreadLink {
 public:
  void RequestStop() override {}
};

TDateTime At(int y, int mo, int d, int h, int mi, int s) {
  return EncodeDateTime({y, mo, d, h, mi, s, 0});
}

TEST(JobInfo, TheEighteenValues) {
  auto job = TJob::Create();
  for (const char* url : {"http://127.0.0.1/a.zip", "ftp://127.0.0.1/a.zip"}) {
    TURLInfo u;
    u.URL = url;
    job->URLs.push_back(u);
  }
  job->FileName = "/home/u/Downloads/a.zip";
  job->FileSize = 10000;
  job->FileDate = At(2023, 1, 2, 3, 4, 5);
  job->Priority = 4;
  job->DoneBytes = 2500;
  job->Percent = 25;
  job->CurrentSpeed = 1200;
  job->AverageSpeed = 800;
  job->Elapsed = (3600 + 2 * 60 + 3) / 86400.0;
  job->Remaining = 59 / 86400.0;
  job->SkimblerCount = 5;
  job->Errors = 2;
  job->StartCount = 7;
  job->Comment = "注释";
  job->BeginTime = At(2024, 12, 31, 23, 59, 58);
  const TJobInfoValues info = JobInfoOf(*job);
  EXPECT_EQ(info.Job, job->Handle());
  const std::array<std::string, kInfoValueCount> expected = {
      "http://127.0.0.1/a.zip\r\nftp://127.0.0.1/a.zip",
      "/home/u/Downloads/a.zip",
      "10000",
      "2023-01-02 03:04:05",
      "4",
      "25%",
      "2500",
      "7500",
      "1200",
      "800",
      "01:02:03",
      "00:00:59",
      "5",
      "2",
      "7",
      "注释",
      "2024-12-31 23:59:58",
      "未知",
  };
  EXPECT_EQ(info.Values, expected);
  EXPECT_STREQ(kInfoLabels[10], "Time Elasped");
  EXPECT_STREQ(kInfoLabels[17], "Last Stop Time");
}

TEST(JobInfo, AnUnknownSize) {
  auto job = TJob::Create();
  job->DoneBytes = 300;
  const auto v = JobInfoOf(*job).Values;
  EXPECT_EQ(v[0], "");
  EXPECT_EQ(v[2], "未知");
  EXPECT_EQ(v[3], "未知");
  EXPECT_EQ(v[5], "未知");
  EXPECT_EQ(v[7], "-300");
  EXPECT_EQ(v[10], "00:00:00");
  EXPECT_EQ(v[16], "未知");
}

TEST(NodeViews, JobAndConnectionNodes) {
  auto job = TJob::Create();
  job->Name = "a.zip";
  job->Priority = 0;
  job->State = TJobState::jsFinished;
  job->ResumeState = TResumeState::rsNoResume;
  TURLInfo u;
  u.URL = "http://127.0.0.1/a.zip";
  job->URLs.push_back(u);
  const TJobNodeView n = JobNodeOf(*job);
  EXPECT_EQ(n.Job, job->Handle());
  EXPECT_EQ(n.Name, "a.zip");
  EXPECT_EQ(n.Priority, "0");
  EXPECT_EQ(n.StateImage, 5);
  EXPECT_EQ(n.ResumeImage, 8);

  auto s = TSkimbler::Create(job->Handle(), 12);
  s->State = TSkimblerState::ssResolving;
  TSkimblerNodeView c = SkimblerNodeOf(*job, *s);
  EXPECT_EQ(c.Text, "#12");
  EXPECT_EQ(c.WorkingURL, "");
  EXPECT_EQ(c.StateImage, 11);
  EXPECT_EQ(c.Job, job->Handle());
  s->URLIndex = 0;
  s->State = TSkimblerState::ssIdle;
  c = SkimblerNodeOf(*job, *s);
  EXPECT_EQ(c.WorkingURL, "http://127.0.0.1/a.zip");
  EXPECT_EQ(c.StateImage, 17);
  s->URLIndex = 5;  // no such URL
  EXPECT_EQ(SkimblerNodeOf(*job, *s).WorkingURL, "");
}

TEST(NodeViews, RecordsWithoutANodeChangeNothing) {
  test::TRecordingView view;
  auto job = TJob::Create();
  auto s = TSkimbler::Create(job->Handle(), 1);
  job->AddSkimbler(s);
  RemoveJobNode(view, *job);
  UpdateJobNode(view, *job);
  RefreshJobNode(view, *job);
  UpdateSkimblerNode(view, *job, *s);
  RemoveSkimblerNode(view, *s);
  AddSkimblerNode(view, *job, *s);  // its job is not shown
  RemoveSkimblerNodes(view, *job);
  EXPECT_TRUE(view.Calls().empty());
  EXPECT_FALSE(s->TreeNode);
}

TEST(NodeViews, ShowingAndHidingAJobKeepsTheNodeFlags) {
  test::TRecordingView view;
  auto job = TJob::Create();
  job->Name = "j";
  auto a = TSkimbler::Create(job->Handle(), 1);
  auto b = TSkimbler::Create(job->Handle(), 2);
  job->AddSkimbler(a);
  job->AddSkimbler(b);
  AddJobNode(view, *job);
  EXPECT_TRUE(job->TreeNode);
  EXPECT_TRUE(a->TreeNode);
  EXPECT_TRUE(b->TreeNode);
  EXPECT_EQ(view.Calls(), (std::vector<std::string>{"AddJobNode", "AddSkimblerNode", "AddSkimblerNode"}));
  EXPECT_EQ(view.SkimblerNodes().size(), 2u);

  job->Priority = 1;
  job->State = TJobState::jsRunning;
  UpdateJobNode(view, *job);
  RefreshJobNode(view, *job);
  EXPECT_EQ(view.JobNodes().at(job->Handle().Id()).StateImage, 1);
  EXPECT_EQ(view.JobNodes().at(job->Handle().Id()).Priority, "1");

  RemoveSkimblerNode(view, *a);
  EXPECT_FALSE(a->TreeNode);
  EXPECT_EQ(view.SkimblerNodes().size(), 1u);
  RemoveSkimblerNodes(view, *job);
  EXPECT_FALSE(b->TreeNode);
  EXPECT_TRUE(view.SkimblerNodes().empty());
  AddSkimblerNode(view, *job, *a);
  RemoveJobNode(view, *job);
  EXPECT_FALSE(job->TreeNode);
  EXPECT_FALSE(a->TreeNode);
  EXPECT_TRUE(view.JobNodes().empty());
  EXPECT_TRUE(view.SkimblerNodes().empty());

  AddJobNode(view, *job);
  ForgetTreeNodes(*job);
  EXPECT_FALSE(job->TreeNode);
  EXPECT_FALSE(a->TreeNode);
}

TEST(BlockCells, OnlyWorkingConnectionsWithABusyBlockAreMarked) {
  auto job = TJob::Create();
  job->FileSize = 100 * 2048;
  const auto make = [&](TSkimblerState state, bool worker, std::int32_t start, bool busy) {
    auto s = TSkimbler::Create(job->Handle(), static_cast<std::int32_t>(job->Skimblers.size()) + 1);
    s->State = state;
    if (worker) s->Thread = std::make_shared<TFakeWorker>();
    if (start >= 0) {
      s->Block = std::make_shared<TBlockInfo>(TBlockInfo{start, start + 4096, busy});
      job->Blocks.push_back(s->Block);
    }
    job->AddSkimbler(s);
    return s;
  };
  auto focused = make(TSkimblerState::ssReceiving, true, 5000, true);
  make(TSkimblerState::ssIdle, true, 20480, true);
  make(TSkimblerState::ssStopped, true, 40960, true);    // stopped
  make(TSkimblerState::ssReceiving, false, 61440, true); // no worker
  make(TSkimblerState::ssReceiving, true, 81920, false); // block not busy
  make(TSkimblerState::ssReceiving, true, -1, false);    // no block
  EXPECT_EQ(SkimblerCellsOf(*job, focused->Handle()),
            (std::vector<TBlockCell>{{2, TCellValue::FocusedConnection},
                                     {10, TCellValue::OtherConnection}}));
  EXPECT_EQ(SkimblerCellsOf(*job, {}),
            (std::vector<TBlockCell>{{2, TCellValue::OtherConnection},
                                     {10, TCellValue::OtherConnection}}));
}

TEST(WindowMessages, NumbersAndParameters) {
  auto job = TJob::Create();
  struct Case {
    TWindowMessage message;
    std::uint32_t code;
    std::int64_t wParam, lParam;
    std::optional<std::string> notice;
  };
  const auto id = static_cast<std::int64_t>(job->Handle().Id());
  const Case cases[] = {
      {TDuplicateJobMessage{job->Handle(), "http://h/a"}, 3026, id, 0, "URL:\"http://h/a\" 存在!"},
      {TConfirmDeleteMessage{job->Handle(), "http://h/a"}, 3027, id, 0, std::nullopt},
      {TFileErrorMessage{TFileProblem::Invalid, "/t/a.zip"}, 3028, 0, 1, "文件:\"/t/a.zip\" 无效!"},
      {TFileErrorMessage{TFileProblem::Missing, "/t/a.zip"}, 3028, 0, 2, "文件:\"/t/a.zip\" 不存在!"},
      {TFileErrorMessage{TFileProblem::ImportFailed, ""}, 3028, 0, 3, "这个任务无效,导入失败!"},
      {TShutDownMessage{}, 3030, 0, 0, std::nullopt},
      {TJobCountsMessage{3, 1, 1}, 3031, 3, 65537, std::nullopt},
      {TJobCountsMessage{40, 20, 7}, 3031, 40, (20 << 16) | 7, std::nullopt},
      {TListFileAnswerMessage{true, 25}, 3032, 1, 25, "有任务在运行,先停止他们."},
      {TListFileAnswerMessage{false, 27}, 3032, 0, 27, std::nullopt},
      {TAllDoneMessage{}, 3033, 0, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MessageCode(c.message), c.code);
    EXPECT_EQ(WParamOf(c.message), c.wParam) << c.code;
    EXPECT_EQ(LParamOf(c.message), c.lParam) << c.code;
    EXPECT_EQ(NoticeText(c.message), c.notice) << c.code;
  }
  EXPECT_EQ(JobCountsText({0, 0, 0}), "共0个任务(0个运行中;0个队列中)");
  EXPECT_EQ(JobCountsText({3, 1, 2}), "共3个任务(1个运行中;2个队列中)");
}

}  // namespace
}  // namespace nsk
