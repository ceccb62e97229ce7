// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/net/peerserver.h"

namespace nsk::test {

struct TVsftpdOptions {
  // Besides anonymous logins, a login of the user TVsftpd::kUser with TVsftpd::kPassword.
  // vsftpd serves such logins only when started as root (see vsftpd.cpp); otherwise the
  // launcher raises with the reason.
  bool UserLogin = false;
  // Further lines of the configuration file.
  std::vector<std::string> Extra;
};

// vsftpd on a free 127.0.0.1 port, in the foreground, with its configuration, files and logs
// in a temporary folder: anonymous logins (any password, asked for with 331) read a
// temporary root; passive mode on free ports announcing 127.0.0.1, active mode with
// connections from any port; REST and SIZE work (SIZE after TYPE I). Files may be added
// while it runs.
class TVsftpd final : public TPeerServer {
 public:
  static constexpr const char* kUser = "nsktest";
  static constexpr const char* kPassword = "nsk-ftp-secret";
  // The PAM service of the user login, made in /etc/pam.d when missing (as root only).
  static constexpr const char* kPamService = "netskimbler-test-ftp";

  explicit TVsftpd(TVsftpdOptions options = {});
  ~TVsftpd() override;

  std::uint16_t Port() const { return port_; }
  std::uint16_t PasvMinPort() const { return pasvMin_; }
  std::uint16_t PasvMaxPort() const { return pasvMax_; }
  // The folders the anonymous and the user login see as their root, with a final '/'.
  std::string AnonRoot() const { return File("anon/"); }
  std::string UserRoot() const { return File("user/"); }
  // Writes a file (path relative to the login's root, folders made), readable by the server.
  void AddFile(const std::string& path, std::string_view content, bool user = false) const;
  // The path a client asks for. Run as root, vsftpd shows each login its root as "/"; run as
  // anybody else it cannot, and the path is the file's full path.
  std::string Path(const std::string& path, bool user = false) const;
  // "ftp://127.0.0.1:<port>" + Path(path, user).
  std::string Url(const std::string& path, bool user = false) const;
  // vsftpd's own log, with every command and response.
  std::string LogFile() const { return File("vsftpd.log"); }

 protected:
  void ChoosePorts() override;
  void WriteConfig() override;
  std::vector<std::string> Command() const override;
  std::vector<std::uint16_t> ReadyPorts() const override;
  std::vector<std::string> LogFiles() const override;

 private:
  static void EnsurePamService();

  TVsftpdOptions options_;
  std::uint16_t port_ = 0;
  std::uint16_t pasvMin_ = 0;
  std::uint16_t pasvMax_ = 0;
};

}  // namespace nsk::test
