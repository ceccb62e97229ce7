// SPDX-License-Identifier: GPL-2.0-or-later
// The scheduler's queue and commands. Jobs that must stay running fetch from a server that
// never answers; with MaxJobs 0 queued jobs stay queued, so the queue's choices show without
// any download.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/monitorcommands.h"
#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "tests/engine/enginefixture.h"
#include "tests/support/net/scriptedserver.h"

namespace nsk::test {
namespace {

using namespace std::chrono_literals;
using enum TJobState;

class QueueTest : public TEngineTest {
 protected:
  // A server whose connections are held open without an answer.
  static TScript Stalling() { return TPeerScript().Stall(); }

  std::string StallURL(const TScriptedServer& server, const std::string& name) {
    return "http://127.0.0.1:" + std::to_string(server.Port()) + "/" + name;
  }
  // A job that runs until stopped: its only URL never answers and has no time limit.
  std::shared_ptr<TJob> StalledJob(const TScriptedServer& server, const std::string& name,
                                   TJobState state, std::uint8_t priority) {
    auto job = MakeJob({StallURL(server, name)}, name, state, priority);
    job->URLs[0].DataTimeout = 0;
    job->URLs[0].ConnectTimeout = 0;
    return job;
  }
  void SetMaxJobs(int n) {
    settings.Update([n](TRegistryInfo& s) { s.MaxJobs = static_cast<std::uint8_t>(n); });
  }
  void Select(const std::vector<std::shared_ptr<TJob>>& jobs) {
    TTreeSelection sel;
    for (const auto& j : jobs) sel.Jobs.push_back(j->Handle());
    view.SetSelection(sel);
    PostSelectionChanged(Monitor(), sel);
  }
  // The jobs in the order they were shown running.
  std::vector<std::uint64_t> StartOrder() const {
    std::vector<std::uint64_t> order;
    for (const auto& n : view.JobNodeHistory())
      if (n.StateImage == ToInt(jsRunning) + 1 &&
          std::find(order.begin(), order.end(), n.Job.Id()) == order.end())
        order.push_back(n.Job.Id());
    return order;
  }
};

TEST_F(QueueTest, HighestPriorityFirstOnePerCommandUntilTheSlotsAreFull) {
  TScriptedServer server(Stalling());
  SetMaxJobs(3);
  StartEngine();
  auto a = StalledJob(server, "a.bin", jsQueued, 3);
  PostAddJob(Monitor(), a);
  ASSERT_TRUE(WaitForState(a, jsRunning));

  auto b = StalledJob(server, "b.bin", jsQueued, 3);
  auto c = StalledJob(server, "c.bin", jsQueued, 5);
  auto d = StalledJob(server, "d.bin", jsQueued, 5);
  PostAddJobs(Monitor(), {b, c, d});
  ASSERT_TRUE(WaitForState(d, jsRunning));
  Settle();
  EXPECT_EQ(StateOf(c), jsRunning);
  EXPECT_EQ(StateOf(b), jsQueued) << "the priority-3 job waits for a free slot";
  EXPECT_EQ(StartOrder(), (std::vector<std::uint64_t>{a->Handle().Id(), c->Handle().Id(),
                                                       d->Handle().Id()}));

  // A slot comes free when a job ends.
  Select({c});
  PostStopSelected(Monitor());
  ASSERT_TRUE(WaitForState(b, jsRunning));
  EXPECT_EQ(StateOf(c), jsStopped);
  EXPECT_EQ(list.CountActive().Running, 3);
}

TEST_F(QueueTest, PriorityZeroIsNeverStartedNorQueued) {
  SetMaxJobs(3);
  StartEngine();
  auto sleeping = MakeJob({"http://127.0.0.1:9/p0.bin"}, "p0.bin", jsQueued, 0);
  auto stopped = MakeJob({"http://127.0.0.1:9/s0.bin"}, "s0.bin", jsStopped, 0);
  PostAddJobs(Monitor(), {sleeping, stopped});
  PostStartAll(Monitor());
  Select({stopped});
  PostStartSelected(Monitor());
  Settle();
  EXPECT_EQ(StateOf(sleeping), jsQueued);
  EXPECT_EQ(StateOf(stopped), jsStopped);
  EXPECT_EQ(list.CountActive().Running, 0);
}

TEST_F(QueueTest, StartAndStopSelectedAndAll) {
  SetMaxJobs(0);  // queued jobs stay queued
  StartEngine();
  auto x = MakeJob({"http://127.0.0.1:9/x"}, "x", jsStopped);
  auto y = MakeJob({"http://127.0.0.1:9/y"}, "y", jsError);
  auto z = MakeJob({"http://127.0.0.1:9/z"}, "z", jsFinished);
  auto w = MakeJob({"http://127.0.0.1:9/w"}, "w", jsStopped);
  PostAddJobs(Monitor(), {x, y, z, w});

  Select({x, y, z});
  PostStartSelected(Monitor());
  Settle();
  EXPECT_EQ(StateOf(x), jsQueued);
  EXPECT_EQ(StateOf(y), jsQueued);
  EXPECT_EQ(StateOf(z), jsFinished);
  EXPECT_EQ(StateOf(w), jsStopped);

  PostStartAll(Monitor());
  Settle();
  EXPECT_EQ(StateOf(w), jsQueued);
  EXPECT_EQ(StateOf(z), jsFinished);

  Select({x});
  PostStopSelected(Monitor());
  Settle();
  EXPECT_EQ(StateOf(x), jsStopped);
  EXPECT_EQ(StateOf(y), jsQueued);
  EXPECT_EQ(post.CountOf<TAllDoneMessage>(), 0) << "jobs still wait";

  PostStopAll(Monitor(), false);
  // The check that follows a stop is a command of its own, queued behind it.
  ASSERT_TRUE(post.WaitUntil([&] { return post.CountOf<TAllDoneMessage>() > 0; }));
  Settle();
  for (const auto& j : {x, y, w}) EXPECT_EQ(StateOf(j), jsStopped);
  EXPECT_EQ(StateOf(z), jsFinished);
  EXPECT_EQ(post.CountOf<TAllDoneMessage>(), 1);
  const auto counts = post.All<TJobCountsMessage>();
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(counts.back().Total, 4);
  EXPECT_EQ(counts.back().Queued, 0);
}

TEST_F(QueueTest, RestartForgetsSizeProgressAndMirrorStatistics) {
  SetMaxJobs(0);
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:9/r.bin"}, "r.bin", jsFinished);
  job->FileSize = 5000;
  job->DoneBytes = 5000;
  job->Percent = 100;
  job->FileDate = 40000.5;
  job->Errors = 3;
  job->ResumeState = TResumeState::rsResumable;
  job->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{4000, 5000, false}));
  job->BlockMap.assign(3, 1);
  job->URLs[0].Speed = 100;
  job->URLs[0].Uses = 2;
  job->URLs[0].Failed = true;
  PostAddJob(Monitor(), job);
  Select({job});
  PostRestartJob(Monitor());
  Settle();
  auto g = job->Guard();
  EXPECT_EQ(job->State, jsQueued);
  EXPECT_EQ(job->FileSize, 0);
  EXPECT_EQ(job->FileDate, kNoDate);
  EXPECT_EQ(job->DoneBytes, 0);
  EXPECT_EQ(job->Percent, 0);
  EXPECT_EQ(job->Errors, 0);
  EXPECT_EQ(job->ResumeState, TResumeState::rsUnknown);
  EXPECT_TRUE(job->Blocks.empty());
  EXPECT_TRUE(job->BlockMap.empty());
  EXPECT_EQ(job->URLs[0].Speed, -1);
  EXPECT_EQ(job->URLs[0].Uses, 0);
  EXPECT_FALSE(job->URLs[0].Failed);
}

