// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace nsk::test {

// Wakes waiting tests whenever a fake recorded something. The condition is tested without
// the signal's lock held, so it may take engine locks (an engine thread that calls a fake
// while holding them never waits for the test).
class TChangeSignal final {
 public:
  void Notify() {
    {
      std::lock_guard g(lock_);
      ++generation_;
    }
    changed_.notify_all();
  }

  // True as soon as condition() holds; false when it still does not after timeout. The
  // condition is tested after every change and at least every 50 ms.
  bool WaitUntil(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::uint64_t seen;
      {
        std::lock_guard g(lock_);
        seen = generation_;
      }
      if (condition()) return true;
      std::unique_lock g(lock_);
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      changed_.wait_until(g, std::min(deadline, now + std::chrono::milliseconds(50)),
                          [&] { return generation_ != seen; });
    }
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::uint64_t generation_ = 0;
};

}  // namespace nsk::test
