// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/eventloop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>

namespace nsk {

namespace detail {

// The part of a loop that other threads reach: the wake-up descriptor and the inbox of look-up
// answers. Wakers and pending look-ups keep it alive after the loop itself has gone.
struct TLoopShared {
  TLoopShared() : fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  }
  ~TLoopShared() { ::close(fd); }
  TLoopShared(const TLoopShared&) = delete;
  TLoopShared& operator=(const TLoopShared&) = delete;

  void Wake() const {
    const std::uint64_t one = 1;
    // Fails only when the counter is about to overflow, and then the loop is awake anyway.
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
  }
  void Drain() const {
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(fd, &value, sizeof value);
  }
  void Deliver(std::uint64_t id, TLookupResult result) {
    {
      std::lock_guard lock(mutex);
      answers.emplace_back(id, std::move(result));
    }
    Wake();
  }

  const int fd;
  std::mutex mutex;
  std::vector<std::pair<std::uint64_t, TLookupResult>> answers;
};

}  // namespace detail

void TLoopWaker::Wake() const {
  if (shared_) shared_->Wake();
}

TEventLoop::TEventLoop()
    : shared_(std::make_shared<detail::TLoopShared>()), resolver_(SystemResolver()) {}

TEventLoop::~TEventLoop() = default;

TEventLoop& TEventLoop::ForThisThread() {
  thread_local std::unique_ptr<TEventLoop> loop;
  if (!loop) loop = std::make_unique<TEventLoop>();
  return *loop;
}

TEventLoop::TWatch* TEventLoop::FindWatch(TWatchId id) {
  for (auto& w : watches_)
    if (w->Id == id) return w->Dead ? nullptr : w.get();
  return nullptr;
}

TEventLoop::TWatchId TEventLoop::Watch(int fd, short events, TReadyHandler handler) {
  const TWatchId id = nextId_++;
  watches_.push_back(std::make_unique<TWatch>(TWatch{id, fd, events, false, std::move(handler)}));
  pollfdsStale_ = true;
  return id;
}

void TEventLoop::SetEvents(TWatchId id, short events) {
  for (std::size_t i = 0; i < watches_.size(); ++i) {
    TWatch& w = *watches_[i];
    if (w.Id != id || w.Dead) continue;
    if (w.Events == events) return;
    w.Events = events;
    if (!pollfdsStale_) {
      pollfds_[i + 1].fd = events ? w.Fd : -1;
      pollfds_[i + 1].events = events;
    }
    return;
  }
}

void TEventLoop::Unwatch(TWatchId id) {
  TWatch* w = FindWatch(id);
  if (!w) return;
  // The handler may be running right now: it is destroyed only once no turn is in progress.
  w->Dead = true;
  w->Events = 0;
  hasDead_ = true;
  pollfdsStale_ = true;
  if (depth_ == 0) Compact();
}

void TEventLoop::Compact() {
  std::erase_if(watches_, [](const std::unique_ptr<TWatch>& w) { return w->Dead; });
  hasDead_ = false;
  pollfdsStale_ = true;
}

TEventLoop::TTimerId TEventLoop::StartTimer(std::chrono::steady_clock::duration delay,
                                            std::function<void()> handler) {
  const TTimerId id = nextId_++;
  if (delay < std::chrono::steady_clock::duration::zero()) delay = {};
  const auto deadline = std::chrono::steady_clock::now() + delay;
  timers_.emplace(TTimerKey{deadline, id}, std::move(handler));
  timerDeadlines_.emplace(id, deadline);
  return id;
}

bool TEventLoop::CancelTimer(TTimerId id) {
  auto it = timerDeadlines_.find(id);
  if (it == timerDeadlines_.end()) return false;
  timers_.erase(TTimerKey{it->second, id});
  timerDeadlines_.erase(it);
  return true;
}

TEventLoop::TLookupId TEventLoop::LookUp(const std::string& host,
                                         std::function<void(TLookupResult)> done) {
  const TLookupId id = nextId_++;
  lookUps_.emplace(id, std::move(done));
  resolver_->Start(host, [shared = shared_, id](TLookupResult result) {
    shared->Deliver(id, std::move(result));
  });
  return id;
}