TEST_F(QueueTest, RestartOfARunningOrQueuedJobDoesNothing) {
  SetMaxJobs(0);
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:9/q.bin"}, "q.bin", jsQueued);
  job->FileSize = 777;
  PostAddJob(Monitor(), job);
  Select({job});
  PostRestartJob(Monitor());
  Settle();
  auto g = job->Guard();
  EXPECT_EQ(job->FileSize, 777);
}

TEST_F(QueueTest, DeleteFinishedAtOnceOthersAfterConfirmationTargetNeverTouched) {
  SetMaxJobs(0);
  StartEngine();
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "keep files" : "delete files");
    const std::string tag = keep ? "k" : "d";
    auto finished = MakeJob({"http://127.0.0.1:9/f" + tag}, "f" + tag, jsFinished);
    auto stopped = MakeJob({"http://127.0.0.1:9/s" + tag}, "s" + tag, jsStopped);
    auto failed = MakeJob({"http://127.0.0.1:9/e" + tag}, "e" + tag, jsError);
    auto queued = MakeJob({"http://127.0.0.1:9/q" + tag}, "q" + tag, jsQueued);
    for (const auto& j : {finished, stopped, failed}) {
      auto g = j->Guard();
      WriteFileAtomically(j->FileName, "target");
      WriteFileAtomically(j->PartFileName(), "partial");
      WriteFileAtomically(j->InfoFileName(), "info");
    }
    PostAddJobs(Monitor(), {finished, stopped, failed, queued});
    Select({finished, stopped, failed, queued});
    PostDeleteSelected(Monitor());
    Settle();
    EXPECT_FALSE(list.Find(finished->Handle())) << "a finished job goes without asking";
    EXPECT_TRUE(PathExists(finished->PartFileName())) << "and no file of it is touched";
    const auto asked = post.All<TConfirmDeleteMessage>();
    ASSERT_EQ(asked.size(), 2u) << "the queued job is left alone";
    EXPECT_EQ(asked[0].Job, stopped->Handle());
    EXPECT_EQ(asked[1].Job, failed->Handle());
    EXPECT_EQ(asked[0].URL, stopped->FirstURL());

    PostDeleteJobs(Monitor(), {stopped->Handle(), failed->Handle()}, keep);
    Settle();
    EXPECT_EQ(list.Count(), 1);
    for (const auto& j : {stopped, failed}) {
      EXPECT_FALSE(list.Find(j->Handle()));
      EXPECT_TRUE(PathExists(j->FileName)) << "the target file is never deleted";
      EXPECT_EQ(PathExists(j->PartFileName()), keep);
      EXPECT_EQ(PathExists(j->InfoFileName()), keep);
    }
    post.Clear();
    PostStopAll(Monitor(), false);
    Settle();
    PostNewList(Monitor());
    Settle();
  }
}

