// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/resolver.h"

namespace nsk::test {

// A resolver whose look-ups end only when the test says so (or at once with a fixed answer),
// for slow, failing and late look-ups without any name server.
class TManualResolver final : public THostResolver {
 public:
  void Start(const std::string& host, std::function<void(TLookupResult)> done) override;

  // From now on every look-up is answered at once with result; nullopt restores manual mode.
  void AnswerAtOnce(std::optional<TLookupResult> result);
  // Ends the oldest pending look-up with result, on the calling thread. False when none waits.
  bool Complete(TLookupResult result);
  std::size_t Pending() const;
  // Waits until at least n look-ups are pending.
  bool WaitPending(std::size_t n, int timeoutMs = 5000) const;
  // Every host asked for, in order.
  std::vector<std::string> Hosts() const;

  static TLookupResult Address(const char* dotted);
  static TLookupResult Failure();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::function<void(TLookupResult)>> pending_;
  std::vector<std::string> hosts_;
  std::optional<TLookupResult> atOnce_;
};

}  // namespace nsk::test
