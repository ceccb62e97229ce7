// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/job.h"

namespace nsk {
namespace {

using enum TResumeState;

struct U {
  TResumeState Resume = rsUnknown;
  std::int32_t Speed = -1;
  std::uint8_t Users = 0;
  std::int32_t Uses = 0;
  bool Failed = false;
  std::string Name = {};
};

std::shared_ptr<TJob> JobWithURLs(const std::vector<U>& urls) {
  auto job = TJob::Create();
  int n = 0;
  for (const auto& u : urls) {
    TURLInfo info;
    info.URL = u.Name.empty() ? "http://h/" + std::to_string(n) : u.Name;
    info.User = "user of " + info.URL;
    info.ResumeState = u.Resume;
    info.Speed = u.Speed;
    info.Users = u.Users;
    info.Uses = u.Uses;
    info.Failed = u.Failed;
    job->URLs.push_back(info);
    ++n;
  }
  return job;
}

TEST(ChooseURL, PrefersUntriedThenResumableMirrors) {
  struct Case {
    const char* what;
    std::vector<U> urls;
    std::int32_t chosen;
  };
  const Case cases[] = {
      {"no URL", {}, -1},
      {"every URL failed", {{.Failed = true}, {.Resume = rsResumable, .Speed = 9, .Failed = true}}, -1},
      {"an untried URL at once", {{.Resume = rsResumable, .Speed = 100}, {}}, 1},
      {"an untried URL in use is not untried", {{.Users = 1}}, -1},
      {"the least used tried unknown URL", {{.Speed = 50, .Uses = 2}, {.Speed = 10, .Uses = 1}}, 1},
      {"the first of equally used unknown URLs", {{.Speed = 50, .Uses = 1}, {.Speed = 10, .Uses = 1}}, 0},
      {"an idle resumable URL never measured is not taken", {{.Resume = rsResumable}}, -1},
      {"an idle resumable URL of speed 0 is", {{.Resume = rsResumable, .Speed = 0}}, 0},
      {"the fastest idle resumable URL",
       {{.Resume = rsResumable, .Speed = 5}, {.Resume = rsResumable, .Speed = 7},
        {.Resume = rsResumable, .Speed = 7}}, 1},
      {"a busy mirror beats a slower idle one",
       {{.Resume = rsResumable, .Speed = 100}, {.Resume = rsResumable, .Speed = 90, .Users = 1}}, 1},
      {"an idle mirror as fast as 1.2 times the busy one wins",
       {{.Resume = rsResumable, .Speed = 120}, {.Resume = rsResumable, .Speed = 100, .Users = 1}}, 0},
      {"each user of the busy mirror counts",
       {{.Resume = rsResumable, .Speed = 100, .Users = 2}, {.Resume = rsResumable, .Speed = 140}}, 0},
      {"a busy mirror never measured is shared", {{.Resume = rsResumable, .Users = 1}}, 0},
      {"the fastest busy resumable mirror",
       {{.Resume = rsResumable, .Speed = 10, .Users = 3}, {.Resume = rsResumable, .Speed = 30, .Users = 1}}, 1},
      {"a busy non-resuming mirror is never shared", {{.Resume = rsNoResume, .Speed = 50, .Users = 1}}, -1},
      {"the fastest idle non-resuming mirror",
       {{.Resume = rsNoResume, .Speed = 50}, {.Resume = rsNoResume, .Speed = 80}}, 1},
      {"non-resuming before tried unknown",
       {{.Speed = 5}, {.Resume = rsNoResume, .Speed = 1}}, 1},
      {"resumable before non-resuming",
       {{.Resume = rsNoResume, .Speed = 500}, {.Resume = rsResumable, .Speed = 1, .Users = 1}}, 1},
      {"failed URLs take no part", {{.Failed = true}, {.Speed = 3}}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(JobWithURLs(c.urls)->ChooseURL(), c.chosen) << c.what;
}

std::vector<std::string> Names(const TJob& job) {
  std::vector<std::string> n;
  for (const auto& u : job.URLs) {
    n.push_back(u.URL);
    EXPECT_EQ(u.User, "user of " + u.URL) << "a URL and its record move together";
  }
  return n;
}

TEST(RankURLs, PutsTheBestMirrorOfTheRunFirst) {
  struct Case {
    const char* what;
    std::vector<U> urls;
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {"failed behind usable",
       {{.Resume = rsResumable, .Speed = 500, .Failed = true, .Name = "F"},
        {.Resume = rsResumable, .Speed = 1, .Name = "R"}},
       {"R", "F"}},
      {"resumable by falling speed",
       {{.Resume = rsResumable, .Speed = 50, .Name = "A"},
        {.Resume = rsResumable, .Speed = 100, .Name = "B"},
        {.Resume = rsResumable, .Speed = 70, .Name = "C"}},
       {"B", "C", "A"}},
      {"resumable before non-resuming",
       {{.Resume = rsNoResume, .Speed = 100, .Name = "N"}, {.Resume = rsResumable, .Speed = 10, .Name = "R"}},
       {"R", "N"}},
      {"non-resuming by falling speed",
       {{.Resume = rsNoResume, .Speed = 10, .Name = "A"}, {.Resume = rsNoResume, .Speed = 20, .Name = "B"}},
       {"B", "A"}},
      {"untried first, zero speed last",
       {{.Speed = 0, .Name = "A"}, {.Resume = rsResumable, .Speed = 10, .Name = "B"}, {.Name = "C"}},
       {"C", "B", "A"}},
      {"the usual mixture",
       {{.Resume = rsResumable, .Speed = 500, .Failed = true, .Name = "F"},
        {.Resume = rsNoResume, .Speed = 5, .Name = "N"},
        {.Name = "U"},
        {.Resume = rsResumable, .Speed = 9, .Name = "R"},
        {.Speed = 0, .Name = "Z"}},
       {"U", "R", "N", "Z", "F"}},
      {"one URL", {{.Name = "A"}}, {"A"}},
  };
  for (const auto& c : cases) {
    auto job = JobWithURLs(c.urls);
    job->RankURLs();
    EXPECT_EQ(Names(*job), c.order) << c.what;
  }
}

TEST(UpdateResumeState, FollowsTheURLsThatHaveNotFailed) {
  struct Case {
    std::vector<U> urls;
    TResumeState state;
  };
  const Case cases[] = {
      {{}, rsUnknown},
      {{{.Resume = rsNoResume}, {.Resume = rsResumable}}, rsResumable},
      {{{.Resume = rsResumable, .Failed = true}, {.Resume = rsNoResume}}, rsNoResume},
      {{{.Resume = rsResumable, .Failed = true}}, rsUnknown},
      {{{}, {.Resume = rsNoResume}}, rsNoResume},
  };
  for (const auto& c : cases) {
    auto job = JobWithURLs(c.urls);
    job->ResumeState = rsResumable;
    EXPECT_EQ(job->UpdateResumeState(), c.state);
    EXPECT_EQ(job->ResumeState, c.state);
  }
}

TEST(URLState, AllFailedAndInUse) {
  EXPECT_TRUE(JobWithURLs({})->AllURLsFailed());
  EXPECT_TRUE(JobWithURLs({{.Failed = true}, {.Failed = true}})->AllURLsFailed());
  EXPECT_FALSE(JobWithURLs({{.Failed = true}, {}})->AllURLsFailed());
  EXPECT_FALSE(JobWithURLs({{}, {}})->AnyURLInUse());
  EXPECT_TRUE(JobWithURLs({{}, {.Users = 1}})->AnyURLInUse());
}

TEST(UsesHttp, HttpURLsAndFtpURLsThroughAnHttpProxy) {
  struct Case {
    const char* url;
    TProxyType proxy;
    std::int32_t index;
    bool http;
  };
  const Case cases[] = {
      {"http://h/f", TProxyType::Direct, 0, true},
      {"HTTP://h/f", TProxyType::FtpOpen, 0, true},
      {"ftp://h/f", TProxyType::Direct, 0, false},
      {"ftp://h/f", TProxyType::Http, 0, true},
      {"ftp://h/f", TProxyType::FtpUserAtHostPort, 0, false},
      {"", TProxyType::Direct, 0, false},
      {"http://h/f", TProxyType::Direct, 1, false},
      {"http://h/f", TProxyType::Direct, -1, false},
  };
  for (const auto& c : cases) {
    auto job = TJob::Create();
    TURLInfo u;
    u.URL = c.url;
    u.Proxy.ProxyType = c.proxy;
    job->URLs.push_back(u);
    EXPECT_EQ(job->UsesHttp(c.index), c.http) << c.url << " " << c.index;
  }
}

TEST(MarkURLFailed, OnlyWhenTheFailingConnectionWasItsOnlyUser) {
  auto job = JobWithURLs({{.Resume = rsResumable, .Users = 1}, {.Resume = rsNoResume, .Users = 2}});
  job->MarkURLFailed(1);
  EXPECT_FALSE(job->URLs[1].Failed);
  EXPECT_EQ(job->ResumeState, rsResumable);
  job->MarkURLFailed(0);
  EXPECT_TRUE(job->URLs[0].Failed);
  EXPECT_EQ(job->ResumeState, rsNoResume);
  job->MarkURLFailed(7);  // no such URL: only the resume state is recomputed
  EXPECT_EQ(job->ResumeState, rsNoResume);
}

constexpr std::int32_t K = 2048;

TEST(Attempt, AJobOfUnknownSizeIsProbedFromByteZeroWithoutABlock) {
  auto job = JobWithURLs({{}});
  auto s = TSkimbler::Create(job->Handle(), 1);
  const TAttempt a = job->BeginAttempt(*s);
  EXPECT_EQ(a.Kind, TAttemptKind::LearnSize);
  EXPECT_EQ(a.URLIndex, 0);
  EXPECT_EQ(a.StartPos, 0);
  EXPECT_EQ(s->URLIndex, 0);
  EXPECT_EQ(s->Block, nullptr);
  EXPECT_EQ(job->URLs[0].Users, 1);
  EXPECT_EQ(job->URLs[0].Uses, 1);
  s->State = TSkimblerState::ssReceiving;
  EXPECT_EQ(job->EndAttempt(*s), std::nullopt);
  EXPECT_EQ(job->URLs[0].Users, 0);
  EXPECT_EQ(job->URLs[0].Uses, 1);
  EXPECT_EQ(s->URLIndex, -1);
  EXPECT_EQ(s->State, TSkimblerState::ssIdle);
}

TEST(Attempt, ConnectionsShareAResumableMirrorAndSplitTheWork) {
  auto job = JobWithURLs({{.Resume = rsResumable, .Speed = 100}});
  job->ResumeState = rsResumable;
  job->FileSize = 40 * K;
  job->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{0, 40 * K, false}));
  auto s1 = TSkimbler::Create(job->Handle(), 1);
  auto s2 = TSkimbler::Create(job->Handle(), 2);
  const TAttempt a1 = job->BeginAttempt(*s1);
  ASSERT_EQ(a1.Kind, TAttemptKind::Block);
  EXPECT_EQ(a1.StartPos, 0);
  EXPECT_TRUE(s1->Block->Busy);
  const TAttempt a2 = job->BeginAttempt(*s2);
  ASSERT_EQ(a2.Kind, TAttemptKind::Block);
  EXPECT_EQ(a2.URLIndex, 0);
  EXPECT_EQ(a2.StartPos, 20 * K);
  EXPECT_EQ(s1->Block->EndPos, 20 * K);
  EXPECT_EQ(job->URLs[0].Users, 2);
  EXPECT_EQ(job->URLs[0].Uses, 2);
  // The second connection gives up at once: its range joins the first one's.
  EXPECT_EQ(job->EndAttempt(*s2), 20 * K);
  ASSERT_EQ(job->Blocks.size(), 1u);
  EXPECT_EQ(job->Blocks[0], s1->Block);
  EXPECT_EQ(s1->Block->EndPos, 40 * K);
  EXPECT_EQ(job->URLs[0].Users, 1);
}

TEST(Attempt, ANonResumingMirrorServesOneConnectionFromByteZero) {
  auto job = JobWithURLs({{.Resume = rsNoResume, .Speed = 100}});
  job->ResumeState = rsNoResume;
  job->FileSize = 10 * K;
  job->DoneBytes = 4 * K;
  job->Percent = 40;
  job->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{4 * K, 10 * K, false}));
  job->BlockMap = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  auto s1 = TSkimbler::Create(job->Handle(), 1);
  auto s2 = TSkimbler::Create(job->Handle(), 2);
  const TAttempt a1 = job->BeginAttempt(*s1);
  EXPECT_EQ(a1.Kind, TAttemptKind::Restart);
  EXPECT_EQ(a1.StartPos, 0);
  ASSERT_EQ(job->Blocks.size(), 1u);
  EXPECT_EQ(job->Blocks[0], s1->Block);
  EXPECT_EQ(s1->Block->StartPos, 0);
  EXPECT_EQ(s1->Block->EndPos, 10 * K);
  EXPECT_TRUE(s1->Block->Busy);
  EXPECT_EQ(job->DoneBytes, 0);
  EXPECT_EQ(job->Percent, 0);
  EXPECT_EQ(job->BlockMap, std::vector<std::uint8_t>(10, 0));