TEST_F(QueueTest, ARunningJobIsNotDeletedEvenWhenConfirmed) {
  TScriptedServer server(Stalling());
  StartEngine();
  auto job = StalledJob(server, "run.bin", jsQueued, 3);
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(WaitForState(job, jsRunning));
  PostDeleteJob(Monitor(), job->Handle(), false);
  Settle();
  EXPECT_TRUE(list.Find(job->Handle()));
  EXPECT_EQ(StateOf(job), jsRunning);
}

TEST_F(QueueTest, DuplicateFirstURLsAreRefusedWhateverTheOtherJobsState) {
  SetMaxJobs(0);
  StartEngine();
  auto first = MakeJob({"http://127.0.0.1:9/Same.bin"}, "same.bin", jsFinished);
  PostAddJob(Monitor(), first);
  auto again = MakeJob({"HTTP://127.0.0.1:9/Same.bin"}, "same2.bin", jsQueued);
  PostAddJob(Monitor(), again);
  auto batch1 = MakeJob({"http://127.0.0.1:9/same.BIN"}, "b1", jsStopped);
  auto batch2 = MakeJob({"http://127.0.0.1:9/other.bin"}, "b2", jsStopped);
  auto batch3 = MakeJob({"http://127.0.0.1:9/Same.bin", "http://m/x"}, "b3", jsStopped);
  PostAddJobs(Monitor(), {batch1, batch2, batch3});
  Settle();
  const auto refused = post.All<TDuplicateJobMessage>();
  ASSERT_EQ(refused.size(), 3u);
  EXPECT_EQ(refused[0].Job, again->Handle());
  EXPECT_EQ(refused[0].URL, "HTTP://127.0.0.1:9/Same.bin");
  EXPECT_EQ(refused[1].Job, batch1->Handle());
  EXPECT_EQ(refused[2].Job, batch3->Handle());
  EXPECT_EQ(list.Count(), 2);
  EXPECT_TRUE(list.Find(batch2->Handle()));
}

