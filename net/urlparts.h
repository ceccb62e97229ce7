// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nsk {

// Longest path the protocol clients take from a URL.
inline constexpr std::size_t kMaxUrlPath = 256;

// A decimal integer written out in full (leading blanks, an optional sign, digits, within 32
// bits). Anything else raises EConvertError "'text' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// Reads a URL the way both protocol clients do:
// - port := defaultPort when it is 0 (an explicit port of an earlier URL stays in force);
// - path: from the third "/" of a URL with "//", else from its first "/", at most kMaxUrlPath
//   bytes (never half a UTF-8 character);
// - host part: field 3 (with "//") or field 1 (without, unless the URL begins with "/") cut at
//   "/"; a ":port" in it sets port (StrToInt; a value outside 0..65535 raises EConvertError
//   too, before anything is sent) and is cut off; a host part that is not empty becomes host;
// - an empty path becomes "/" and "/" is appended to url.
// Scheme, query and fragment are neither tested nor decoded.
void ParseURL(std::string& url, std::string& host, std::int32_t& port, std::string& path,
              std::int32_t defaultPort);

}  // namespace nsk
