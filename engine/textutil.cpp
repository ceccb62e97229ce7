// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/textutil.h"

#include <algorithm>

#include "platform/fileops.h"
#include "platform/utf8.h"

namespace nsk {
namespace {

constexpr std::size_t kMaxWord = 10;
constexpr std::size_t kMaxName = 250;

bool StartsWithUpper(std::string_view upper, std::string_view prefix) {
  return upper.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = std::min(text.find(' ', start), text.size());
    if (end > start)
      words.emplace_back(Utf8Prefix(text.substr(start, end - start), kMaxWord));
    start = end + 1;
  }
  return words;
}

std::string LastCharPos(std::string_view text, char ch) {
  const auto p = text.rfind(ch);
  if (p == std::string_view::npos) return {};
  return std::string(Utf8Prefix(text.substr(p + 1), kMaxName));
}

std::string FileNameFromURL(std::string_view url) {
  const std::string upper = UpperAscii(url.substr(0, 7));
  std::string_view rest;
  if (StartsWithUpper(upper, "HTTP://"))
    rest = url.substr(7);
  else if (StartsWithUpper(upper, "FTP://"))
    rest = url.substr(6);
  else
    return {};
  if (rest.empty() || rest.front() == '/') return {};
  return LastCharPos(rest, '/');
}

std::string ExtractField(std::string_view text, char sep, int n) {
  if (text.empty() || n < 1) return {};
  std::size_t start = 0;
  for (int field = 1;; ++field) {
    const auto end = text.find(sep, start);
    if (field == n)
      return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
}

std::string UniqueFileName(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = path.rfind('.');
  const std::size_t cut = dot == std::string::npos || dot < nameStart ? path.size() : dot;
  const std::string head = path.substr(0, cut), tail = path.substr(cut);
  for (unsigned long n = 1;; ++n) {
    std::string candidate = head + "(" + std::to_string(n) + ")" + tail;
    if (!PathExists(candidate) && !PathExists(candidate + ".wyn")) return candidate;
  }
}

}  // namespace nsk
