// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/resolver.h"

namespace nsk {

namespace detail {
struct TLoopShared;
}

// A handle that wakes one event loop from any thread. It stays safe to use after the loop has
// gone (the wake-up then reaches nobody).
class TLoopWaker final {
 public:
  TLoopWaker() = default;
  void Wake() const;
  explicit operator bool() const { return shared_ != nullptr; }

 private:
  friend class TEventLoop;
  explicit TLoopWaker(std::shared_ptr<detail::TLoopShared> shared) : shared_(std::move(shared)) {}
  std::shared_ptr<detail::TLoopShared> shared_;
};

// The event loop of one thread, on poll(): descriptor readiness, one-shot timers, completion of
// host look-ups, and wake-ups from other threads (posted thread messages, abort and stop
// requests) are all served by one wait. Everything except Wake()/Waker() belongs to the owning
// thread; handlers run on that thread inside RunOnce(), which may be entered again from a
// handler.
class TEventLoop final {
 public:
  using TWatchId = std::uint64_t;
  using TTimerId = std::uint64_t;
  using TLookupId = std::uint64_t;
  // revents as poll() reports them (POLLIN, POLLOUT, POLLRDHUP, POLLHUP, POLLERR, POLLNVAL).
  using TReadyHandler = std::function<void(short revents)>;

  static constexpr std::chrono::milliseconds kNoTimeout{-1};

  TEventLoop();
  ~TEventLoop();
  TEventLoop(const TEventLoop&) = delete;
  TEventLoop& operator=(const TEventLoop&) = delete;

  // The loop of the calling thread, made on first use and freed when the thread ends.
  static TEventLoop& ForThisThread();

  // Watches fd for the poll() events given (POLLIN, POLLOUT, POLLRDHUP). With events 0 the
  // descriptor is left out of the wait altogether, so a hang-up is not reported either.
  TWatchId Watch(int fd, short events, TReadyHandler handler);
  void SetEvents(TWatchId id, short events);
  // Safe from inside any handler, including the watch's own; the handler is not called again.
  void Unwatch(TWatchId id);

  // One-shot timer; timers due in the same turn fire in the order of their deadlines, equal
  // deadlines in the order they were started.
  TTimerId StartTimer(std::chrono::steady_clock::duration delay, std::function<void()> handler);
  // False when the timer has already fired or was cancelled.
  bool CancelTimer(TTimerId id);

  // Starts a look-up on the loop's resolver; done runs on this thread inside RunOnce().
  TLookupId LookUp(const std::string& host, std::function<void(TLookupResult)> done);
  // The answer of a cancelled look-up is dropped when it arrives.
  bool CancelLookUp(TLookupId id);
  // The system resolver unless replaced (tests put in resolvers they complete by hand).
  void SetResolver(std::shared_ptr<THostResolver> resolver);

  // Waits until something is ready, a timer is due, a wake-up came or timeout passed
  // (kNoTimeout: no limit), then serves everything ready: descriptors, then look-up answers,
  // then due timers. True when anything was served or a wake-up came.
  bool RunOnce(std::chrono::steady_clock::duration timeout);

  // Thread-safe: makes the current or the next RunOnce() return at once.
  void Wake();
  TLoopWaker Waker() const;

 private:
  struct TWatch {
    TWatchId Id;
    int Fd;
    short Events;
    bool Dead;
    TReadyHandler Handler;
  };
  using TTimerKey = std::pair<std::chrono::steady_clock::time_point, TTimerId>;

  TWatch* FindWatch(TWatchId id);
  void Compact();
  int ServeTimers();
  int ServeLookUps();

  std::shared_ptr<detail::TLoopShared> shared_;
  std::shared_ptr<THostResolver> resolver_;
  std::vector<std::unique_ptr<TWatch>> watches_;
  std::vector<pollfd> pollfds_;  // [0] is the wake-up descriptor, then one per watch
  bool pollfdsStale_ = true;
  bool hasDead_ = false;
  int depth_ = 0;
  std::uint64_t nextId_ = 1;
  std::map<TTimerKey, std::function<void()>> timers_;
  std::unordered_map<TTimerId, std::chrono::steady_clock::time_point> timerDeadlines_;
  std::unordered_map<TLookupId, std::function<void(TLookupResult)>> lookUps_;
};

}  // namespace nsk
