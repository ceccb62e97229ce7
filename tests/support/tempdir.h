// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace nsk::test {

// A fresh folder under $TMPDIR that is removed with everything in it when the object goes.
class TTempDir final {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The folder with a final '/'.
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// A temporary folder that is also the program's home ($NETSKIMBLER_HOME) while it lives.
class THomeDir final {
 public:
  THomeDir();
  ~THomeDir();
  THomeDir(const THomeDir&) = delete;
  THomeDir& operator=(const THomeDir&) = delete;

  const std::string& Path() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }

 private:
  TTempDir dir_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace nsk::test
