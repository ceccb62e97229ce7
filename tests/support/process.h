// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

namespace nsk::test {

struct TProgramResult {
  int ExitCode = -1;  // the exit status, or 128 + signal when a signal ended the program
  std::string Out;
  std::string Err;
};

// Runs a program to its end with the given arguments (argv[0] is the program) and the
// environment of the test plus extraEnv ("NAME=value"), collecting both output streams.
TProgramResult RunProgram(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnv = {});

}  // namespace nsk::test
