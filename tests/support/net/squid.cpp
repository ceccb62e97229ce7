// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/net/squid.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace nsk::test {
namespace {

// The unprivileged user squid's workers run as when it is started by root.
const passwd* WorkerUser() {
  for (const char* name : {"proxy", "nobody"})
    if (const passwd* pw = ::getpwnam(name)) return pw;
  return nullptr;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TSquid::TSquid(std::string extraConfig) : TPeerServer("squid"), extra_(std::move(extraConfig)) {
  Start();
}

TSquid::~TSquid() {
  Stop();
  RemoveSharedMemory();
}

std::string TSquid::ServiceName() const {
  // The temporary folder's unique suffix: letters and digits only, as squid wants.
  std::string folder = Folder();
  folder.pop_back();
  const std::string base = std::filesystem::path(folder).filename().string();
  std::string name = "nsk";
  for (char c : base)
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name;
}

void TSquid::RemoveSharedMemory() const {
  // A squid that was killed leaves its segments behind.
  std::error_code ec;
  const std::string prefix = ServiceName() + "-";
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec))
    if (entry.path().filename().string().rfind(prefix, 0) == 0)
      std::filesystem::remove(entry.path(), ec);
}

void TSquid::ChoosePorts() { port_ = FreeLoopbackPort(); }

void TSquid::WriteConfig() {
  RemoveSharedMemory();
  std::error_code ec;
  std::filesystem::remove(File("cache.log"), ec);
  const std::string d = Folder();
  std::string c;
  c += "http_port 127.0.0.1:" + std::to_string(port_) + "\n";
  c += "pid_filename " + d + "squid.pid\n";
  c += "cache_log " + d + "cache.log\n";
  c += "access_log stdio:" + d + "access.log\n";
  c += "cache_store_log none\n";
  c += "coredump_dir " + d + "\n";
  c += "logfile_rotate 0\n";
  // No cache: every request reaches the origin. Memory only, not shared between processes.
  c += "cache deny all\n";
  c += "cache_mem 4 MB\n";
  c += "memory_cache_shared off\n";
  c += "collapsed_forwarding off\n";
  // Nothing that would talk to the outside or to other caches.
  c += "dns_nameservers 127.0.0.1\n";
  c += "hosts_file none\n";
  c += "netdb_filename none\n";
  c += "pinger_enable off\n";
  c += "digest_generation off\n";
  c += "icp_port 0\n";
  c += "htcp_port 0\n";
  c += "shutdown_lifetime 0 seconds\n";
  // The origins of the tests are on 127.0.0.1: to_localhost destinations are not refused.
  c += "http_access allow localhost\n";
  c += "http_access deny all\n";
  if (RunningAsRoot()) {
    const passwd* pw = WorkerUser();
    if (!pw) throw std::runtime_error("squid: no unprivileged user (proxy or nobody) to run as");
    c += std::string("cache_effective_user ") + pw->pw_name + "\n";
    // Its workers write the logs and the pid file here.
    if (::chown(d.c_str(), pw->pw_uid, pw->pw_gid) != 0)
      throw std::runtime_error("squid: cannot give " + d + " to " + pw->pw_name);
  }
  if (!extra_.empty()) c += extra_ + "\n";
  WriteFile("squid.conf", c);
}

std::vector<std::string> TSquid::Command() const {
  // -N stays in the foreground with one process.
  return {FindProgram("squid"), "-N", "-n", ServiceName(), "-f", File("squid.conf")};
}

std::vector<std::uint16_t> TSquid::ReadyPorts() const { return {port_}; }

bool TSquid::Ready() const {
  // The port listens once configuration, logs and memory are set up; the log line says the
  // listener is really squid's.
  return ReadAll(File("cache.log")).find("Accepting HTTP Socket connections") !=
             std::string::npos &&
         TPeerServer::Ready();
}

std::vector<std::string> TSquid::LogFiles() const { return {File("cache.log"), AccessLog()}; }

std::chrono::milliseconds TSquid::StartTimeout() const { return std::chrono::seconds(60); }

std::vector<std::string> TSquid::Requests() const {
  // time elapsed client code/status bytes METHOD URL user hierarchy type
  std::vector<std::string> out;
  std::istringstream in(ReadAll(AccessLog()));
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string w[7];
    for (auto& x : w) words >> x;
    if (!w[6].empty() && w[5] != "-" && w[5] != "NONE") out.push_back(w[5] + " " + w[6]);
  }
  return out;
}

}  // namespace nsk::test
