// SPDX-License-Identifier: GPL-2.0-or-later
// Test stand-in for the companion library: registering appends a line to a marker file.
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int DllRegisterServer() {
  const char* home = std::getenv("NETSKIMBLER_HOME");
  if (!home) return 1;
  const std::string marker = std::string(home) + "/companion-registered";
  if (std::FILE* f = std::fopen(marker.c_str(), "a")) {
    std::fputs("registered\n", f);
    std::fclose(f);
  }
  return 0;
}