TEST_F(QueueTest, ListCommandsAreRefusedWhileJobsRunOrWait) {
  SetMaxJobs(0);
  StartEngine();
  auto queued = MakeJob({"http://127.0.0.1:9/l.bin"}, "l.bin", jsQueued);
  PostAddJob(Monitor(), queued);
  for (auto post_ : {PostNewList, PostOpenList, PostSaveListAs}) post_(Monitor());
  Settle();
  auto answers = post.All<TListFileAnswerMessage>();
  ASSERT_EQ(answers.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(answers[static_cast<std::size_t>(i)].Refused);
    EXPECT_EQ(answers[static_cast<std::size_t>(i)].Command, 25 + i);
  }
  EXPECT_EQ(list.Count(), 1);

  PostStopAll(Monitor(), false);
  post.Clear();
  PostSaveListAs(Monitor());
  Settle();
  EXPECT_EQ(list.Count(), 1) << "save-as keeps the jobs";
  PostNewList(Monitor());
  Settle();
  answers = post.All<TListFileAnswerMessage>();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_FALSE(answers[0].Refused);
  EXPECT_EQ(answers[0].Command, 27);
  EXPECT_FALSE(answers[1].Refused);
  EXPECT_EQ(answers[1].Command, 25);
  EXPECT_EQ(list.Count(), 0) << "a new list starts empty";
  EXPECT_EQ(post.All<TJobCountsMessage>().back().Total, 0);
}

TEST_F(QueueTest, AllDoneIsPostedOnceAfterTheLastJobEnded) {
  TScriptedServer server(Stalling());
  StartEngine();
  auto a = StalledJob(server, "a.bin", jsQueued, 3);
  auto b = StalledJob(server, "b.bin", jsQueued, 3);
  PostAddJobs(Monitor(), {a, b});
  ASSERT_TRUE(WaitForState(a, jsRunning));
  ASSERT_TRUE(WaitForState(b, jsRunning));
  ASSERT_TRUE(server.WaitForConnections(2));
  PostStopAll(Monitor(), false);
  ASSERT_TRUE(WaitForState(a, jsStopped));
  ASSERT_TRUE(WaitForState(b, jsStopped));
  ASSERT_TRUE(post.WaitUntil([&] { return post.CountOf<TAllDoneMessage>() > 0; }));
  Settle();
  EXPECT_EQ(post.CountOf<TAllDoneMessage>(), 1);
  EXPECT_EQ(post.CountOf<TCloseProgramMessage>(), 0);
}

TEST_F(QueueTest, StopAllWithExitClosesTheProgramInsteadOfReporting) {
  TScriptedServer server(Stalling());
  StartEngine();
  auto a = StalledJob(server, "a.bin", jsQueued, 3);
  PostAddJob(Monitor(), a);
  ASSERT_TRUE(WaitForState(a, jsRunning));
  PostStopAll(Monitor(), true);
  ASSERT_TRUE(post.WaitUntil([&] { return post.CountOf<TCloseProgramMessage>() > 0; }));
  EXPECT_EQ(StateOf(a), jsStopped);
  EXPECT_EQ(post.CountOf<TAllDoneMessage>(), 0);
}

// The schedule: the check runs every fifth tick; a tick is 20 ms here.
class ScheduleTest : public QueueTest {
 protected:
  static constexpr double kSecond = 1.0 / 86400;
  TDateTime Today() const { return std::floor(nsk::Now()); }
  // Waits until at least two schedule checks ran with the clock as it is now.
  void TwoChecks() {
    const int before = view.CountOf("ShowTransferRate");
    ASSERT_TRUE(view.WaitUntil([&] { return view.CountOf("ShowTransferRate") >= before + 11; }));
    Settle();
  }
};

