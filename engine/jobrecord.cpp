// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/jobrecord.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "platform/utf8.h"

namespace nsk {
namespace {

constexpr std::int32_t kMaxSkimblers = 20;
constexpr std::uint8_t kMaxPriority = 5;
constexpr std::int32_t kMaxTimeoutSeconds = 2147483;

// Dates outside the years 1..9999 (or no number at all) cannot be shown: read as not set.
TDateTime SaneDate(double v) {
  return std::isfinite(v) && v >= -693593.0 && v < 2958466.0 ? v : kNoDate;
}

TResumeState SaneResumeState(std::uint8_t v) {
  return v <= 2 ? static_cast<TResumeState>(v) : TResumeState::rsUnknown;
}

}  // namespace

void TRecordWriter::I32(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(u >> (8 * i)));
}

void TRecordWriter::F64(double v) {
  const auto u = std::bit_cast<std::uint64_t>(v);
  for (int i = 0; i < 8; ++i) U8(static_cast<std::uint8_t>(u >> (8 * i)));
}

void TRecordWriter::Str(std::string_view text) {
  const std::string_view cut = Utf8Prefix(text, kMaxStringBytes);
  U8(static_cast<std::uint8_t>(cut.size()));
  out_.append(cut);
  out_.append(kStringFieldSize - 1 - cut.size(), '\0');
}

std::string_view TRecordReader::Take(std::size_t n) {
  if (n > Remaining()) throw TBadRecord();
  const std::string_view s = in_.substr(pos_, n);
  pos_ += n;
  return s;
}

std::uint8_t TRecordReader::U8() { return static_cast<std::uint8_t>(Take(1)[0]); }

std::int32_t TRecordReader::I32() {
  const std::string_view b = Take(4);
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<std::uint8_t>(b[static_cast<std::size_t>(i)]);
  return static_cast<std::int32_t>(u);
}

double TRecordReader::F64() {
  const std::string_view b = Take(8);
  std::uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | static_cast<std::uint8_t>(b[static_cast<std::size_t>(i)]);
  return std::bit_cast<double>(u);
}

std::string TRecordReader::Str() {
  const std::string_view field = Take(kStringFieldSize);
  // A length byte of 255 cannot be right (the field holds 254 bytes of text): read 254.
  const std::size_t len = std::min<std::size_t>(static_cast<std::uint8_t>(field[0]), kMaxStringBytes);
  return TextFromFile(field.substr(1, len));
}

void TRecordReader::Raw(void* out, std::size_t n) {
  const std::string_view b = Take(n);
  std::memcpy(out, b.data(), n);
}

void TRecordReader::Skip(std::size_t n) { Take(n); }

TJobRecord JobRecordOf(const TJob& j) {
  TJobRecord r;
  r.AlwaysRetry = j.AlwaysRetry;
  r.StartCount = j.StartCount;
  r.AutoSkimblers = j.AutoSkimblers;
  r.Category = j.Category;
  r.Comment = j.Comment;
  r.FileDate = j.FileDate;
  r.Name = j.Name;
  r.FileSize = j.FileSize;
  r.MaxErrors = j.MaxErrors;
  r.SkimblerCount = j.SkimblerCount;
  r.Priority = j.Priority;
  r.ResumeState = j.ResumeState;
  r.RetryDelay = j.RetryDelay;
  r.FileName = j.FileName;
  r.BeginTime = j.BeginTime;
  r.EndTime = j.EndTime;
  return r;
}

void ApplyJobRecord(const TJobRecord& r, TJob& j) {
  j.AlwaysRetry = r.AlwaysRetry;
  j.StartCount = r.StartCount;
  j.AutoSkimblers = r.AutoSkimblers;
  j.Category = r.Category;
  j.Comment = r.Comment;
  j.FileDate = r.FileDate;
  j.Name = r.Name;
  j.FileSize = r.FileSize;
  j.MaxErrors = r.MaxErrors;
  j.SkimblerCount = r.SkimblerCount;
  j.Priority = r.Priority;
  j.ResumeState = r.ResumeState;
  j.RetryDelay = r.RetryDelay;
  j.FileName = r.FileName;
  j.BeginTime = r.BeginTime;
  j.EndTime = r.EndTime;
}

