// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace nsk {

// The open partial file of a running job: data are written at their file offsets.
class TPartFile final {
 public:
  TPartFile() = default;
  ~TPartFile();
  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;

  // Opens path for reading and writing, creating it when missing, and makes it exactly
  // size bytes long. False (and closed) on any failure.
  bool Open(const std::string& path, std::int64_t size);
  bool IsOpen() const { return fd_ >= 0; }
  // Writes all n bytes at offset; false when the file is closed or the write fails.
  bool WriteAt(std::int64_t offset, const char* data, std::size_t n);
  void Close();

 private:
  int fd_ = -1;
};

}  // namespace nsk