TEST_F(ScheduleTest, StartFiresOnceWithinTwentySecondsAndAgainTheNextDay) {
  const double at = 10.0 / 24;
  settings.Update([&](TRegistryInfo& s) {
    s.StartSchedule = true;
    s.StartTime = at;
    s.MaxJobs = 0;
  });
  clock.Set(Today() + at - 60 * kSecond);
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:9/s.bin"}, "s.bin", jsStopped);
  PostAddJob(Monitor(), job);
  TwoChecks();
  EXPECT_EQ(StateOf(job), jsStopped) << "before the time nothing starts";

  clock.Set(Today() + at + 5 * kSecond);
  ASSERT_TRUE(WaitForState(job, jsQueued));
  PostStopAll(Monitor(), false);
  Settle();
  clock.Set(Today() + at + 12 * kSecond);
  TwoChecks();
  EXPECT_EQ(StateOf(job), jsStopped) << "fired once in the window";

  clock.Set(Today() + at + 25 * kSecond);  // the window has passed: the latch opens
  TwoChecks();
  EXPECT_EQ(StateOf(job), jsStopped);
  clock.Set(Today() + 1 + at + 3 * kSecond);
  ASSERT_TRUE(WaitForState(job, jsQueued)) << "the next day it fires again";
}

TEST_F(ScheduleTest, AStartTimeMoreThanTwentySecondsAgoIsNotFired) {
  const double at = 9.5 / 24;
  settings.Update([&](TRegistryInfo& s) {
    s.StartSchedule = true;
    s.StartTime = at + 3;  // only the time of day counts
    s.MaxJobs = 0;
  });
  clock.Set(Today() + at + 21 * kSecond);
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:9/n.bin"}, "n.bin", jsStopped);
  PostAddJob(Monitor(), job);
  TwoChecks();
  TwoChecks();
  EXPECT_EQ(StateOf(job), jsStopped);
}

TEST_F(ScheduleTest, StopFiresOnlyWhileJobsRunOrWait) {
  const double at = 23.0 / 24;
  settings.Update([&](TRegistryInfo& s) {
    s.StopSchedule = true;
    s.StopTime = at;
    s.MaxJobs = 0;
  });
  clock.Set(Today() + at + 2 * kSecond);
  StartEngine();
  TwoChecks();
  EXPECT_EQ(post.CountOf<TAllDoneMessage>(), 0) << "with nothing active no stop is posted";

  // Later in the same window the latch holds even with jobs waiting.
  auto job = MakeJob({"http://127.0.0.1:9/t.bin"}, "t.bin", jsQueued);
  PostAddJob(Monitor(), job);
  clock.Set(Today() + at + 8 * kSecond);
  TwoChecks();
  EXPECT_EQ(StateOf(job), jsQueued);

  clock.Set(Today() + at + 30 * kSecond);  // the window has passed: the latch opens
  TwoChecks();
  EXPECT_EQ(StateOf(job), jsQueued);
  clock.Set(Today() + 1 + at + 1 * kSecond);
  ASSERT_TRUE(WaitForState(job, jsStopped));
  ASSERT_TRUE(post.WaitUntil([&] { return post.CountOf<TAllDoneMessage>() == 1; }));
}

TEST_F(QueueTest, StartRunningStartsEveryJobAtTheFirstPass) {
  settings.Update([](TRegistryInfo& s) {
    s.StartRunning = true;
    s.MaxJobs = 0;
  });
  auto job = MakeJob({"http://127.0.0.1:9/sr.bin"}, "sr.bin", jsStopped);
  list.Add(job);  // as loading the list file does, before the scheduler starts
  StartEngine();
  ASSERT_TRUE(WaitForState(job, jsQueued));
  // The first pass also shows the loaded list and its counts.
  ASSERT_TRUE(view.WaitUntil([&] { return view.JobNodes().count(job->Handle().Id()) == 1; }));
  ASSERT_TRUE(post.WaitUntil([&] { return post.CountOf<TJobCountsMessage>() > 0; }));
}

TEST_F(QueueTest, TheFilterShowsOnlyJobsOfItsState) {
  SetMaxJobs(0);
  StartEngine();
  auto a = MakeJob({"http://127.0.0.1:9/fa"}, "fa", jsStopped);
  auto b = MakeJob({"http://127.0.0.1:9/fb"}, "fb", jsFinished);
  PostAddJobs(Monitor(), {a, b});
  SetFilter(ToInt(jsStopped) + 1);
  auto nodes = view.JobNodes();
  EXPECT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes.count(a->Handle().Id()), 1u);
  // A state change takes the job out of the filtered view.
  Select({a});
  PostStartSelected(Monitor());
  Settle();
  EXPECT_TRUE(view.JobNodes().empty());
  SetFilter(0);
  EXPECT_EQ(view.JobNodes().size(), 2u);
}

