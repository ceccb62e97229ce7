// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/cli/clichild.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform/fileops.h"

extern char** environ;

namespace nsk::test {

TCliChild::TCliChild(const std::vector<std::string>& argv,
                     const std::vector<std::string>& extraEnv, const std::string& folder)
    : outFile_(folder + "child.out"), errFile_(folder + "child.err") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const auto& e : extraEnv) env.push_back(e);
  std::vector<char*> envp, args;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);
  const int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
}

TCliChild::~TCliChild() {
  if (status_ || pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

void TCliChild::Signal(int signal) const {
  if (!status_) ::kill(pid_, signal);
}

std::optional<int> TCliChild::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

std::string TCliChild::Out() const { return ReadWholeFile(outFile_).value_or(""); }
std::string TCliChild::Err() const { return ReadWholeFile(errFile_).value_or(""); }

}  // namespace nsk::test
