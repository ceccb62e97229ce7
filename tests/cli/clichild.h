// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace nsk::test {

// A program started in the background with its output streams in files, for tests that
// signal or kill it while it runs. The destructor kills it (SIGKILL) if it still runs.
class TCliChild final {
 public:
  // argv[0] is the program; extraEnv ("NAME=value") is added to the test's environment; the
  // output files are made in folder (with a final '/').
  TCliChild(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            const std::string& folder);
  ~TCliChild();
  TCliChild(const TCliChild&) = delete;
  TCliChild& operator=(const TCliChild&) = delete;

  pid_t Pid() const { return pid_; }
  void Signal(int signal) const;
  // The exit status (128 + signal when a signal ended it), or nothing when it still runs
  // after timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  std::string Out() const;
  std::string Err() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string outFile_;
  std::string errFile_;
};

}  // namespace nsk::test