  const TAttempt a2 = job->BeginAttempt(*s2);
  EXPECT_EQ(a2.Kind, TAttemptKind::NoWork);
  EXPECT_EQ(s2->URLIndex, -1);
  EXPECT_EQ(job->URLs[0].Users, 1);
}

TEST(Attempt, NoWorkLeavesTheMirrorsAsTheyWere) {
  struct Case {
    const char* what;
    std::vector<U> urls;
    std::vector<TBlockInfo> blocks;
  };
  const Case cases[] = {
      {"no usable URL", {{.Failed = true}}, {{0, 40 * K, false}}},
      {"every range busy and short", {{.Resume = rsResumable, .Speed = 1, .Users = 1}},
       {{0, 9 * K, true}}},
      {"nothing missing", {{.Resume = rsResumable, .Speed = 1}}, {}},
  };
  for (const auto& c : cases) {
    auto job = JobWithURLs(c.urls);
    job->ResumeState = rsResumable;
    job->FileSize = 40 * K;
    for (const auto& b : c.blocks) job->Blocks.push_back(std::make_shared<TBlockInfo>(b));
    auto s = TSkimbler::Create(job->Handle(), 1);
    EXPECT_EQ(job->BeginAttempt(*s).Kind, TAttemptKind::NoWork) << c.what;
    EXPECT_EQ(s->Block, nullptr) << c.what;
    EXPECT_EQ(s->URLIndex, -1) << c.what;
    EXPECT_EQ(job->URLs[0].Users, c.urls[0].Users) << c.what;
    EXPECT_EQ(job->URLs[0].Uses, 0) << c.what;
  }
}

}  // namespace
}  // namespace nsk
