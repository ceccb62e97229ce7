// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/partfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace nsk {

TPartFile::~TPartFile() { Close(); }

bool TPartFile::Open(const std::string& path, std::int64_t size) {
  Close();
  if (size < 0) return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 ||
      (st.st_size != size && ::ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool TPartFile::WriteAt(std::int64_t offset, const char* data, std::size_t n) {
  if (fd_ < 0 || offset < 0) return false;
  while (n > 0) {
    const ssize_t w = ::pwrite(fd_, data, n, static_cast<off_t>(offset));
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) return false;
    data += w;
    n -= static_cast<std::size_t>(w);
    offset += w;
  }
  return true;
}

void TPartFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace nsk
