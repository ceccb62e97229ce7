// SPDX-License-Identifier: GPL-2.0-or-later
// The job thread: its file checks before a run, the connection count, the end state.
#include <gtest/gtest.h>

#include "engine/jobthread.h"
#include "engine/monitorcommands.h"
#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/filedata.h"
#include "tests/support/net/nginx.h"

namespace nsk::test {
namespace {

using enum TJobState;

TEST(EndState, DecidedWhenEveryConnectionHasStopped) {
  struct Case {
    const char* what;
    std::int32_t size, done, errors, maxErrors;
    bool userStopped, allFailed;
    TJobState want;
  };
  const Case cases[] = {
      {"every byte stored", 1000, 1000, 0, 10, false, false, jsFinished},
      {"stopped by the user after every byte", 1000, 1000, 0, 10, true, false, jsFinished},
      {"complete although the error limit was reached", 1000, 1000, 10, 10, false, false,
       jsFinished},
      {"connections gave up below the error limit", 1000, 400, 3, 10, false, false, jsStopped},
      {"stopped by the user", 1000, 400, 0, 10, true, false, jsStopped},
      {"stopped by the user at the error limit", 1000, 400, 12, 10, true, false, jsStopped},
      {"error limit reached", 1000, 400, 10, 10, false, false, jsError},
      {"size never learnt, limit reached", 0, 0, 10, 10, false, false, jsError},
      {"size never learnt, below the limit", 0, 0, 1, 10, false, false, jsStopped},
      {"every URL failed", 1000, 400, 1, 10, false, true, jsError},
      {"every URL failed, user stop", 1000, 400, 1, 10, true, true, jsError},
      {"every URL failed though complete", 1000, 1000, 1, 10, false, true, jsError},
  };
  for (const auto& c : cases) {
    auto job = TJob::Create();
    TURLInfo u;
    u.URL = "http://h/f";
    u.Failed = c.allFailed;
    job->URLs.push_back(u);
    job->FileSize = c.size;
    job->DoneBytes = c.done;
    job->Errors = c.errors;
    job->MaxErrors = c.maxErrors;
    EXPECT_EQ(EndStateOf(*job, c.userStopped), c.want) << c.what;
  }
}

TEST(AutoSkimblers, OneConnectionPerEverySkimblerKiBWithinOneAndTwenty) {
  struct Case {
    std::int32_t size, every, want;
  };
  const Case cases[] = {
      {100000, 200, 1},        {1048576, 200, 5},   {10 * 1048576, 200, 20},
      {204799, 200, 1},        {409600, 200, 2},    {0, 200, 1},
      {1048576, 0, 20},        {1048576, -5, 20},   {2147483647, 1, 20},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AutoSkimblerCount(c.size, c.every), c.want) << c.size << " / " << c.every;
}

class JobThreadTest : public TEngineTest {
 protected:
  std::shared_ptr<TJob> StartJob(std::shared_ptr<TJob> job) {
    PostAddJob(Monitor(), job);
    return job;
  }
  std::size_t ConnectionsOf(const std::shared_ptr<TJob>& job) {
    auto g = job->Guard();
    return job->Skimblers.size();
  }
};

TEST_F(JobThreadTest, AnExistingFileOfANewJobIsAskedAboutAndCancelStopsIt) {
  StartEngine();
  std::size_t asked = 0;
  for (const std::string present : {"target", "partial"}) {
    SCOPED_TRACE(present);
    const std::string name = present + ".bin";
    const std::string path = home.File(name);
    const std::string existing = present == "target" ? path : path + ".wyn";
    WriteFileAtomically(existing, "old");
    // The URL is never asked: nothing may connect before the answer.
    auto job = StartJob(MakeJob({"http://127.0.0.1:9/" + name}, name, jsQueued));
    ++asked;
    ASSERT_TRUE(view.WaitUntil([&] { return view.FileQuestions().size() == asked; }));
    const auto q = view.FileQuestions().back();
    EXPECT_EQ(q.FileName, path);
    EXPECT_NE(q.Asker, 0u);
    EXPECT_EQ(StateOf(job), jsRunning);
    EXPECT_EQ(ConnectionsOf(job), 0u);
    PostRenameReply(q.Asker, TRenameAnswer::Cancel);
    ASSERT_TRUE(WaitForState(job, jsStopped));
    EXPECT_EQ(ConnectionsOf(job), 0u);
    EXPECT_EQ(ReadWholeFile(existing), "old");
  }
}

TEST_F(JobThreadTest, AStopWhileTheQuestionIsOpenCancelsTheStart) {
  WriteFileAtomically(home.File("q.bin"), "old");
  StartEngine();
  auto job = StartJob(MakeJob({"http://127.0.0.1:9/q.bin"}, "q.bin", jsQueued));
  ASSERT_TRUE(view.WaitUntil([&] { return view.FileQuestions().size() == 1; }));
  PostStopAll(Monitor(), false);
  ASSERT_TRUE(WaitForState(job, jsStopped));
  // A late answer reaches nobody.
  PostRenameReply(view.FileQuestions()[0].Asker, TRenameAnswer::Rename);
}

TEST_F(JobThreadTest, AResumableJobNeedsItsPartialFileOfTheRightLength) {
  struct Case {
    const char* what;
    bool present;
    std::int32_t length;
    TFileProblem problem;
  };
  const Case cases[] = {
      {"partial file missing", false, 0, TFileProblem::Missing},
      {"partial file shorter", true, 999, TFileProblem::Invalid},
      {"partial file longer", true, 1001, TFileProblem::Invalid},
  };
  StartEngine();
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "resume" + std::to_string(n++) + ".bin";
    auto job = MakeJob({"http://127.0.0.1:9/" + name}, name, jsQueued);
    job->FileSize = 1000;
    job->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{500, 1000, false}));
    job->BuildBlockMap();
    if (c.present) WriteFileAtomically(job->PartFileName(), std::string(static_cast<std::size_t>(c.length), 'x'));
    post.Clear();
    StartJob(job);
    ASSERT_TRUE(WaitForState(job, jsError));
    const auto errors = post.All<TFileErrorMessage>();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Problem, c.problem);
    EXPECT_EQ(errors[0].FileName, job->FileName);
    EXPECT_EQ(ConnectionsOf(job), 0u) << "no connection is started";
    EXPECT_EQ(NoticeText(errors[0]),
              std::string("文件:\"") + job->FileName +
                  (c.problem == TFileProblem::Missing ? "\" 不存在!" : "\" 无效!"));
  }
}

