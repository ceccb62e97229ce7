// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace nsk::cli {

// Keeps a second netskimbler-cli from working on the same job list at once: each keeps its
// own copy of the list in memory and saves it after every change, so two of them would
// overwrite each other's jobs. The lock is an flock on the list's name + ".lock"; it goes
// with the process, also when the process is killed.
class TListLock final {
 public:
  explicit TListLock(const std::string& listFile);
  ~TListLock();
  TListLock(const TListLock&) = delete;
  TListLock& operator=(const TListLock&) = delete;

  // False when another process holds the lock or the lock file cannot be made.
  bool Held() const { return fd_ >= 0; }
  // Why the lock is not held.
  const std::string& Problem() const { return problem_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::string problem_;
};

}  // namespace nsk::cli
