// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <unordered_set>

#include "engine/job.h"
#include "engine/joblist.h"

namespace nsk {
namespace {

TEST(Handle, ComparesByIdentity) {
  auto a = TJob::Create();
  auto b = TJob::Create();
  const JobHandle copy = a->Handle();
  EXPECT_EQ(copy, a->Handle());
  EXPECT_NE(a->Handle(), b->Handle());
  EXPECT_NE(a->Handle().Id(), 0u);
  EXPECT_EQ(copy.Resolve(), a);
  const JobHandle none;
  EXPECT_TRUE(none.IsNone());
  EXPECT_FALSE(static_cast<bool>(none));
  EXPECT_EQ(none.Resolve(), nullptr);
  std::unordered_set<JobHandle> set{a->Handle(), copy, b->Handle()};
  EXPECT_EQ(set.size(), 2u);
}

TEST(Handle, AFreedRecordResolvesToNothing) {
  JobHandle job;
  SkimblerHandle skimbler;
  {
    auto j = TJob::Create();
    auto s = TSkimbler::Create(j->Handle(), 1);
    j->AddSkimbler(s);
    job = j->Handle();
    skimbler = s->Handle();
  }
  EXPECT_EQ(job.Resolve(), nullptr);
  EXPECT_EQ(skimbler.Resolve(), nullptr);
  EXPECT_FALSE(job.IsNone());  // still names the record, which is gone
}

TEST(Handle, TheOwningListDecidesHowLongARecordLives) {
  TJobList list;
  JobHandle h;
  SkimblerHandle sh;
  {
    auto j = TJob::Create();
    auto s = TSkimbler::Create(j->Handle(), 1);
    sh = s->Handle();
    j->AddSkimbler(std::move(s));
    h = j->Handle();
    list.Add(std::move(j));
  }
  ASSERT_NE(h.Resolve(), nullptr);
  ASSERT_NE(sh.Resolve(), nullptr);
  EXPECT_EQ(sh.Resolve()->Job(), h);
  {
    auto j = h.Resolve();
    auto removed = j->RemoveSkimbler(sh);
    EXPECT_NE(removed, nullptr);
    EXPECT_EQ(j->RemoveSkimbler(sh), nullptr);
  }
  EXPECT_EQ(sh.Resolve(), nullptr);
  auto removed = list.Remove(h);
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(list.Remove(h), nullptr);
  removed.reset();
  EXPECT_EQ(h.Resolve(), nullptr);
}

}  // namespace
}  // namespace nsk
