// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "engine/joblist.h"
#include "tests/support/engine/recordingpost.h"
#include "tests/support/engine/recordingview.h"

namespace nsk {
namespace {

using enum TJobState;

std::shared_ptr<TJob> AddJob(TJobList& list, TJobState state, std::uint8_t priority = 3,
                             const std::string& url = "") {
  auto job = TJob::Create();
  job->State = state;
  job->Priority = priority;
  job->Name = "job" + std::to_string(list.Count());
  TURLInfo u;
  u.URL = url.empty() ? "http://127.0.0.1/" + job->Name : url;
  job->URLs.push_back(u);
  list.Add(job);
  return job;
}

std::shared_ptr<TSkimbler> AddSkimbler(TJob& job, TSkimblerState state) {
  auto s = TSkimbler::Create(job.Handle(), static_cast<std::int32_t>(job.Skimblers.size()) + 1);
  s->State = state;
  job.AddSkimbler(s);
  return s;
}

// The flags as a string of 15 digits, index 0 first.
std::string Flags(const TJobList& list) {
  std::string f;
  for (std::size_t i = 0; i < kActionCount; ++i) f += list.IsEnabled(static_cast<TAction>(i)) ? '1' : '0';
  return f;
}

void Select(TJobList& list, std::vector<JobHandle> jobs, std::vector<SkimblerHandle> skimblers) {
  test::TRecordingView view;
  view.SetSelection({std::move(jobs), std::move(skimblers)});
  list.RebuildSelection(view);
  list.ComputeFocus();
  list.UpdateActionFlags();
}

TEST(JobList, AFreshListHasNoRunningJobHint) {
  TJobList list;
  EXPECT_EQ(list.RunningHints(), std::vector<std::string>{"没有运行中的任务"});
  EXPECT_EQ(list.RunningHintsText(), "没有运行中的任务");
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(Flags(list), "000000000000000");
  EXPECT_FALSE(list.IgnoreClipboard);
  EXPECT_EQ(list.ViewFilter, 0);
}

TEST(JobList, RunningHintsNameEveryRunningJobInListOrder) {
  TJobList list;
  auto a = AddJob(list, jsRunning);
  AddJob(list, jsQueued);
  auto c = AddJob(list, jsRunning);
  a->Name = "a.zip";
  a->Percent = 42;
  c->Name = "下载.iso";
  c->Percent = 100;
  list.RebuildRunningHints();
  EXPECT_EQ(list.RunningHints(), (std::vector<std::string>{"a.zip-->[42%]", "下载.iso-->[100%]"}));
  EXPECT_EQ(list.RunningHintsText(), "a.zip-->[42%]\r\n下载.iso-->[100%]");
  a->State = c->State = jsStopped;
  list.RebuildRunningHints();
  EXPECT_EQ(list.RunningHintsText(), "没有运行中的任务");
}

TEST(JobList, AJobAndOneOfItsConnectionsTogetherDisableEverythingAndFocusNothing) {
  TJobList list;
  auto job = AddJob(list, jsRunning);
  job->ResumeState = TResumeState::rsResumable;
  job->FileSize = 1000;
  auto s = AddSkimbler(*job, TSkimblerState::ssStopped);
  AddSkimbler(*job, TSkimblerState::ssIdle);
  Select(list, {job->Handle()}, {});
  ASSERT_NE(Flags(list), "000000000000000");
  Select(list, {job->Handle()}, {s->Handle()});
  EXPECT_EQ(Flags(list), "000000000000000");
  EXPECT_TRUE(list.FocusedJob.IsNone());
  EXPECT_TRUE(list.FocusedSkimbler.IsNone());
  Select(list, {}, {});
  EXPECT_EQ(Flags(list), "000000000000000");
}

TEST(JobList, FlagsForOneSelectedJob) {
  struct Case {
    TJobState state;
    TResumeState resume;
    const char* flags;  // index 0 .. 14; 2 and 3 belong to the counts
  };
  using enum TResumeState;
  const Case cases[] = {
      //                       0123456789ABCDE
      {jsStopped, rsUnknown, "100011100000011"},
      {jsError, rsUnknown, "100011100000011"},
      {jsFinished, rsUnknown, "000011111000011"},
      {jsQueued, rsUnknown, "010000000000011"},
      {jsRunning, rsUnknown, "010000000000011"},
      {jsRunning, rsResumable, "010000000001011"},
      {jsStopped, rsResumable, "100011100000011"},
  };
  for (const auto& c : cases) {
    TJobList list;
    auto job = AddJob(list, c.state);
    job->ResumeState = c.resume;
    Select(list, {job->Handle()}, {});
    EXPECT_EQ(Flags(list), c.flags) << ToInt(c.state) << " " << ToInt(c.resume);
    EXPECT_EQ(list.FocusedJob, job->Handle());
    EXPECT_TRUE(list.FocusedSkimbler.IsNone());
  }
}

TEST(JobList, FlagsForOneSelectedConnection) {
  struct Case {
    const char* what;
    TJobState job;
    TResumeState resume;
    std::int32_t size;
    TSkimblerState state;
    int connections;
    const char* flags;
  };
  using enum TResumeState;
  using enum TSkimblerState;
  const Case cases[] = {
      //                                                                 0123456789ABCDE
      {"stopped, running job, two connections", jsRunning, rsResumable, 100, ssStopped, 2, "000000000101100"},
      {"stopped, the only connection", jsRunning, rsResumable, 100, ssStopped, 1, "000000000101000"},
      {"working", jsRunning, rsResumable, 100, ssReceiving, 2, "000000000011000"},
      {"size unknown", jsRunning, rsResumable, 0, ssIdle, 2, "000000000010000"},
      {"not resumable", jsRunning, rsNoResume, 100, ssIdle, 2, "000000000010000"},
      {"job stopped", jsStopped, rsResumable, 100, ssStopped, 2, "000000000000000"},
  };
  for (const auto& c : cases) {
    TJobList list;
    auto job = AddJob(list, c.job);
    job->ResumeState = c.resume;
    job->FileSize = c.size;
    auto s = AddSkimbler(*job, c.state);
    for (int i = 1; i < c.connections; ++i) AddSkimbler(*job, ssIdle);
    Select(list, {}, {s->Handle()});
    EXPECT_EQ(Flags(list), c.flags) << c.what;
    EXPECT_EQ(list.FocusedSkimbler, s->Handle()) << c.what;
    EXPECT_EQ(list.FocusedJob, job->Handle()) << c.what;
  }
}

TEST(JobList, FlagsForSeveralSelectedJobs) {
  struct Case {
    std::vector<TJobState> states;
    const char* flags;
  };
  const Case cases[] = {
      //                              0123456789ABCDE
      {{jsStopped, jsFinished}, "000000100000000"},
      {{jsStopped, jsError}, "100000100000000"},
      {{jsRunning, jsQueued}, "010000000000000"},
      {{jsRunning, jsStopped}, "000000000000000"},
  };
  for (const auto& c : cases) {
    TJobList list;
    std::vector<JobHandle> selected;
    for (auto s : c.states) selected.push_back(AddJob(list, s)->Handle());
    Select(list, selected, {});
    EXPECT_EQ(Flags(list), c.flags);
    EXPECT_TRUE(list.FocusedJob.IsNone());
  }
}

TEST(JobList, SeveralConnectionsSelectedEnableNothing) {
  TJobList list;
  auto job = AddJob(list, jsRunning);
  auto a = AddSkimbler(*job, TSkimblerState::ssStopped);
  auto b = AddSkimbler(*job, TSkimblerState::ssStopped);
  Select(list, {}, {a->Handle(), b->Handle()});
  EXPECT_EQ(Flags(list), "000000000000000");
}

TEST(JobList, AFreedSelectedRecordEnablesNothing) {
  TJobList list;
  auto stopped = AddJob(list, jsStopped);
  JobHandle gone;
  SkimblerHandle goneConnection;
  {
    auto j = TJob::Create();
    gone = j->Handle();
    goneConnection = AddSkimbler(*j, TSkimblerState::ssStopped)->Handle();
  }
  Select(list, {gone}, {});
  EXPECT_EQ(Flags(list), "000000000000000");
  Select(list, {stopped->Handle(), gone}, {});
  EXPECT_EQ(Flags(list), "000000000000000");
  Select(list, {}, {goneConnection});
  EXPECT_EQ(Flags(list), "000000000000000");
  EXPECT_TRUE(list.FocusedJob.IsNone());
  EXPECT_TRUE(list.FocusedSkimbler.IsNone());
}

TEST(JobList, RebuildSelectionTakesTheViewsNodesInOrder) {
  TJobList list;
  auto a = AddJob(list, jsStopped);
  auto b = AddJob(list, jsStopped);
  auto s = AddSkimbler(*a, TSkimblerState::ssIdle);
  test::TRecordingView view;
  view.SetSelection({{b->Handle(), a->Handle()}, {s->Handle()}});
  list.RebuildSelection(view);
  EXPECT_EQ(list.SelectedJobs, (std::vector<JobHandle>{b->Handle(), a->Handle()}));
  EXPECT_EQ(list.SelectedSkimblers, std::vector<SkimblerHandle>{s->Handle()});
  EXPECT_EQ(view.CountOf("SelectedNodes"), 1);
  view.SetSelection({});
  list.RebuildSelection(view);
  EXPECT_TRUE(list.SelectedJobs.empty());
  EXPECT_TRUE(list.SelectedSkimblers.empty());
}

TEST(JobList, HasURLIgnoresLetterCase) {
  TJobList list;
  auto listed = AddJob(list, jsFinished, 3, "http://Example.COM/File.zip");
  auto other = TJob::Create();
  TURLInfo u;
  u.URL = "HTTP://example.com/file.ZIP";
  other->URLs.push_back(u);
  EXPECT_TRUE(list.HasURL(other->Handle()));
  other->URLs[0].URL = "http://example.com/file.zip2";
  EXPECT_FALSE(list.HasURL(other->Handle()));
  EXPECT_FALSE(list.HasURL(listed->Handle())) << "a job is no duplicate of itself";
  EXPECT_TRUE(list.HasURL("http://EXAMPLE.com/file.zip"));
  EXPECT_FALSE(list.HasURL(""));
  EXPECT_FALSE(list.HasURL(TJob::Create()->Handle())) << "a job without URL";
  // Only the first URL of a listed job counts.
  TURLInfo mirror;
  mirror.URL = "http://mirror/file.zip";
  listed->URLs.push_back(mirror);
  EXPECT_FALSE(list.HasURL("http://mirror/file.zip"));
}

TEST(JobList, PostCountsSendsTotalRunningAndQueued) {
  struct Case {
    std::vector<TJobState> states;
    std::int64_t wParam, lParam;
    bool startAll, stopAll;
  };
  const Case cases[] = {
      {{jsRunning, jsQueued, jsStopped}, 3, 65537, true, true},
      {{}, 0, 0, false, false},
      {{jsRunning, jsRunning}, 2, 2 << 16, false, true},
      {{jsFinished, jsError, jsQueued}, 3, 1, true, true},
      {{jsFinished}, 1, 0, true, false},
  };
  for (const auto& c : cases) {
    TJobList list;
    for (auto s : c.states) AddJob(list, s);
    test::TRecordingPost post;
    list.PostCounts(post);
    const auto messages = post.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(MessageCode(messages[0]), 3031u);
    EXPECT_EQ(WParamOf(messages[0]), c.wParam);
    EXPECT_EQ(LParamOf(messages[0]), c.lParam);
    EXPECT_EQ(list.IsEnabled(TAction::StartAll), c.startAll);
    EXPECT_EQ(list.IsEnabled(TAction::StopAll), c.stopAll);
    const TActiveCounts n = list.CountActive();
    EXPECT_EQ((static_cast<std::int64_t>(n.Running) << 16) | n.Queued, c.lParam);
  }
}

TEST(JobList, UpdateActionFlagsLeavesTheCountFlagsAlone) {
  TJobList list;
  AddJob(list, jsQueued);
  test::TRecordingPost post;
  list.PostCounts(post);
  Select(list, {}, {});
  EXPECT_EQ(Flags(list), "000100000000000");
}

TEST(JobList, PickNextJobChoosesByPriorityThenListOrder) {
  struct J {
    TJobState state;
    std::uint8_t priority;
  };
  struct Case {
    const char* what;
    std::vector<J> jobs;
    std::int32_t maxJobs;
    int chosen;  // index, -1 = none
    bool more;
  };
  const Case cases[] = {
      {"highest priority", {{jsQueued, 2}, {jsQueued, 4}, {jsQueued, 3}}, 5, 1, true},
      {"earliest of equals", {{jsQueued, 5}, {jsStopped, 5}, {jsQueued, 5}}, 2, 0, true},
      {"priority 0 never starts", {{jsQueued, 0}}, 3, -1, false},
      {"priority 0 is no candidate", {{jsQueued, 0}, {jsQueued, 1}}, 3, 1, false},
      {"no free slot", {{jsRunning, 3}, {jsRunning, 3}, {jsQueued, 5}}, 2, -1, false},
      {"one free slot: no more", {{jsRunning, 3}, {jsQueued, 5}, {jsQueued, 4}}, 2, 1, false},
      {"one candidate: no more", {{jsQueued, 1}}, 3, 0, false},
      {"only queued jobs are candidates", {{jsStopped, 5}, {jsError, 5}, {jsFinished, 5}}, 3, -1, false},
      {"MaxJobs 0", {{jsQueued, 5}}, 0, -1, false},
      {"more running than MaxJobs", {{jsRunning, 1}, {jsRunning, 1}, {jsQueued, 5}}, 1, -1, false},
  };
  for (const auto& c : cases) {
    TJobList list;
    std::vector<std::shared_ptr<TJob>> jobs;
    for (const auto& j : c.jobs) jobs.push_back(AddJob(list, j.state, j.priority));
    const TNextJob next = list.PickNextJob(c.maxJobs);
    if (c.chosen < 0) {
      EXPECT_TRUE(next.Job.IsNone()) << c.what;
    } else {
      EXPECT_EQ(next.Job, jobs[static_cast<std::size_t>(c.chosen)]->Handle()) << c.what;
    }
    EXPECT_EQ(next.More, c.more) << c.what;
  }
}

TEST(JobList, TheQueueFillsItsSlotsOneJobAtATime) {
  TJobList list;
  AddJob(list, jsRunning, 3);
  auto p3 = AddJob(list, jsQueued, 3);
  auto p5a = AddJob(list, jsQueued, 5);
  auto p5b = AddJob(list, jsQueued, 5);
  TNextJob next = list.PickNextJob(3);
  EXPECT_EQ(next.Job, p5a->Handle());
  EXPECT_TRUE(next.More);
  p5a->State = jsRunning;
  next = list.PickNextJob(3);
  EXPECT_EQ(next.Job, p5b->Handle());
  EXPECT_FALSE(next.More);
  p5b->State = jsRunning;
  next = list.PickNextJob(3);
  EXPECT_TRUE(next.Job.IsNone());
  p5a->State = jsFinished;
  EXPECT_EQ(list.PickNextJob(3).Job, p3->Handle());
}

TEST(JobList, MembershipAndFilter) {
  TJobList list;
  auto a = AddJob(list, jsStopped);
  auto b = AddJob(list, jsRunning);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Find(b->Handle()), b);
  EXPECT_EQ(list.Find(TJob::Create()->Handle()), nullptr);
  EXPECT_EQ(list.Remove(a->Handle()), a);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Jobs().front(), b);
  list.Add(nullptr);
  EXPECT_EQ(list.Count(), 1);
  struct Case {
    std::uint8_t filter;
    bool passes;
  };
  for (const Case c : {Case{0, true}, Case{1, true}, Case{2, false}, Case{3, false}}) {
    list.ViewFilter = c.filter;
    EXPECT_EQ(list.PassesFilter(*b), c.passes) << int(c.filter);
  }
}

TEST(JobList, TheByteCounterTicks) {
  TJobList list;
  list.Counter.Add(1000);
  list.Counter.Add(24);
  TByteCounter::TTick t = list.Counter.TakeTick();
  EXPECT_EQ(t.Delta, 1024);
  EXPECT_EQ(t.Total, 1024);
  list.Counter.Add(3LL << 30);  // beyond 2 GiB in all
  t = list.Counter.TakeTick();
  EXPECT_EQ(t.Delta, 3LL << 30);
  EXPECT_EQ(t.Total, 1024 + (3LL << 30));
  EXPECT_EQ(list.Counter.TakeTick().Delta, 0);
}

}  // namespace
}  // namespace nsk
