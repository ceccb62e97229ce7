// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The fixed records of the job list file and the job information file. Layout (all
// integers little-endian, int32 signed, date = 8-byte IEEE double, byte unsigned):
//
//   header        marker:1 (0 while written, 1 when complete)  format:4 = 01 01 00 00
//   string field  length:1 (<= 254)  text:length  filler up to 255 bytes in all
//   job record    AlwaysRetry:1 StartCount:4 AutoSkimblers:1 Category:255 Comment:255
//   (1065 bytes)  FileDate:8 Name:255 FileSize:4 MaxErrors:4 SkimblerCount:4 Priority:1
//                 ResumeState:1 RetryDelay:1 FileName:255 BeginTime:8 EndTime:8
//   URL record    URL:255 Auth:1 User:255 Password:255 Referer:255 UserAgent:255
//   (2324 bytes)  ConnectTimeout:4 DataTimeout:4 ResumeState:1 Proxy:1039 (raw TProxyInfo)
//
//   .mjl  header, job count:4, per job: job record, state:1 (4 finished, else 2),
//         URL count:4, URL records
//   .ji   header, job record, URL count:4, URL records, block count:4,
//         per block: StartPos:4 EndPos:4

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "engine/job.h"

namespace nsk {

inline constexpr std::size_t kHeaderSize = 5;
inline constexpr std::size_t kStringFieldSize = 255;
inline constexpr std::size_t kMaxStringBytes = 254;
inline constexpr std::size_t kJobRecordSize = 1065;
inline constexpr std::size_t kURLRecordSize = 2324;
inline constexpr std::size_t kBlockRecordSize = 8;
inline constexpr char kFormatBytes[4] = {1, 1, 0, 0};

// Thrown when a record breaks off or holds a value no reader can accept.
struct TBadRecord : std::runtime_error {
  TBadRecord() : std::runtime_error("bad job file record") {}
};

class TRecordWriter final {
 public:
  void U8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void I32(std::int32_t v);
  void F64(double v);
  // A 255-byte string field; a longer text keeps its first 254 bytes that end on a whole
  // UTF-8 character.
  void Str(std::string_view text);
  void Raw(const void* data, std::size_t n) { out_.append(static_cast<const char*>(data), n); }
  const std::string& Data() const { return out_; }

 private:
  std::string out_;
};

class TRecordReader final {
 public:
  explicit TRecordReader(std::string_view data) : in_(data) {}
  std::uint8_t U8();
  std::int32_t I32();
  double F64();
  // A string field as UTF-8 (text written on Windows is converted from GBK).
  std::string Str();
  void Raw(void* out, std::size_t n);
  void Skip(std::size_t n);
  std::size_t Remaining() const { return in_.size() - pos_; }
  std::size_t Position() const { return pos_; }

 private:
  std::string_view Take(std::size_t n);
  std::string_view in_;
  std::size_t pos_ = 0;
};

// The fields of a job record.
struct TJobRecord {
  bool AlwaysRetry = false;
  std::int32_t StartCount = 0;
  bool AutoSkimblers = false;
  std::string Category, Comment;
  TDateTime FileDate = kNoDate;
  std::string Name;
  std::int32_t FileSize = 0;
  std::int32_t MaxErrors = 10;
  std::int32_t SkimblerCount = 3;
  std::uint8_t Priority = 3;
  TResumeState ResumeState = TResumeState::rsUnknown;
  std::uint8_t RetryDelay = 5;
  std::string FileName;
  TDateTime BeginTime = kNoDate, EndTime = kNoDate;
};

TJobRecord JobRecordOf(const TJob& job);
void ApplyJobRecord(const TJobRecord& r, TJob& job);

void WriteHeader(TRecordWriter& w);  // marker 0 and the format bytes
// False when the marker is not 1 or the format bytes differ.
bool ReadHeader(TRecordReader& r);

void WriteJobRecord(TRecordWriter& w, const TJobRecord& job);
// Values that the engine cannot work with are brought into range (see jobrecord.cpp).
TJobRecord ReadJobRecord(TRecordReader& r);
void WriteURLRecord(TRecordWriter& w, const TURLInfo& url);
// The run statistics of the record read are cleared.
TURLInfo ReadURLRecord(TRecordReader& r);

// Reads a count of records of recordSize bytes each; a negative count, or one that the rest
// of the data cannot hold, is a bad record (so that a damaged count never makes the reader
// allocate or loop for nothing).
std::int32_t ReadCount(TRecordReader& r, std::size_t recordSize);

}  // namespace nsk
