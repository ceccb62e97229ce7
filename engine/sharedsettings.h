// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <mutex>
#include <utility>

#include "settings/registryinfo.h"

namespace nsk {

// The settings as the engine threads read them while a front end may replace them. A
// published TRegistryInfo is never changed again: readers take the current pointer and read
// that copy for as long as they like; a writer publishes a whole new copy. The mutex is a leaf
// and guards only the pointer.
class TSharedSettings final {
 public:
  TSharedSettings() : current_(std::make_shared<const TRegistryInfo>()) {}
  explicit TSharedSettings(TRegistryInfo initial)
      : current_(std::make_shared<const TRegistryInfo>(std::move(initial))) {}
  TSharedSettings(const TSharedSettings&) = delete;
  TSharedSettings& operator=(const TSharedSettings&) = delete;

  std::shared_ptr<const TRegistryInfo> Get() const {
    std::lock_guard g(lock_);
    return current_;
  }

  void Replace(TRegistryInfo next) {
    auto p = std::make_shared<const TRegistryInfo>(std::move(next));
    std::lock_guard g(lock_);
    current_ = std::move(p);
  }

  // Copies the current settings, lets change edit the copy and publishes it. Writers that
  // may race each other must agree among themselves; the engine only reads.
  template <class F>
  void Update(F&& change) {
    TRegistryInfo next = *Get();
    change(next);
    Replace(std::move(next));
  }

 private:
  mutable std::mutex lock_;
  std::shared_ptr<const TRegistryInfo> current_;
};

}  // namespace nsk
