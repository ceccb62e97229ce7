// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/resolver.h"

#include <arpa/inet.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/eventloop.h"
#include "tests/support/net/manualresolver.h"

namespace nsk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Dotted(in_addr a) {
  char buf[INET_ADDRSTRLEN];
  return ::inet_ntop(AF_INET, &a, buf, sizeof buf);
}

std::optional<TLookupResult> LookUpThroughLoop(TEventLoop& loop, const std::string& host) {
  std::optional<TLookupResult> answer;
  const std::thread::id owner = std::this_thread::get_id();
  loop.LookUp(host, [&](TLookupResult r) {
    EXPECT_EQ(std::this_thread::get_id(), owner);  // delivered on the loop's own thread
    answer = std::move(r);
  });
  const auto end = Clock::now() + 20s;
  while (!answer && Clock::now() < end) loop.RunOnce(TEventLoop::kNoTimeout);
  return answer;
}

TEST(Resolver, SystemLookUpsAreAnsweredOnTheLoopThread) {
  struct Case {
    const char* host;
    bool ok;
  };
  // Only local names: "localhost" from the hosts file, a dotted address, and names of the
  // reserved "invalid" domain that fail without asking a name server.
  const Case cases[] = {{"localhost", true},   {"127.0.0.1", true},
                        {"nosuch.invalid", false}, {"NoSuch.Invalid.", false},
                        {"invalid", false},    {"", false}};
  TEventLoop loop;
  for (const auto& c : cases) {
    auto r = LookUpThroughLoop(loop, c.host);
    ASSERT_TRUE(r) << c.host;
    if (c.ok) {
      EXPECT_EQ(r->Error, 0) << c.host;
      ASSERT_FALSE(r->Addresses.empty()) << c.host;
      EXPECT_EQ(Dotted(r->Addresses[0]), "127.0.0.1") << c.host;
    } else {
      EXPECT_NE(r->Error, 0) << c.host;
      EXPECT_TRUE(r->Addresses.empty()) << c.host;
    }
  }
}

TEST(Resolver, CancelledLookUpIsDroppedWhenItsAnswerComes) {
  auto resolver = std::make_shared<test::TManualResolver>();
  TEventLoop loop;
  loop.SetResolver(resolver);
  int calls = 0;
  const auto id = loop.LookUp("slow.example", [&](TLookupResult) { ++calls; });
  loop.LookUp("other.example", [&](TLookupResult) { calls += 10; });
  EXPECT_TRUE(loop.CancelLookUp(id));
  EXPECT_FALSE(loop.CancelLookUp(id));
  std::thread([&] {
    resolver->Complete(test::TManualResolver::Address("10.0.0.1"));
    resolver->Complete(test::TManualResolver::Address("10.0.0.2"));
  }).join();
  for (int i = 0; i < 3; ++i) loop.RunOnce(10ms);
  EXPECT_EQ(calls, 10);
}

TEST(Resolver, AnswerAfterTheLoopIsGoneTouchesNothing) {
  auto resolver = std::make_shared<test::TManualResolver>();
  {
    auto loop = std::make_unique<TEventLoop>();
    loop->SetResolver(resolver);
    auto requester = std::make_unique<int>(0);
    loop->LookUp("slow.example", [p = requester.get()](TLookupResult) { ++*p; });
    requester.reset();
    loop.reset();
  }
  std::thread([&] { EXPECT_TRUE(resolver->Complete(test::TManualResolver::Failure())); }).join();
}

TEST(Resolver, ThreadEndingDuringASystemLookUpIsSafe) {
  // The thread and its loop end while getaddrinfo may still run; the late answer reaches
  // nobody.
  for (int i = 0; i < 5; ++i)
    std::thread([] { TEventLoop::ForThisThread().LookUp("localhost", [](TLookupResult) {}); })
        .join();
  std::this_thread::sleep_for(100ms);
}

}  // namespace
}  // namespace nsk
