// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/resolver.h"

#include <netdb.h>
#include <sys/socket.h>

#include <thread>

namespace nsk {
namespace {

bool InInvalidDomain(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  constexpr std::string_view kTld = "invalid";
  if (name == kTld) return true;
  return name.size() > kTld.size() && name.ends_with(kTld) &&
         name[name.size() - kTld.size() - 1] == '.';
}

class TThreadResolver final : public THostResolver {
 public:
  void Start(const std::string& host, std::function<void(TLookupResult)> done) override {
    // Detached: a slow name server must hold up neither the requester nor its thread's end.
    std::thread([host, done = std::move(done)] { done(LookUpHostNow(host)); }).detach();
  }
};

}  // namespace

TLookupResult LookUpHostNow(const std::string& host) {
  TLookupResult result;
  if (host.empty() || InInvalidDomain(host)) {
    result.Error = EAI_NONAME;
    return result;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  result.Error = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (result.Error != 0) return result;
  for (const addrinfo* ai = list; ai; ai = ai->ai_next)
    if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in))
      result.Addresses.push_back(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr);
  ::freeaddrinfo(list);
  if (result.Addresses.empty()) result.Error = EAI_NODATA;
  return result;
}

std::shared_ptr<THostResolver> SystemResolver() {
  static const std::shared_ptr<THostResolver> resolver = std::make_shared<TThreadResolver>();
  return resolver;
}

}  // namespace nsk
