// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/listlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nsk::cli {

TListLock::TListLock(const std::string& listFile) : path_(listFile + ".lock") {
  // The holder removes the file at its end; one that opened the old file just before then
  // would lock a file nobody else sees, so the lock counts only when the locked file is
  // still the one under the name.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      problem_ = "cannot make the lock file \"" + path_ + "\": " + std::strerror(errno);
      return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      ::close(fd);
      problem_ = e == EWOULDBLOCK
                     ? "the job list is in use by another netskimbler-cli (lock \"" + path_ + "\")"
                     : "cannot lock \"" + path_ + "\": " + std::strerror(e);
      return;
    }
    struct stat held {}, named {};
    if (::fstat(fd, &held) == 0 && ::stat(path_.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      fd_ = fd;
      return;
    }
    ::close(fd);
  }
  problem_ = "cannot lock \"" + path_ + "\": it keeps changing";
}

TListLock::~TListLock() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
}

}  // namespace nsk::cli
