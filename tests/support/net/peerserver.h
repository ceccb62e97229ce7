// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/tempdir.h"

namespace nsk::test {

// A port on 127.0.0.1 that was free a moment ago.
std::uint16_t FreeLoopbackPort();
// True when something accepts TCP connections on 127.0.0.1:port.
bool AcceptsConnections(std::uint16_t port);
bool RunningAsRoot();

// Base of the launchers of real servers (nginx, vsftpd, tinyproxy, squid) for tests. A
// launcher's constructor fills in its settings and calls Start(), which for each attempt
// chooses ports, writes the configuration into a fresh temporary folder, starts the program
// in the foreground in a process group of its own and waits until Ready(). A server that
// cannot be started raises std::runtime_error with the reason and the tail of its logs, so
// the test fails with a clear message. The destructor stops the server (the whole process
// group) and reaps it; the folder goes with the object.
class TPeerServer {
 public:
  virtual ~TPeerServer();
  TPeerServer(const TPeerServer&) = delete;
  TPeerServer& operator=(const TPeerServer&) = delete;

  // The temporary folder (with a final '/') that holds configuration, logs and pid files.
  const std::string& Folder() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  pid_t Pid() const { return pid_; }
  bool Running() const;
  void Stop();
  // The last lines of the program's output and of its LogFiles().
  std::string Diagnostics() const;

 protected:
  explicit TPeerServer(std::string name);

  void Start();

  // Called before every attempt: take fresh ports (FreeLoopbackPort).
  virtual void ChoosePorts() = 0;
  // Write the configuration for the chosen ports (WriteFile helps).
  virtual void WriteConfig() = 0;
  // The program and its arguments; argv[0] a full path (FindProgram helps). The program must
  // stay in the foreground.
  virtual std::vector<std::string> Command() const = 0;
  // Ports that must accept connections before the server counts as started.
  virtual std::vector<std::uint16_t> ReadyPorts() const = 0;
  // Default: every ReadyPorts() port accepts connections.
  virtual bool Ready() const;
  // Log files (full paths) worth showing when the start fails.
  virtual std::vector<std::string> LogFiles() const { return {}; }
  virtual std::chrono::milliseconds StartTimeout() const { return std::chrono::seconds(20); }
  virtual int StopSignal() const;

  // Writes text to Folder() + name, making the folders on the way.
  void WriteFile(const std::string& name, std::string_view text) const;
  void MakeFolder(const std::string& name) const;
  // The program in PATH or in the sbin folders (servers live there, often outside a user's
  // PATH); raises with a hint at scripts/deps.sh when it is not installed.
  static std::string FindProgram(const std::string& name);

 private:
  void Spawn(const std::vector<std::string>& argv);
  bool Reaped(int* status);

  std::string name_;
  TTempDir dir_;
  pid_t pid_ = -1;
};

}  // namespace nsk::test
