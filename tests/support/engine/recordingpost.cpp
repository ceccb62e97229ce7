// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/engine/recordingpost.h"

namespace nsk::test {

void TRecordingPost::Post(TWindowMessage message) {
  {
    std::lock_guard g(lock_);
    messages_.push_back(std::move(message));
  }
  signal_.Notify();
}

std::vector<TWindowMessage> TRecordingPost::Messages() const {
  std::lock_guard g(lock_);
  return messages_;
}

void TRecordingPost::Clear() {
  std::lock_guard g(lock_);
  messages_.clear();
}

}  // namespace nsk::test
