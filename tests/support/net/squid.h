// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/net/peerserver.h"

namespace nsk::test {

// squid as a forward HTTP proxy on a free 127.0.0.1 port, which also fetches ftp:// URLs for
// its clients. Nothing is cached (every request reaches the origin), clients from localhost
// only, destinations on 127.0.0.1 allowed (the test origins live there), no name server but
// 127.0.0.1, no pinger, no cache digests fetched from peers. As root it runs its workers as
// the "proxy" user (squid refuses to run as root), who is then given its folder.
class TSquid final : public TPeerServer {
 public:
  explicit TSquid(std::string extraConfig = {});
  ~TSquid() override;

  std::uint16_t Port() const { return port_; }
  std::string AccessLog() const { return File("access.log"); }
  // The requests of the access log: "METHOD URL" per line, in order.
  std::vector<std::string> Requests() const;

 protected:
  void ChoosePorts() override;
  void WriteConfig() override;
  std::vector<std::string> Command() const override;
  std::vector<std::uint16_t> ReadyPorts() const override;
  bool Ready() const override;
  std::vector<std::string> LogFiles() const override;
  std::chrono::milliseconds StartTimeout() const override;

 private:
  // squid names its shared memory segments after the service name: one per instance, so
  // that parallel tests do not collide.
  std::string ServiceName() const;
  void RemoveSharedMemory() const;

  std::string extra_;
  std::uint16_t port_ = 0;
};

}  // namespace nsk::test
