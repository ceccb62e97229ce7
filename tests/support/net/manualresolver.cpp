// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/net/manualresolver.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <chrono>

namespace nsk::test {

void TManualResolver::Start(const std::string& host, std::function<void(TLookupResult)> done) {
  std::optional<TLookupResult> answer;
  {
    std::lock_guard lock(mutex_);
    hosts_.push_back(host);
    if (atOnce_)
      answer = atOnce_;
    else
      pending_.push_back(std::move(done));
  }
  changed_.notify_all();
  if (answer) done(*answer);
}

void TManualResolver::AnswerAtOnce(std::optional<TLookupResult> result) {
  std::lock_guard lock(mutex_);
  atOnce_ = std::move(result);
}

bool TManualResolver::Complete(TLookupResult result) {
  std::function<void(TLookupResult)> done;
  {
    std::lock_guard lock(mutex_);
    if (pending_.empty()) return false;
    done = std::move(pending_.front());
    pending_.pop_front();
  }
  done(std::move(result));
  return true;
}

std::size_t TManualResolver::Pending() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

bool TManualResolver::WaitPending(std::size_t n, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return pending_.size() >= n; });
}

std::vector<std::string> TManualResolver::Hosts() const {
  std::lock_guard lock(mutex_);
  return hosts_;
}

TLookupResult TManualResolver::Address(const char* dotted) {
  TLookupResult r;
  in_addr a{};
  ::inet_aton(dotted, &a);
  r.Addresses.push_back(a);
  return r;
}

TLookupResult TManualResolver::Failure() {
  TLookupResult r;
  r.Error = EAI_NONAME;
  return r;
}

}  // namespace nsk::test
