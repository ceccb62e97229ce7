// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/net/tinyproxy.h"

#include <fstream>

namespace nsk::test {

TTinyproxy::TTinyproxy() : TPeerServer("tinyproxy") { Start(); }

TTinyproxy::~TTinyproxy() { Stop(); }

void TTinyproxy::ChoosePorts() { port_ = FreeLoopbackPort(); }

void TTinyproxy::WriteConfig() {
  std::string c;
  c += "Port " + std::to_string(port_) + "\n";
  c += "Listen 127.0.0.1\n";
  c += "Timeout 60\n";
  c += "LogFile \"" + LogFile() + "\"\n";
  c += "LogLevel Info\n";
  c += "PidFile \"" + File("tinyproxy.pid") + "\"\n";
  c += "MaxClients 32\n";
  c += "Allow 127.0.0.1\n";
  c += "DisableViaHeader Yes\n";
  WriteFile("tinyproxy.conf", c);
}

std::vector<std::string> TTinyproxy::Command() const {
  // -d keeps it in the foreground.
  return {FindProgram("tinyproxy"), "-d", "-c", File("tinyproxy.conf")};
}

std::vector<std::uint16_t> TTinyproxy::ReadyPorts() const { return {port_}; }

std::vector<std::string> TTinyproxy::LogFiles() const { return {LogFile()}; }

std::vector<std::string> TTinyproxy::RequestLines() const {
  // CONNECT   Dec 11 13:32:01.624 [19708]: Request (file descriptor 5): GET http://... HTTP/1.1
  std::vector<std::string> lines;
  std::ifstream in(LogFile());
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find("]: Request (file descriptor ");
    if (at == std::string::npos) continue;
    const auto colon = line.find("): ", at);
    if (colon != std::string::npos) lines.push_back(line.substr(colon + 3));
  }
  return lines;
}

}  // namespace nsk::test
