// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/json.h"

#include <cmath>
#include <cstdio>

#include "platform/utf8.h"

namespace nsk::cli {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // Copy a whole valid UTF-8 sequence, or replace one stray byte.
      std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      if (n > 1 && i + n <= text.size() && IsValidUtf8(text.substr(i, n))) {
        out.append(text.substr(i, n));
        i += n;
      } else {
        out += "\xEF\xBF\xBD";
        ++i;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

void TJsonWriter::NewLine() {
  if (indent_ <= 0) return;
  out_ += '\n';
  out_.append(static_cast<std::size_t>(depth_ * indent_), ' ');
}

void TJsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (depth_ > 0) {
    if (!first_) out_ += ',';
    NewLine();
  }
  first_ = false;
}

TJsonWriter& TJsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  ++depth_;
  first_ = true;
  return *this;
}

TJsonWriter& TJsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  ++depth_;
  first_ = true;
  return *this;
}

void TJsonWriter::Close(char bracket) {
  --depth_;
  if (!first_) NewLine();
  out_ += bracket;
  first_ = false;
  if (depth_ == 0 && indent_ > 0) out_ += '\n';
}

TJsonWriter& TJsonWriter::EndObject() {
  Close('}');
  return *this;
}

TJsonWriter& TJsonWriter::EndArray() {
  Close(']');
  return *this;
}

TJsonWriter& TJsonWriter::Key(std::string_view name) {
  BeforeValue();
  out_ += JsonString(name);
  out_ += indent_ > 0 ? ": " : ":";
  afterKey_ = true;
  return *this;
}

TJsonWriter& TJsonWriter::String(std::string_view value) {
  BeforeValue();
  out_ += JsonString(value);
  return *this;
}

TJsonWriter& TJsonWriter::Number(std::int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
  return *this;
}

TJsonWriter& TJsonWriter::Real(double value) {
  BeforeValue();
  if (!std::isfinite(value)) {
    out_ += "null";
    return *this;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", value);
  out_ += buf;
  return *this;
}

TJsonWriter& TJsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
  return *this;
}

TJsonWriter& TJsonWriter::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

}  // namespace nsk::cli