TEST_F(JobThreadTest, RenameTakesTheNextFreeNameAndSavesTheList) {
  TNginx nginx;
  const std::string data = PatternBytes(50000, 7);
  nginx.AddFile("r.bin", data);
  WriteFileAtomically(home.File("r.bin"), "mine");
  WriteFileAtomically(home.File("r(1).bin.wyn"), "somebody's partial");
  view.SetFileExistsAnswer(TRenameAnswer::Rename);
  StartEngine();
  auto job = StartJob(MakeJob({nginx.Url("r.bin")}, "r.bin", jsQueued));
  ASSERT_TRUE(WaitForState(job, jsFinished));
  {
    auto g = job->Guard();
    EXPECT_EQ(job->FileName, home.File("r(2).bin"));
    EXPECT_EQ(job->Name, "r(2).bin");
  }
  EXPECT_EQ(ReadWholeFile(home.File("r.bin")), "mine");
  EXPECT_EQ(ReadWholeFile(home.File("r(2).bin")), data);
  TJobList saved;
  saved.LoadFromFile(settings.Get()->CurListFile);
  ASSERT_EQ(saved.Count(), 1);
  auto g = saved.Jobs()[0]->Guard();
  EXPECT_EQ(saved.Jobs()[0]->FileName, home.File("r(2).bin"));
}

TEST_F(JobThreadTest, OverwriteReplacesTheTargetWhenTheJobFinishes) {
  TNginx nginx;
  const std::string data = PatternBytes(70000, 8);
  nginx.AddFile("o.bin", data);
  WriteFileAtomically(home.File("o.bin"), "old target");
  WriteFileAtomically(home.File("o.bin.wyn"), std::string(100000, 'z'));
  view.SetFileExistsAnswer(TRenameAnswer::Overwrite);
  StartEngine();
  auto job = StartJob(MakeJob({nginx.Url("o.bin")}, "o.bin", jsQueued));
  ASSERT_TRUE(WaitForState(job, jsFinished));
  EXPECT_EQ(ReadWholeFile(home.File("o.bin")), data);
  EXPECT_FALSE(PathExists(home.File("o.bin.wyn")));
}

}  // namespace
}  // namespace nsk::test
