// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <mutex>

namespace nsk {

// The job list's count of bytes received by all connections since program start, with its
// own lock. The lock is a leaf: nothing else is locked while it is held, so it may be taken
// with or without the list and job locks.
class TByteCounter final {
 public:
  struct TTick {
    std::int64_t Delta = 0;  // bytes since the previous tick
    std::int64_t Total = 0;  // TotalReceived now
  };

  TByteCounter() = default;
  TByteCounter(const TByteCounter&) = delete;
  TByteCounter& operator=(const TByteCounter&) = delete;

  void Enter() { lock_.lock(); }
  void Leave() { lock_.unlock(); }

  void Add(std::int64_t n) {
    std::lock_guard g(lock_);
    total_ += n;
  }
  std::int64_t TotalReceived() const {
    std::lock_guard g(lock_);
    return total_;
  }
  // The scheduler's one-second snapshot: what arrived since the last tick; LastTotalReceived
  // becomes TotalReceived.
  TTick TakeTick() {
    std::lock_guard g(lock_);
    TTick t{total_ - last_, total_};
    last_ = total_;
    return t;
  }

 private:
  mutable std::mutex lock_;
  // 64 bits: a session may well receive more than 2 GiB in all.
  std::int64_t total_ = 0;
  std::int64_t last_ = 0;
};

}  // namespace nsk
