// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace nsk {

// The standard Base64 encoding (RFC 2045 alphabet, "=" fill) of bytes, as one unbroken line.
std::string Base64Encode(std::string_view bytes);

}  // namespace nsk
