// SPDX-License-Identifier: GPL-2.0-or-later
#include "fileops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "atomicfile.h"

namespace nsk {

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::int64_t> FileLength(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

namespace {

bool CopyFileContents(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (::fstat(in, &st) != 0) {
    ::close(in);
    return false;
  }
  TAtomicFile out(to, st.st_mode & 07777);
  bool ok = out.IsOpen();
  char buf[1 << 16];
  while (ok) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    ok = out.Write(std::string_view(buf, static_cast<std::size_t>(n)));
  }
  ::close(in);
  return ok && out.Commit();
}

}  // namespace

bool MoveFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  return CopyFileContents(from, to) && ::unlink(from.c_str()) == 0;
}

bool MakeFolders(const std::string& path, bool privateMode) {
  if (path.empty()) return false;
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), privateMode ? 0700 : 0777) != 0 && errno != EEXIST) return false;
  }
  return IsDirectory(path);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

std::string FolderOf(const std::string& path) {
  const auto p = path.rfind('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string FileNameOf(const std::string& path) {
  const auto p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

}  // namespace nsk
