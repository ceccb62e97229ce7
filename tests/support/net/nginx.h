// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/net/peerserver.h"

namespace nsk::test {

struct TNginxRedirect {
  std::string From;  // an exact path, "/old.bin"
  std::string To;    // the Location, absolute or relative
  int Code = 302;
};

// One server block.
struct TNginxSite {
  bool NoRanges = false;  // max_ranges 0: ranged requests get the whole file with 200
  std::vector<TNginxRedirect> Redirects;
  std::string Extra;  // further directives inside the server block, e.g. "limit_rate 64k;"
};

struct TNginxOptions {
  TNginxSite Site;
  // A second server on a port of its own serving the same document root (a mirror).
  std::optional<TNginxSite> Second;
  std::string ExtraHttp;  // further directives inside the http block
};

// nginx on free 127.0.0.1 ports serving a temporary document root. Files may be added while
// it runs.
class TNginx final : public TPeerServer {
 public:
  explicit TNginx(TNginxOptions options = {});
  ~TNginx() override;

  std::uint16_t Port() const { return ports_[0]; }
  std::uint16_t SecondPort() const { return ports_[1]; }
  // The folder served, with a final '/'.
  std::string DocRoot() const { return File("www/"); }
  // Writes a file below the document root (path relative to it, folders made).
  void AddFile(const std::string& path, std::string_view content) const;
  // "http://127.0.0.1:<port>/path" of the first (or second) server.
  std::string Url(const std::string& path, bool second = false) const;

 protected:
  void ChoosePorts() override;
  void WriteConfig() override;
  std::vector<std::string> Command() const override;
  std::vector<std::uint16_t> ReadyPorts() const override;
  std::vector<std::string> LogFiles() const override;

 private:
  std::string ServerBlock(const TNginxSite& site, std::uint16_t port) const;

  TNginxOptions options_;
  std::uint16_t ports_[2] = {0, 0};
};

}  // namespace nsk::test
