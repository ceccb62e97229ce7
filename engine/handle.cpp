// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/handle.h"

#include <atomic>

namespace nsk {

std::uint64_t NewHandleId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace nsk
