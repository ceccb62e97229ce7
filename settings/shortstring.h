// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/utf8.h"

namespace nsk {

// A length byte followed by room for N bytes, N + 1 bytes in all: the fixed string of the
// records that job files hold raw. Assigning a longer text keeps its longest prefix that
// fits without splitting a UTF-8 character.
template <std::size_t N>
struct TShortString {
  static_assert(N <= 255);
  std::uint8_t Length = 0;
  char Text[N] = {};

  TShortString() = default;
  TShortString(std::string_view s) { Assign(s); }  // NOLINT: converting by design
  TShortString& operator=(std::string_view s) {
    Assign(s);
    return *this;
  }

  void Assign(std::string_view s) {
    const std::string_view cut = Utf8Prefix(s, N);
    Length = static_cast<std::uint8_t>(cut.size());
    std::memset(Text, 0, N);
    std::memcpy(Text, cut.data(), cut.size());
  }
  // A raw length byte beyond N (a damaged record) reads as N bytes.
  std::string_view View() const { return {Text, Length <= N ? Length : N}; }
  std::string Str() const { return std::string(View()); }
  bool Empty() const { return Length == 0; }

  friend bool operator==(const TShortString& a, const TShortString& b) {
    return a.View() == b.View();
  }
};

}  // namespace nsk
