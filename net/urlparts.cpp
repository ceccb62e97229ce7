// SPDX-License-Identifier: GPL-2.0-or-later
#include "net/urlparts.h"

#include <limits>

#include "engine/textutil.h"
#include "net/wynhttp.h"
#include "net/wynsock.h"
#include "platform/utf8.h"

namespace nsk {

std::int32_t StrToInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool ok = i < text.size();
  std::int64_t value = 0;
  for (; ok && i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') ok = false;
    else value = value * 10 + (text[i] - '0');
    if (value > std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1) ok = false;
  }
  if (negative) value = -value;
  if (!ok || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return static_cast<std::int32_t>(value);
}

void ParseURL(std::string& url, std::string& host, std::int32_t& port, std::string& path,
              std::int32_t defaultPort) {
  if (port == 0) port = defaultPort;
  const bool hasSlashes = url.find("//") != std::string::npos;
  path.clear();
  if (hasSlashes) {
    const auto third = static_cast<std::size_t>(NthPos(url, '/', 3));
    if (third <= url.size()) path = Utf8Prefix(std::string_view(url).substr(third - 1), kMaxUrlPath);
  } else if (const auto slash = url.find('/'); slash != std::string::npos) {
    path = Utf8Prefix(std::string_view(url).substr(slash), kMaxUrlPath);
  }
  std::string hostPart;
  if (hasSlashes)
    hostPart = ExtractField(url, '/', 3);
  else if (!url.empty() && url[0] != '/')
    hostPart = ExtractField(url, '/', 1);
  if (hostPart.find(':') != std::string::npos) {
    const std::string portText = ExtractField(hostPart, ':', 2);
    const std::int32_t value = StrToInt(portText);
    // A port beyond 16 bits would silently reach another port.
    if (value < 0 || value > 65535)
      throw EConvertError("'" + portText + "' is not a valid port number");
    port = value;
    hostPart = ExtractField(hostPart, ':', 1);
  }
  if (!hostPart.empty()) host = hostPart;
  if (path.empty()) {
    path = "/";
    url += "/";
  }
}

}  // namespace nsk
