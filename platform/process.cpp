// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

extern char** environ;

namespace nsk {

std::string FindInPath(const std::string& program) {
  if (program.empty()) return {};
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string_view rest = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const auto colon = rest.find(':');
    std::string folder(rest.substr(0, colon));
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return {};
}

int StartDetached(const std::string& program, const std::vector<std::string>& args) {
  const std::string path = FindInPath(program);
  if (path.empty()) return ENOENT;
  // Everything the children need is prepared here: between fork and exec only
  // async-signal-safe calls are made.
  std::vector<std::string> argStore;
  argStore.reserve(args.size() + 1);
  argStore.push_back(program);
  for (const auto& a : args) argStore.push_back(a);
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child < 0) {
    const int err = errno;
    ::close(report[0]);
    ::close(report[1]);
    return err;
  }
  if (child == 0) {
    ::close(report[0]);
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        const int err = errno;
        [[maybe_unused]] ssize_t n = ::write(report[1], &err, sizeof err);
      }
      ::_exit(0);
    }
    ::setsid();
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, nullptr);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in >= 0 && in != 0) {
      ::dup2(in, 0);
      ::close(in);
    }
    ::execve(path.c_str(), argv.data(), environ);
    const int err = errno;
    [[maybe_unused]] ssize_t n = ::write(report[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes on a successful exec (close-on-exec) or carries the failure's errno.
  int err = 0;
  ssize_t n;
  while ((n = ::read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

}  // namespace nsk