void WriteHeader(TRecordWriter& w) {
  w.U8(0);
  w.Raw(kFormatBytes, sizeof kFormatBytes);
}

bool ReadHeader(TRecordReader& r) {
  if (r.U8() != 1) return false;
  char format[4];
  r.Raw(format, sizeof format);
  return std::memcmp(format, kFormatBytes, sizeof format) == 0;
}

void WriteJobRecord(TRecordWriter& w, const TJobRecord& j) {
  w.U8(j.AlwaysRetry ? 1 : 0);
  w.I32(j.StartCount);
  w.U8(j.AutoSkimblers ? 1 : 0);
  w.Str(j.Category);
  w.Str(j.Comment);
  w.F64(j.FileDate);
  w.Str(j.Name);
  w.I32(j.FileSize);
  w.I32(j.MaxErrors);
  w.I32(j.SkimblerCount);
  w.U8(j.Priority);
  w.U8(static_cast<std::uint8_t>(j.ResumeState));
  w.U8(j.RetryDelay);
  w.Str(j.FileName);
  w.F64(j.BeginTime);
  w.F64(j.EndTime);
}

TJobRecord ReadJobRecord(TRecordReader& r) {
  TJobRecord j;
  j.AlwaysRetry = r.U8() != 0;
  j.StartCount = std::max(0, r.I32());
  j.AutoSkimblers = r.U8() != 0;
  j.Category = r.Str();
  j.Comment = r.Str();
  j.FileDate = SaneDate(r.F64());
  j.Name = r.Str();
  // A damaged record must not make the engine allocate for a negative size, start
  // thousands of connections or index past the priority menu.
  j.FileSize = std::max(0, r.I32());
  j.MaxErrors = r.I32();
  j.SkimblerCount = std::clamp(r.I32(), 1, kMaxSkimblers);
  j.Priority = std::min(r.U8(), kMaxPriority);
  j.ResumeState = SaneResumeState(r.U8());
  j.RetryDelay = r.U8();
  j.FileName = r.Str();
  j.BeginTime = SaneDate(r.F64());
  j.EndTime = SaneDate(r.F64());
  return j;
}

void WriteURLRecord(TRecordWriter& w, const TURLInfo& u) {
  w.Str(u.URL);
  w.U8(u.Auth ? 1 : 0);
  w.Str(u.User);
  w.Str(u.Password);
  w.Str(u.Referer);
  w.Str(u.UserAgent);
  w.I32(u.ConnectTimeout);
  w.I32(u.DataTimeout);
  w.U8(static_cast<std::uint8_t>(u.ResumeState));
  w.Raw(&u.Proxy, sizeof u.Proxy);
}

TURLInfo ReadURLRecord(TRecordReader& r) {
  TURLInfo u;
  u.URL = r.Str();
  u.Auth = r.U8() != 0;
  u.User = r.Str();
  u.Password = r.Str();
  u.Referer = r.Str();
  u.UserAgent = r.Str();
  // Seconds that still fit in 32 bits once the clients turn them into milliseconds.
  u.ConnectTimeout = std::clamp(r.I32(), 0, kMaxTimeoutSeconds);
  u.DataTimeout = std::clamp(r.I32(), 0, kMaxTimeoutSeconds);
  u.ResumeState = SaneResumeState(r.U8());
  r.Raw(&u.Proxy, sizeof u.Proxy);
  u.ClearRunStatistics();
  return u;
}

std::int32_t ReadCount(TRecordReader& r, std::size_t recordSize) {
  const std::int32_t n = r.I32();
  if (n < 0 || static_cast<std::size_t>(n) > r.Remaining() / recordSize) throw TBadRecord();
  return n;
}

}  // namespace nsk
