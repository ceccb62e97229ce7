// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/net/peerserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace nsk::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::uint16_t FreeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) throw std::runtime_error("no socket for a free port");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(s);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  ::close(s);
  return ntohs(a.sin_port);
}

bool AcceptsConnections(std::uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (!ok && errno == EINPROGRESS) {
    pollfd p{s, POLLOUT, 0};
    if (::poll(&p, 1, 500) == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
      ok = err == 0;
    }
  }
  ::close(s);
  return ok;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

namespace {

std::string Tail(const std::string& path, std::size_t maxBytes = 3000) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  if (text.size() > maxBytes) text = "..." + text.substr(text.size() - maxBytes);
  return text;
}

}  // namespace

TPeerServer::TPeerServer(std::string name) : name_(std::move(name)) {}

TPeerServer::~TPeerServer() { Stop(); }

int TPeerServer::StopSignal() const { return SIGTERM; }

void TPeerServer::WriteFile(const std::string& name, std::string_view text) const {
  const std::filesystem::path path = File(name);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) throw std::runtime_error(name_ + ": cannot write " + path.string());
}

void TPeerServer::MakeFolder(const std::string& name) const {
  std::filesystem::create_directories(File(name));
}

std::string TPeerServer::FindProgram(const std::string& name) {
  std::vector<std::string> folders;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream ss(path);
    for (std::string f; std::getline(ss, f, ':');)
      if (!f.empty()) folders.push_back(f);
  }
  for (const char* f : {"/usr/sbin", "/usr/local/sbin", "/sbin", "/usr/bin"}) folders.push_back(f);
  for (const auto& f : folders) {
    const std::string candidate = f + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  throw std::runtime_error(name + " is not installed (scripts/deps.sh test installs it)");
}

bool TPeerServer::Running() const { return pid_ > 0; }

bool TPeerServer::Reaped(int* status) {
  if (pid_ <= 0) return true;
  const pid_t r = ::waitpid(pid_, status, WNOHANG);
  return r == pid_ || (r < 0 && errno == ECHILD);
}

void TPeerServer::Spawn(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string out = File(name_ + ".out");
  const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (outFd < 0 || nullFd < 0) throw std::runtime_error(name_ + ": cannot open " + out);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // no server outlives a crashed test
    if (::getppid() != parent) ::_exit(126);
    ::dup2(nullFd, 0);
    ::dup2(outFd, 1);
    ::dup2(outFd, 2);
    ::execv(args[0], args.data());
    const char msg[] = "exec failed\n";
    [[maybe_unused]] ssize_t n = ::write(2, msg, sizeof msg - 1);
    ::_exit(127);
  }
  ::close(outFd);
  ::close(nullFd);
  if (pid < 0) throw std::runtime_error(name_ + ": fork failed");
  ::setpgid(pid, pid);  // also from here, so that Stop reaches the group at once
  pid_ = pid;
}

void TPeerServer::Start() {
  std::string why;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    ChoosePorts();
    WriteConfig();
    Spawn(Command());
    const auto deadline = Clock::now() + StartTimeout();
    int status = 0;
    bool exited = false;
    while (Clock::now() < deadline) {
      if (Reaped(&status)) {
        exited = true;
        break;
      }
      if (Ready()) return;
      std::this_thread::sleep_for(20ms);
    }
    if (!exited) {
      Stop();
      why = "not ready after " + std::to_string(StartTimeout().count()) + " ms";
      break;
    }
    pid_ = -1;
    why = WIFEXITED(status) ? "exited with status " + std::to_string(WEXITSTATUS(status))
                            : "killed by signal " + std::to_string(WTERMSIG(status));
    // Another process may have taken a port between choosing and binding it: try again.
    if (Diagnostics().find("in use") == std::string::npos) break;
  }
  throw std::runtime_error(name_ + " did not start in " + Folder() + ": " + why + "\n" +
                           Diagnostics());
}

void TPeerServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(-pid_, StopSignal());
  int status = 0;
  const auto deadline = Clock::now() + 5s;
  while (!Reaped(&status) && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  ::kill(-pid_, SIGKILL);  // what is left of the group (workers, or a master that hung)
  while (!Reaped(&status)) std::this_thread::sleep_for(5ms);
  pid_ = -1;
}

std::string TPeerServer::Diagnostics() const {
  std::string text = "--- " + name_ + " output:\n" + Tail(File(name_ + ".out"));
  for (const auto& log : LogFiles()) text += "--- " + log + ":\n" + Tail(log);
  return text;
}

bool TPeerServer::Ready() const {
  for (std::uint16_t p : ReadyPorts())
    if (!AcceptsConnections(p)) return false;
  return true;
}

}  // namespace nsk::test
