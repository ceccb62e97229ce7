// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>
#include <thread>

#include "platform/eventloop.h"
#include "platform/threadqueue.h"

namespace nsk {

// A thread with its own event loop and message queue, as every engine thread has. Start
// returns once the queue exists, so the thread can be posted to and woken at once.
class TQueueThread final {
 public:
  using TBody = std::function<void(TThreadQueue& queue, TEventLoop& loop)>;

  TQueueThread() = default;
  ~TQueueThread() { Join(); }
  TQueueThread(const TQueueThread&) = delete;
  TQueueThread& operator=(const TQueueThread&) = delete;

  void Start(TBody body);
  // Joins unless called from the thread itself.
  void Join();

  TThreadId Id() const { return id_; }
  // Wakes the thread's loop; safe from any thread, also after the thread has ended.
  void Wake() const { waker_.Wake(); }

 private:
  TThreadId id_ = 0;
  TLoopWaker waker_;
  std::thread thread_;
};

}  // namespace nsk
