// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/threadqueue.h"

#include <deque>
#include <mutex>
#include <unordered_map>

namespace nsk {

namespace detail {

struct TQueueState {
  explicit TQueueState(TLoopWaker w) : waker(std::move(w)) {}
  mutable std::mutex mutex;
  std::deque<TThreadMessage> messages;
  bool closed = false;
  const TLoopWaker waker;
};

}  // namespace detail

namespace {

// Queues by id, so that a post can find its target or learn that it is gone. Thread ids are
// process-wide by nature, as the threads are.
class TQueueDirectory final {
 public:
  TThreadId Add(std::shared_ptr<detail::TQueueState> state) {
    std::lock_guard lock(mutex_);
    const TThreadId id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    queues_.emplace(id, std::move(state));
    return id;
  }
  void Remove(TThreadId id) {
    std::lock_guard lock(mutex_);
    queues_.erase(id);
  }
  std::shared_ptr<detail::TQueueState> Find(TThreadId id) const {
    std::lock_guard lock(mutex_);
    auto it = queues_.find(id);
    return it == queues_.end() ? nullptr : it->second;
  }

 private:
  mutable std::mutex mutex_;
  TThreadId nextId_ = 1;
  std::unordered_map<TThreadId, std::shared_ptr<detail::TQueueState>> queues_;
};

TQueueDirectory& Directory() {
  static TQueueDirectory directory;
  return directory;
}

thread_local TThreadQueue* currentQueue = nullptr;

}  // namespace

TThreadQueue::TThreadQueue(TEventLoop& loop)
    : loop_(loop),
      state_(std::make_shared<detail::TQueueState>(loop.Waker())),
      id_(Directory().Add(state_)),
      previous_(currentQueue) {
  currentQueue = this;
}

TThreadQueue::~TThreadQueue() {
  Directory().Remove(id_);
  std::deque<TThreadMessage> undelivered;
  {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    undelivered.swap(state_->messages);
  }
  if (currentQueue == this) currentQueue = previous_;
}

bool TThreadQueue::Post(TThreadId target, TThreadMessage message) {
  auto state = Directory().Find(target);
  if (!state) return false;
  {
    std::lock_guard lock(state->mutex);
    if (state->closed) return false;
    state->messages.push_back(std::move(message));
  }
  state->waker.Wake();
  return true;
}

bool TThreadQueue::Post(TThreadId target, std::uint32_t message, std::intptr_t wParam,
                        std::intptr_t lParam, std::unique_ptr<TMessagePayload> payload) {
  return Post(target, TThreadMessage{message, wParam, lParam, std::move(payload)});
}

std::optional<TThreadMessage> TThreadQueue::Peek() {
  std::lock_guard lock(state_->mutex);
  if (state_->messages.empty()) return std::nullopt;
  TThreadMessage m = std::move(state_->messages.front());
  state_->messages.pop_front();
  return m;
}

bool TThreadQueue::Empty() const {
  std::lock_guard lock(state_->mutex);
  return state_->messages.empty();
}

bool TThreadQueue::Wait(std::chrono::steady_clock::duration timeout) {
  using Clock = std::chrono::steady_clock;
  const bool limited = timeout >= Clock::duration::zero();
  const auto deadline = limited ? Clock::now() + timeout : Clock::time_point::max();
  while (Empty()) {
    if (!limited) {
      loop_.RunOnce(TEventLoop::kNoTimeout);
      continue;
    }
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    loop_.RunOnce(left);
  }
  return true;
}

TThreadQueue* TThreadQueue::ForThisThread() { return currentQueue; }

}  // namespace nsk
