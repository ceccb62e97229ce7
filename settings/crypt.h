// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nsk {

// Stored passwords are not kept as readable text: each byte is XORed with the high byte of
// a 16-bit key that is advanced with every scrambled byte, and the result is written as
// hexadecimal digits behind a four-character marker. Passwords are byte strings.

inline constexpr std::uint16_t kPasswordKey = 9306;
inline constexpr std::string_view kPasswordMarker = "*%g#";

std::string ScrambleText(std::string_view input, std::uint16_t start);
std::string UnscrambleText(std::string_view input, std::uint16_t start);

// Two upper-case digits per byte, high nibble first.
std::string HexEncode(std::string_view bytes);
// One byte per pair of hexadecimal digits (either case), pairs counted from the start; a pair
// that is not two digits gives nothing, an odd last character is ignored.
std::string HexDecode(std::string_view text);

// "*%g#" + HexEncode(ScrambleText(password, 9306)).
std::string EncodePassword(std::string_view password);
// The password behind a stored text; a text without the marker is a plain-text password.
std::string DecodePassword(std::string_view stored);

}  // namespace nsk
