// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/windowpost.h"
#include "tests/support/engine/changesignal.h"

namespace nsk::test {

// A TWindowPost that keeps every posted message in order. Safe to call from several threads.
class TRecordingPost final : public TWindowPost {
 public:
  void Post(TWindowMessage message) override;
  std::vector<TWindowMessage> Messages() const;
  void Clear();
  // The messages of one kind, in order.
  template <class T>
  std::vector<T> All() const {
    std::lock_guard g(lock_);
    std::vector<T> out;
    for (const auto& m : messages_)
      if (const auto* p = std::get_if<T>(&m)) out.push_back(*p);
    return out;
  }
  template <class T>
  int CountOf() const {
    return static_cast<int>(All<T>().size());
  }
  // Waits until condition() holds, tested after every message (see TChangeSignal).
  bool WaitUntil(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return signal_.WaitUntil(condition, timeout);
  }

 private:
  mutable std::mutex lock_;
  std::vector<TWindowMessage> messages_;
  TChangeSignal signal_;
};

}  // namespace nsk::test
