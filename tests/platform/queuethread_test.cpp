// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/queuethread.h"

#include <atomic>

#include <gtest/gtest.h>

namespace nsk {
namespace {

TEST(QueueThread, CanBePostedToAsSoonAsStartReturns) {
  std::atomic<int> got{0};
  std::atomic<bool> stop{false};
  TQueueThread t;
  t.Start([&](TThreadQueue& queue, TEventLoop& loop) {
    while (!stop.load()) {
      if (auto m = queue.Peek()) {
        got.store(static_cast<int>(m->WParam));
        continue;
      }
      loop.RunOnce(TEventLoop::kNoTimeout);
    }
  });
  ASSERT_NE(t.Id(), 0u);
  ASSERT_TRUE(TThreadQueue::Post(t.Id(), 1, 42));
  while (got.load() != 42) std::this_thread::yield();
  // A stop flag alone would not end the wait: the wake does.
  stop.store(true);
  t.Wake();
  t.Join();
  EXPECT_FALSE(TThreadQueue::Post(t.Id(), 1, 43));
}

}  // namespace
}  // namespace nsk
