// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/threadqueue.h"

#include <atomic>
#include <chrono>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace nsk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Counts how many of its kind are alive, to see who frees a payload.
struct TTracked {
  explicit TTracked(std::atomic<int>& c) : count(&c) { ++*count; }
  TTracked(TTracked&& o) noexcept : count(o.count) { o.count = nullptr; }
  ~TTracked() {
    if (count) --*count;
  }
  std::atomic<int>* count;
};

TEST(ThreadQueue, MessagesArriveInOrderWithTheirPayloads) {
  TThreadQueue q;
  EXPECT_NE(q.Id(), 0u);
  EXPECT_EQ(TThreadQueue::ForThisThread(), &q);
  EXPECT_TRUE(TThreadQueue::Post(q.Id(), 3024, 0, 29));
  EXPECT_TRUE(TThreadQueue::Post(q.Id(), 3029, 7, 4, MakePayload(std::string("text"))));
  auto a = q.Peek();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Message, 3024u);
  EXPECT_EQ(a->LParam, 29);
  EXPECT_EQ(a->Payload, nullptr);
  auto b = q.Peek();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Message, 3029u);
  EXPECT_EQ(b->WParam, 7);
  ASSERT_NE(b->PayloadAs<std::string>(), nullptr);
  EXPECT_EQ(*b->PayloadAs<std::string>(), "text");
  EXPECT_EQ(b->PayloadAs<int>(), nullptr);
  EXPECT_FALSE(q.Peek());
}

TEST(ThreadQueue, PostingToAGoneQueueFailsAndFreesThePayload) {
  std::atomic<int> alive = 0;
  TThreadId id = 0;
  {
    TThreadQueue q;
    id = q.Id();
    // Undelivered payloads are freed with the queue.
    EXPECT_TRUE(TThreadQueue::Post(id, 1, 0, 0, MakePayload(TTracked(alive))));
    EXPECT_TRUE(TThreadQueue::Post(id, 2, 0, 0, MakePayload(TTracked(alive))));
    EXPECT_EQ(alive, 2);
  }
  EXPECT_EQ(alive, 0);
  EXPECT_FALSE(TThreadQueue::Post(id, 3, 0, 0, MakePayload(TTracked(alive))));
  EXPECT_EQ(alive, 0);
  EXPECT_FALSE(TThreadQueue::Post(0, 3));
  EXPECT_FALSE(TThreadQueue::Post(0xFFFFFFF0u, 3));
}

TEST(ThreadQueue, IdsAreNotReused) {
  TThreadId first;
  { first = TThreadQueue().Id(); }
  TThreadQueue second;
  EXPECT_NE(second.Id(), first);
  EXPECT_FALSE(TThreadQueue::Post(first, 1));
}

TEST(ThreadQueue, AMessageEndsAWaitAtOnce) {
  TThreadQueue q;
  const TThreadId id = q.Id();
  std::thread sender([id] {
    std::this_thread::sleep_for(50ms);
    TThreadQueue::Post(id, 3025, 0, 1);
  });
  const auto start = Clock::now();
  EXPECT_TRUE(q.Wait(30s));
  EXPECT_LT(Clock::now() - start, 10s);
  sender.join();
  auto m = q.Peek();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Message, 3025u);
}

TEST(ThreadQueue, AMessageEndsAnyWaitOfTheThreadLoop) {
  // A socket operation waiting in the thread's loop returns as soon as a message comes; the
  // message stays queued for the thread's own loop.
  TThreadQueue q;
  const TThreadId id = q.Id();
  std::thread sender([id] {
    std::this_thread::sleep_for(50ms);
    TThreadQueue::Post(id, 3024);
  });
  EXPECT_TRUE(TEventLoop::ForThisThread().RunOnce(TEventLoop::kNoTimeout));
  sender.join();
  EXPECT_FALSE(q.Empty());
  EXPECT_TRUE(q.Wait(0ms));
}

TEST(ThreadQueue, WaitEndsAfterItsTimeout) {
  TThreadQueue q;
  const auto start = Clock::now();
  EXPECT_FALSE(q.Wait(40ms));
  EXPECT_GE(Clock::now() - start, 40ms);
}

TEST(ThreadQueue, ManySendersLoseNothingAndKeepTheirOrder) {
  constexpr int kSenders = 8, kEach = 2000;
  std::atomic<TThreadId> id = 0;
  std::latch ready(1);
  std::vector<std::vector<std::intptr_t>> got(kSenders);
  std::thread receiver([&] {
    TThreadQueue q;
    id = q.Id();
    ready.count_down();
    int total = 0;
    while (total < kSenders * kEach) {
      if (!q.Wait(10s)) break;
      while (auto m = q.Peek()) {
        got[m->WParam].push_back(m->LParam);
        ++total;
      }
    }
  });
  ready.wait();
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s)
    senders.emplace_back([&, s] {
      for (int i = 0; i < kEach; ++i)
        ASSERT_TRUE(TThreadQueue::Post(id, 3024, s, i, s % 2 ? MakePayload(i) : nullptr));
    });
  for (auto& t : senders) t.join();
  receiver.join();
  for (int s = 0; s < kSenders; ++s) {
    ASSERT_EQ(got[s].size(), std::size_t(kEach)) << "sender " << s;
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(got[s][i], i);
  }
}

TEST(ThreadQueue, PostsRacingWithTheQueueEndingAreSafe) {
  std::atomic<int> alive = 0;
  std::atomic<TThreadId> id = 0;
  std::atomic<bool> stop = false;
  std::latch ready(1);
  std::thread owner([&] {
    {
      TThreadQueue q;
      id = q.Id();
      ready.count_down();
      std::this_thread::sleep_for(20ms);
    }
  });
  ready.wait();
  std::vector<std::thread> senders;
  std::atomic<int> failed = 0;
  for (int s = 0; s < 4; ++s)
    senders.emplace_back([&] {
      while (!stop)
        if (!TThreadQueue::Post(id, 1, 0, 0, MakePayload(TTracked(alive)))) {
          ++failed;
          return;
        }
    });
  owner.join();
  stop = true;
  for (auto& t : senders) t.join();
  EXPECT_EQ(alive, 0);
  EXPECT_GT(failed, 0);
}

}  // namespace
}  // namespace nsk
