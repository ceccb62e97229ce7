// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace nsk::test {

// Bytes that differ from position to position and from file to file, so that a byte stored
// at a wrong offset shows.
inline std::string PatternBytes(std::size_t n, std::uint32_t seed = 1) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (std::size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x);
  }
  return s;
}

}  // namespace nsk::test
