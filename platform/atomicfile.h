// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace nsk {

// Writes a file under a temporary name in the same folder and renames it over the target
// on Commit(), so that readers see either the old or the new file, never a half-written one.
// Without a Commit() the temporary file is removed and the old file stays as it was.
class TAtomicFile final {
 public:
  enum class Sync { None, Durable };

  explicit TAtomicFile(std::string path, mode_t mode = 0644, Sync sync = Sync::None);
  ~TAtomicFile();
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // Appends at the current end of what was written.
  bool Write(std::string_view data);
  // Writes at an absolute offset without moving the append position.
  bool WriteAt(std::int64_t offset, std::string_view data);
  // Durable: flushes data and the folder entry before and after the rename.
  bool Commit();

 private:
  void Discard();

  std::string path_;
  std::string temp_;
  int fd_ = -1;
  std::int64_t end_ = 0;
  bool failed_ = false;
  Sync sync_;
};

// Replaces path with data in one step.
bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0644,
                         TAtomicFile::Sync sync = TAtomicFile::Sync::None);

}  // namespace nsk