bool TEventLoop::CancelLookUp(TLookupId id) { return lookUps_.erase(id) > 0; }

void TEventLoop::SetResolver(std::shared_ptr<THostResolver> resolver) {
  resolver_ = resolver ? std::move(resolver) : SystemResolver();
}

void TEventLoop::Wake() { shared_->Wake(); }

TLoopWaker TEventLoop::Waker() const { return TLoopWaker(shared_); }

int TEventLoop::ServeLookUps() {
  std::vector<std::pair<std::uint64_t, TLookupResult>> answers;
  {
    std::lock_guard lock(shared_->mutex);
    answers.swap(shared_->answers);
  }
  int served = 0;
  for (auto& [id, result] : answers) {
    auto it = lookUps_.find(id);
    if (it == lookUps_.end()) continue;  // cancelled: the requester is gone
    auto done = std::move(it->second);
    lookUps_.erase(it);
    done(std::move(result));
    ++served;
  }
  return served;
}

int TEventLoop::ServeTimers() {
  if (timers_.empty()) return 0;
  const auto now = std::chrono::steady_clock::now();
  const TTimerId firstNew = nextId_;  // timers started by a handler wait for the next turn
  int served = 0;
  while (!timers_.empty()) {
    auto it = timers_.begin();
    if (it->first.first > now || it->first.second >= firstNew) break;
    auto node = timers_.extract(it);
    timerDeadlines_.erase(node.key().second);
    node.mapped()();
    ++served;
  }
  return served;
}

bool TEventLoop::RunOnce(std::chrono::steady_clock::duration timeout) {
  struct TDepth {
    explicit TDepth(TEventLoop& l) : loop(l) { ++loop.depth_; }
    ~TDepth() {
      if (--loop.depth_ == 0 && loop.hasDead_) loop.Compact();
    }
    TEventLoop& loop;
  } depth(*this);

  if (pollfdsStale_) {
    pollfds_.resize(watches_.size() + 1);
    pollfds_[0] = pollfd{shared_->fd, POLLIN, 0};
    for (std::size_t i = 0; i < watches_.size(); ++i) {
      const TWatch& w = *watches_[i];
      const bool active = !w.Dead && w.Events != 0;
      pollfds_[i + 1] = pollfd{active ? w.Fd : -1, active ? w.Events : short(0), 0};
    }
    pollfdsStale_ = false;
  }

  bool limited = timeout >= std::chrono::steady_clock::duration::zero();
  auto wait = timeout;
  if (!timers_.empty()) {
    auto untilTimer = timers_.begin()->first.first - std::chrono::steady_clock::now();
    if (untilTimer < std::chrono::steady_clock::duration::zero()) untilTimer = {};
    if (!limited || untilTimer < wait) wait = untilTimer;
    limited = true;
  }
  timespec ts{};
  if (limited) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
  }
  const int n = ::ppoll(pollfds_.data(), pollfds_.size(), limited ? &ts : nullptr, nullptr);

  // Copy what is ready before serving: a handler may change the watches or run a nested turn.
  struct TReady {
    TWatchId id;
    short revents;
  };
  TReady inline_[8];
  std::vector<TReady> overflow;
  std::size_t readyCount = 0;
  bool woken = false;
  if (n > 0) {
    woken = (pollfds_[0].revents & POLLIN) != 0;
    for (std::size_t i = 1; i < pollfds_.size(); ++i) {
      if (!pollfds_[i].revents || pollfds_[i].fd < 0) continue;
      const TReady r{watches_[i - 1]->Id, pollfds_[i].revents};
      if (readyCount < std::size(inline_))
        inline_[readyCount] = r;
      else
        overflow.push_back(r);
      ++readyCount;
    }
  }
  if (woken) shared_->Drain();

  int served = 0;
  for (std::size_t i = 0; i < readyCount; ++i) {
    const TReady& r = i < std::size(inline_) ? inline_[i] : overflow[i - std::size(inline_)];
    TWatch* w = FindWatch(r.id);
    if (!w) continue;
    w->Handler(r.revents);
    ++served;
  }
  if (woken) served += ServeLookUps();
  served += ServeTimers();
  return served > 0 || woken;
}

}  // namespace nsk
