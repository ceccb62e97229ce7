// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/queuethread.h"

#include <future>

namespace nsk {

void TQueueThread::Start(TBody body) {
  std::promise<void> started;
  auto ready = started.get_future();
  thread_ = std::thread([this, &started, body = std::move(body)] {
    TEventLoop& loop = TEventLoop::ForThisThread();
    // The queue goes with the thread; a message that reaches it later is freed unread.
    TThreadQueue queue(loop);
    id_ = queue.Id();
    waker_ = loop.Waker();
    started.set_value();
    body(queue, loop);
  });
  ready.wait();
}

void TQueueThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace nsk
