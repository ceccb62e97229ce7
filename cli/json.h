// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nsk::cli {

// A JSON string literal (with quotes) for UTF-8 text; control characters are escaped and
// bytes that are not UTF-8 become U+FFFD, so the document stays valid.
std::string JsonString(std::string_view text);

// Builds one JSON document; the caller brackets values with Begin/End calls.
class TJsonWriter final {
 public:
  explicit TJsonWriter(int indent = 2) : indent_(indent) {}

  TJsonWriter& BeginObject();
  TJsonWriter& EndObject();
  TJsonWriter& BeginArray();
  TJsonWriter& EndArray();
  TJsonWriter& Key(std::string_view name);
  TJsonWriter& String(std::string_view value);
  TJsonWriter& Number(std::int64_t value);
  TJsonWriter& Real(double value);
  TJsonWriter& Bool(bool value);
  TJsonWriter& Null();

  const std::string& Text() const { return out_; }

 private:
  void BeforeValue();
  void Close(char bracket);
  void NewLine();

  std::string out_;
  int indent_;
  int depth_ = 0;
  bool first_ = true;      // no member written yet at this depth
  bool afterKey_ = false;  // a key was written, its value comes next
};

}  // namespace nsk::cli
