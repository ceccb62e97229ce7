// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nsk {

bool IsValidUtf8(std::string_view text);

// The longest prefix of at most maxBytes bytes that does not end inside a UTF-8 character.
// Text that is not valid UTF-8 is cut at the byte limit.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes);

// GBK (code page 936) to UTF-8; bytes that are not GBK become U+FFFD.
std::string GbkToUtf8(std::string_view text);

// A string read from a job or settings file: kept when it is UTF-8, otherwise it was written
// on Windows in the Chinese code page and is converted from GBK.
std::string TextFromFile(std::string_view raw);

// ASCII upper case; other bytes unchanged (used for URL comparisons).
std::string UpperAscii(std::string_view text);

}  // namespace nsk
