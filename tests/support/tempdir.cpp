// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/tempdir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace nsk::test {

TTempDir::TTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/nsk-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(buf.data()) + "/";
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

THomeDir::THomeDir() {
  if (const char* v = std::getenv("NETSKIMBLER_HOME")) {
    previous_ = v;
    hadPrevious_ = true;
  }
  ::setenv("NETSKIMBLER_HOME", dir_.Path().c_str(), 1);
}

THomeDir::~THomeDir() {
  if (hadPrevious_)
    ::setenv("NETSKIMBLER_HOME", previous_.c_str(), 1);
  else
    ::unsetenv("NETSKIMBLER_HOME");
}

}  // namespace nsk::test