TEST_F(QueueTest, SelectionShowsTheFocusedJobAndItsMenus) {
  SetMaxJobs(0);
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:9/sel.bin", "http://127.0.0.1:9/mirror.bin"}, "sel.bin",
                     jsStopped, 4);
  job->FileSize = 10000;
  job->BlockMap.assign(5, 0);
  job->BlockMap[1] = 1;
  PostAddJob(Monitor(), job);
  Select({job});
  Settle();
  EXPECT_EQ(view.LastInfo().Job, job->Handle());
  EXPECT_EQ(view.BlockMap(), job->BlockMap);
  EXPECT_EQ(view.CheckedPriority(), 4);
  EXPECT_EQ(view.CopyURLMenu(),
            (std::vector<std::string>{"http://127.0.0.1:9/sel.bin", "http://127.0.0.1:9/mirror.bin"}));
  EXPECT_TRUE(list.IsEnabled(TAction::StartJob));

  PostSetPriority(Monitor(), 1);
  PostCopyURL(Monitor(), 1);
  PostCopyURL(Monitor(), 2);  // there is no third URL
  PostEditJob(Monitor());
  PostLaunch(Monitor());     // not finished: nothing opens
  Settle();
  EXPECT_EQ(StateOf(job), jsStopped);
  {
    auto g = job->Guard();
    EXPECT_EQ(job->Priority, 1);
  }
  EXPECT_EQ(view.JobNodes().at(job->Handle().Id()).Priority, "1");
  EXPECT_EQ(view.Clipboard(), std::vector<std::string>{"http://127.0.0.1:9/mirror.bin"});
  EXPECT_TRUE(list.IgnoreClipboard.load());
  ASSERT_TRUE(view.LastEditDialog());
  EXPECT_EQ(view.LastEditDialog()->Job, job->Handle());
  EXPECT_EQ(view.LastEditDialog()->URLs.size(), 2u);
  EXPECT_TRUE(view.Opened().empty());

  // Nothing selected: the panels empty.
  view.SetSelection({});
  PostSelectionChanged(Monitor());
  Settle();
  EXPECT_TRUE(view.BlockMap().empty());
  EXPECT_FALSE(list.IsEnabled(TAction::StartJob));
}

TEST_F(QueueTest, ExploreAndLaunchAFinishedJob) {
  SetMaxJobs(0);
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:9/done.bin"}, "done.bin", jsFinished);
  PostAddJob(Monitor(), job);
  Select({job});
  PostLaunch(Monitor());
  PostExplore(Monitor());
  Settle();
  EXPECT_EQ(view.Opened(), (std::vector<std::string>{"open:" + home.File("done.bin"),
                                                     "explore:" + home.Path()}));
}

