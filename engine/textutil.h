// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace nsk {

// The blank-separated words of text, each cut to its first 10 characters.
std::vector<std::string> SplitWords(std::string_view text);

// What follows the last ch in text, at most 250 bytes (never half a UTF-8 character);
// empty when ch does not occur.
std::string LastCharPos(std::string_view text, char ch);

// The file-name part of an http:// or ftp:// URL; empty when the text is not a URL that
// the program downloads.
std::string FileNameFromURL(std::string_view url);

// Field n (1-based) of text cut at sep; empty when there are fewer fields.
std::string ExtractField(std::string_view text, char sep, int n);

// The first free numbered variant of path: "(N)" goes in front of the file name's extension;
// a candidate is free when neither it nor its partial file (candidate + ".wyn") exists.
std::string UniqueFileName(const std::string& path);

}  // namespace nsk
