// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/crypt.h"

namespace nsk {
namespace {

constexpr std::uint32_t kMultiplier = 43186;
constexpr std::uint32_t kIncrement = 13877;

// The key after one scrambled byte; both directions advance it with the scrambled byte.
std::uint16_t NextKey(std::uint16_t key, unsigned char scrambled) {
  const std::uint32_t sum = static_cast<std::uint32_t>(key) + scrambled;
  return static_cast<std::uint16_t>(sum * kMultiplier + kIncrement);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string ScrambleText(std::string_view input, std::uint16_t start) {
  std::string out;
  out.reserve(input.size());
  std::uint16_t key = start;
  for (const char c : input) {
    const auto scrambled = static_cast<unsigned char>(static_cast<unsigned char>(c) ^ (key >> 8));
    out += static_cast<char>(scrambled);
    key = NextKey(key, scrambled);
  }
  return out;
}

std::string UnscrambleText(std::string_view input, std::uint16_t start) {
  std::string out;
  out.reserve(input.size());
  std::uint16_t key = start;
  for (const char c : input) {
    const auto scrambled = static_cast<unsigned char>(c);
    out += static_cast<char>(scrambled ^ (key >> 8));
    key = NextKey(key, scrambled);
  }
  return out;
}

std::string HexEncode(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::string HexDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const int hi = HexValue(text[i]);
    const int lo = HexValue(text[i + 1]);
    if (hi >= 0 && lo >= 0) out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

std::string EncodePassword(std::string_view password) {
  return std::string(kPasswordMarker) + HexEncode(ScrambleText(password, kPasswordKey));
}

std::string DecodePassword(std::string_view stored) {
  if (stored.substr(0, kPasswordMarker.size()) != kPasswordMarker) return std::string(stored);
  return UnscrambleText(HexDecode(stored.substr(kPasswordMarker.size())), kPasswordKey);
}

}  // namespace nsk
