// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <netinet/in.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nsk {

// Outcome of a host-name look-up: Error is 0 or an EAI_* code of getaddrinfo; Addresses holds
// the IPv4 addresses in the resolver's order (empty on failure).
struct TLookupResult {
  int Error = 0;
  std::vector<in_addr> Addresses;
};

// Resolves host names. Start may be called from any thread and must not block; done is called
// exactly once, from any thread, possibly long after the requester has gone away.
class THostResolver {
 public:
  virtual ~THostResolver() = default;
  virtual void Start(const std::string& host, std::function<void(TLookupResult)> done) = 0;
};

// The system resolver: getaddrinfo (IPv4) on a detached thread per look-up.
std::shared_ptr<THostResolver> SystemResolver();

// A blocking IPv4 look-up through getaddrinfo. Names in the reserved "invalid" domain fail at
// once with EAI_NONAME, without asking any name server.
TLookupResult LookUpHostNow(const std::string& host);

}  // namespace nsk
