// SPDX-License-Identifier: GPL-2.0-or-later
#include "utf8.h"

#include <iconv.h>

#include <cerrno>

namespace nsk {
namespace {

// Length of the valid UTF-8 sequence starting at text[i], or 0 when none starts there.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = b(i);
  std::size_t len;
  unsigned min;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) { len = 2; min = 0x80; }
  else if (c >= 0xE0 && c <= 0xEF) { len = 3; min = 0x800; }
  else if (c >= 0xF0 && c <= 0xF4) { len = 4; min = 0x10000; }
  else return 0;
  if (i + len > text.size()) return 0;
  unsigned cp = c & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = SequenceLength(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  if (!IsValidUtf8(text)) return text.substr(0, maxBytes);
  std::size_t end = maxBytes;
  // Step back over continuation bytes to the start of the character that crosses the limit.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string GbkToUtf8(std::string_view text) {
  std::string out;
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  out.reserve(text.size() * 3 / 2 + 4);
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char buf[256];
  while (inLeft > 0) {
    char* o = buf;
    std::size_t oLeft = sizeof buf;
    const std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, static_cast<std::size_t>(o - buf));
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or truncated sequence: replace one byte and go on.
      out += "\xEF\xBF\xBD";
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

std::string TextFromFile(std::string_view raw) {
  return IsValidUtf8(raw) ? std::string(raw) : GbkToUtf8(raw);
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace nsk
