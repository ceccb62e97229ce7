// SPDX-License-Identifier: GPL-2.0-or-later
#include "atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace nsk {
namespace {

bool WriteAll(int fd, std::string_view data, std::int64_t offset) {
  while (!data.empty()) {
    const ssize_t n = ::pwrite(fd, data.data(), data.size(), offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return true;
}

void SyncFolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

}  // namespace

TAtomicFile::TAtomicFile(std::string path, mode_t mode, Sync sync)
    : path_(std::move(path)), sync_(sync) {
  const auto slash = path_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  std::string pattern = folder + "." + name + ".XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  fd_ = ::mkostemp(buf.data(), O_CLOEXEC);
  if (fd_ < 0) return;
  temp_.assign(buf.data());
  if (::fchmod(fd_, mode) != 0) Discard();
}

TAtomicFile::~TAtomicFile() { Discard(); }

void TAtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
  }
}

bool TAtomicFile::Write(std::string_view data) {
  if (fd_ < 0 || failed_) return false;
  if (!WriteAll(fd_, data, end_)) {
    failed_ = true;
    return false;
  }
  end_ += static_cast<std::int64_t>(data.size());
  return true;
}

bool TAtomicFile::WriteAt(std::int64_t offset, std::string_view data) {
  if (fd_ < 0 || failed_) return false;
  if (!WriteAll(fd_, data, offset)) {
    failed_ = true;
    return false;
  }
  if (offset + static_cast<std::int64_t>(data.size()) > end_)
    end_ = offset + static_cast<std::int64_t>(data.size());
  return true;
}

bool TAtomicFile::Commit() {
  if (fd_ < 0 || failed_) {
    Discard();
    return false;
  }
  bool ok = sync_ == Sync::None || ::fdatasync(fd_) == 0;
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  if (ok && ::rename(temp_.c_str(), path_.c_str()) == 0) {
    if (sync_ == Sync::Durable) SyncFolderOf(path_);
    return true;
  }
  ::unlink(temp_.c_str());
  return false;
}

bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode,
                         TAtomicFile::Sync sync) {
  TAtomicFile f(path, mode, sync);
  return f.Write(data) && f.Commit();
}

}  // namespace nsk