TEST_F(QueueTest, AnEditedJobTakesItsValuesAndItsFilesFollowTheNewName) {
  SetMaxJobs(0);
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:9/old.bin"}, "old.bin", jsStopped);
  job->FileSize = 100;
  WriteFileAtomically(job->PartFileName(), std::string(100, 'p'));
  WriteFileAtomically(job->InfoFileName(), "info");
  PostAddJob(Monitor(), job);
  Settle();
  // What the dialog sends back: another name, another mirror list, other settings.
  TJobEdit edit;
  {
    auto g = job->Guard();
    edit = JobEditOf(*job);
  }
  TURLInfo mirror = edit.URLs[0];
  mirror.URL = "http://127.0.0.1:9/mirror.bin";
  edit.URLs.push_back(mirror);
  edit.FileName = home.File("new.bin");
  edit.Name = "new.bin";
  edit.Priority = 5;
  edit.SkimblerCount = 99;
  edit.Comment = "edited";
  PostJobEdited(Monitor(), edit);
  Settle();
  {
    auto g = job->Guard();
    EXPECT_EQ(job->FileName, home.File("new.bin"));
    EXPECT_EQ(job->Name, "new.bin");
    EXPECT_EQ(job->URLs.size(), 2u);
    EXPECT_EQ(job->Priority, 5);
    EXPECT_EQ(job->SkimblerCount, 20);
    EXPECT_EQ(job->Comment, "edited");
    EXPECT_EQ(job->State, jsStopped);
  }
  EXPECT_TRUE(PathExists(home.File("new.bin.wyn")));
  EXPECT_TRUE(PathExists(home.File("new.bin.ji")));
  EXPECT_FALSE(PathExists(home.File("old.bin.wyn")));

  // A name whose partial file exists already: nothing is replaced, the job keeps its files.
  WriteFileAtomically(home.File("taken.bin.wyn"), "someone else's");
  edit.FileName = home.File("taken.bin");
  edit.Name = "taken.bin";
  PostJobEdited(Monitor(), edit);
  Settle();
  {
    auto g = job->Guard();
    EXPECT_EQ(job->FileName, home.File("new.bin"));
  }
  EXPECT_EQ(ReadWholeFile(home.File("taken.bin.wyn")), "someone else's");
  EXPECT_TRUE(PathExists(home.File("new.bin.wyn")));
}

TEST_F(QueueTest, ListFileIsSavedAfterChanges) {
  SetMaxJobs(0);
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:9/saved.bin"}, "saved.bin", jsStopped);
  PostAddJob(Monitor(), job);
  Settle();
  TJobList loaded;
  const auto r = loaded.LoadFromFile(settings.Get()->CurListFile);
  EXPECT_TRUE(r.Complete);
  ASSERT_EQ(loaded.Count(), 1);
  auto g = loaded.Jobs()[0]->Guard();
  EXPECT_EQ(loaded.Jobs()[0]->FirstURL(), "http://127.0.0.1:9/saved.bin");
}

TEST_F(QueueTest, AnEditThatArrivesWhileTheJobRunsIsNotApplied) {
  TScriptedServer server(Stalling());
  StartEngine();
  auto job = StalledJob(server, "busy.bin", jsQueued, 3);
  TJobEdit edit;
  {
    auto g = job->Guard();
    edit = JobEditOf(*job);
  }
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(WaitForState(job, jsRunning));
  edit.FileName = home.File("elsewhere.bin");
  edit.URLs[0].URL = "http://127.0.0.1:9/elsewhere.bin";
  PostJobEdited(Monitor(), edit);
  Settle();
  auto g = job->Guard();
  EXPECT_EQ(job->FileName, home.File("busy.bin"));
  EXPECT_EQ(job->FirstURL(), StallURL(server, "busy.bin"));
}

TEST_F(QueueTest, StoppingTheSchedulerWithJobsRunningLeavesNoThreadBehind) {
  TScriptedServer server(Stalling());
  StartEngine();
  auto a = StalledJob(server, "a.bin", jsQueued, 3);
  auto b = StalledJob(server, "b.bin", jsQueued, 3);
  PostAddJobs(Monitor(), {a, b});
  ASSERT_TRUE(WaitForState(a, jsRunning));
  ASSERT_TRUE(WaitForState(b, jsRunning));
  ASSERT_TRUE(server.WaitForConnections(2));
  // Straight to the end, without stopping the jobs first.
  engine->StopMonitor();
  engine.reset();
  for (const auto& j : {a, b}) {
    auto g = j->Guard();
    EXPECT_EQ(j->State, jsStopped);
    EXPECT_FALSE(j->Thread);
    for (const auto& s : j->Skimblers) {
      EXPECT_EQ(s->State, TSkimblerState::ssStopped);
      EXPECT_FALSE(s->Thread);
    }
  }
  EXPECT_TRUE(server.WaitForScripts(2)) << "the connections were closed";
}

TEST_F(QueueTest, AJobHandedOverTwiceIsListedOnce) {
  SetMaxJobs(0);
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:9/twice.bin"}, "twice.bin", jsStopped);
  PostAddJob(Monitor(), job);
  PostAddJob(Monitor(), job);
  Settle();
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(post.CountOf<TDuplicateJobMessage>(), 0);
}

}  // namespace
}  // namespace nsk::test
