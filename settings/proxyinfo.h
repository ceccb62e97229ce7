// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "settings/shortstring.h"

namespace nsk {

enum class TProxyType : std::uint8_t {
  Direct = 0,          // "Direct Connection"
  Http = 1,            // "HTTP"
  FtpUserAtHostPort = 2,  // "FTP <User user@host:port>"
  FtpUserAtHostSpace = 3, // "FTP <User user@host port>"
  FtpOpen = 4,         // "FTP <Open host>"
  FtpSite = 5,         // "FTP <Site host>"
  FtpSiteUserAtHost = 6,  // "FTP <Site user@host>"
};

// One proxy definition. The layout is fixed at 1039 bytes because job files store the record
// raw: Title 0, Address 256, Port 512, ProxyType 523, NoCache 524, PASV 525, Authenticate 526,
// ProxyUser 527, ProxyPassword 783.
struct TProxyInfo {
  TShortString<255> Title;
  TShortString<255> Address;
  TShortString<10> Port;
  TProxyType ProxyType = TProxyType::Direct;
  std::uint8_t NoCache = 0;
  std::uint8_t PASV = 0;
  std::uint8_t Authenticate = 0;
  TShortString<255> ProxyUser;
  TShortString<255> ProxyPassword;

  friend bool operator==(const TProxyInfo&, const TProxyInfo&) = default;
};

static_assert(sizeof(TProxyInfo) == 1039);
static_assert(std::is_trivially_copyable_v<TProxyInfo>);
static_assert(offsetof(TProxyInfo, Port) == 512);
static_assert(offsetof(TProxyInfo, ProxyType) == 523);
static_assert(offsetof(TProxyInfo, ProxyUser) == 527);
static_assert(offsetof(TProxyInfo, ProxyPassword) == 783);

}  // namespace nsk
