// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <mutex>
#include <vector>

#include "engine/windowpost.h"

namespace nsk::test {

// A TWindowPost that keeps every posted message in order. Safe to call from several threads.
class TRecordingPost final : public TWindowPost {
 public:
  void Post(TWindowMessage message) override;
  std::vector<TWindowMessage> Messages() const;
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<TWindowMessage> messages_;
};

}  // namespace nsk::test
