// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Builds job-file bytes field by field, independently of the engine's writer, so that the
// reader is checked against the layout itself.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace nsk::test {

class TFileBytes {
 public:
  TFileBytes& Byte(unsigned v) {
    s_.push_back(static_cast<char>(v & 0xFF));
    return *this;
  }
  TFileBytes& Int(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return Byte(u).Byte(u >> 8).Byte(u >> 16).Byte(u >> 24);
  }
  TFileBytes& Date(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i) Byte(static_cast<unsigned>(u >> (8 * i)));
    return *this;
  }
  // A 255-byte string field holding exactly these bytes, the filler set to fill.
  TFileBytes& Text(std::string_view bytes, char fill = '\x5A') {
    Byte(static_cast<unsigned>(bytes.size()));
    s_.append(bytes);
    s_.append(254 - bytes.size(), fill);
    return *this;
  }
  TFileBytes& Raw(std::string_view bytes) {
    s_.append(bytes);
    return *this;
  }
  TFileBytes& Header(unsigned marker = 1) { return Byte(marker).Byte(1).Byte(1).Byte(0).Byte(0); }

  const std::string& Str() const { return s_; }
  std::size_t Size() const { return s_.size(); }

 private:
  std::string s_;
};

// A job record's fields in file order.
struct TJobFields {
  unsigned AlwaysRetry = 0;
  std::int32_t StartCount = 0;
  unsigned AutoSkimblers = 0;
  std::string Category, Comment;
  double FileDate = -1;
  std::string Name;
  std::int32_t FileSize = 0, MaxErrors = 10, SkimblerCount = 3;
  unsigned Priority = 3, ResumeState = 0, RetryDelay = 5;
  std::string FileName;
  double BeginTime = -1, EndTime = -1;
};

inline void AppendJob(TFileBytes& b, const TJobFields& f) {
  b.Byte(f.AlwaysRetry).Int(f.StartCount).Byte(f.AutoSkimblers).Text(f.Category).Text(f.Comment);
  b.Date(f.FileDate).Text(f.Name).Int(f.FileSize).Int(f.MaxErrors).Int(f.SkimblerCount);
  b.Byte(f.Priority).Byte(f.ResumeState).Byte(f.RetryDelay).Text(f.FileName);
  b.Date(f.BeginTime).Date(f.EndTime);
}

struct TURLFields {
  std::string URL;
  unsigned Auth = 0;
  std::string User, Password, Referer, UserAgent;
  std::int32_t ConnectTimeout = 60, DataTimeout = 60;
  unsigned ResumeState = 0;
  std::string Proxy = std::string(1039, '\0');
};

// A 1039-byte proxy block with the strings at their fixed offsets.
inline std::string ProxyBlock(std::string_view title, std::string_view address,
                              std::string_view port, unsigned type, unsigned noCache,
                              unsigned pasv, unsigned auth, std::string_view user,
                              std::string_view password) {
  std::string p(1039, '\0');
  const auto put = [&](std::size_t at, std::string_view s) {
    p[at] = static_cast<char>(s.size());
    p.replace(at + 1, s.size(), s);
  };
  put(0, title);
  put(256, address);
  put(512, port);
  p[523] = static_cast<char>(type);
  p[524] = static_cast<char>(noCache);
  p[525] = static_cast<char>(pasv);
  p[526] = static_cast<char>(auth);
  put(527, user);
  put(783, password);
  return p;
}

inline void AppendURL(TFileBytes& b, const TURLFields& u) {
  b.Text(u.URL).Byte(u.Auth).Text(u.User).Text(u.Password).Text(u.Referer).Text(u.UserAgent);
  b.Int(u.ConnectTimeout).Int(u.DataTimeout).Byte(u.ResumeState).Raw(u.Proxy);
}

}  // namespace nsk::test
