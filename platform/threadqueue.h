// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "platform/eventloop.h"

namespace nsk {

// Identifies the message queue of one engine thread; 0 is no thread. Ids are never reused.
using TThreadId = std::uint32_t;

// Base of what a message may carry besides its two numbers. The message owns it: the queue
// while the message waits, the receiver once taken; a message that is never taken frees it.
struct TMessagePayload {
  virtual ~TMessagePayload() = default;
};

template <class T>
struct TPayload final : TMessagePayload {
  explicit TPayload(T value) : Value(std::move(value)) {}
  T Value;
};

template <class T>
std::unique_ptr<TMessagePayload> MakePayload(T value) {
  return std::make_unique<TPayload<T>>(std::move(value));
}

struct TThreadMessage {
  std::uint32_t Message = 0;
  std::intptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::unique_ptr<TMessagePayload> Payload;

  // The payload when it holds a T, else null.
  template <class T>
  T* PayloadAs() const {
    auto* p = dynamic_cast<TPayload<T>*>(Payload.get());
    return p ? &p->Value : nullptr;
  }
};

namespace detail {
struct TQueueState;
}

// The message queue of the thread that creates it. Any thread may Post to it by its Id; the
// owning thread takes messages with Peek and waits for them with Wait, and the thread's event
// loop wakes as soon as a message arrives, so any wait of that loop (a socket operation, say)
// returns at once. Messages stay queued until taken; those never taken are freed with the
// queue. Once the queue is destroyed, posting to its Id fails.
class TThreadQueue final {
 public:
  explicit TThreadQueue(TEventLoop& loop = TEventLoop::ForThisThread());
  ~TThreadQueue();
  TThreadQueue(const TThreadQueue&) = delete;
  TThreadQueue& operator=(const TThreadQueue&) = delete;

  TThreadId Id() const { return id_; }

  // Never blocks. False when no queue has that id (any longer); the payload is then freed.
  static bool Post(TThreadId target, TThreadMessage message);
  static bool Post(TThreadId target, std::uint32_t message, std::intptr_t wParam = 0,
                   std::intptr_t lParam = 0, std::unique_ptr<TMessagePayload> payload = nullptr);

  // The oldest waiting message, removed from the queue; nothing when the queue is empty.
  std::optional<TThreadMessage> Peek();
  bool Empty() const;
  // Serves the thread's event loop until a message is waiting or timeout has passed
  // (TEventLoop::kNoTimeout: no limit). True when a message is waiting.
  bool Wait(std::chrono::steady_clock::duration timeout);

  // The queue made by the calling thread, or null.
  static TThreadQueue* ForThisThread();

 private:
  TEventLoop& loop_;
  std::shared_ptr<detail::TQueueState> state_;
  TThreadId id_;
  TThreadQueue* previous_;
};

}  // namespace nsk
