// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/net/peerserver.h"

namespace nsk::test {

// tinyproxy as a forward HTTP proxy on a free 127.0.0.1 port: clients from 127.0.0.1 only, no
// upstream proxy, every request logged (LogLevel Info) in its folder.
class TTinyproxy final : public TPeerServer {
 public:
  TTinyproxy();
  ~TTinyproxy() override;

  std::uint16_t Port() const { return port_; }
  std::string LogFile() const { return File("tinyproxy.log"); }
  // The request lines ("GET http://... HTTP/1.1") tinyproxy logged as received from clients.
  std::vector<std::string> RequestLines() const;

 protected:
  void ChoosePorts() override;
  void WriteConfig() override;
  std::vector<std::string> Command() const override;
  std::vector<std::uint16_t> ReadyPorts() const override;
  std::vector<std::string> LogFiles() const override;

 private:
  std::uint16_t port_ = 0;
};

}  // namespace nsk::test
