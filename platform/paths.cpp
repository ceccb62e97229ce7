// SPDX-License-Identifier: GPL-2.0-or-later
#include "paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "fileops.h"

namespace nsk {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// XDG base folders must be absolute; relative values are ignored.
std::string XdgFolder(const char* var, const char* fallback) {
  std::string v = Env(var);
  if (!v.empty() && v[0] == '/') return WithSlash(v);
  return WithSlash(HomeFolder()) + fallback;
}

}  // namespace

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string ProgramFolder() {
  std::string folder = Env("NETSKIMBLER_HOME");
  folder = folder.empty() ? XdgFolder("XDG_DATA_HOME", ".local/share/") + "netskimbler/"
                          : WithSlash(folder);
  MakeFolders(folder.substr(0, folder.size() - 1), true);
  return folder;
}

std::string RegistryFilePath() {
  std::string folder = Env("NETSKIMBLER_HOME");
  folder = folder.empty() ? XdgFolder("XDG_CONFIG_HOME", ".config/") + "netskimbler/"
                          : WithSlash(folder);
  return folder + "registry.reg";
}

std::string UserDownloadFolder() {
  const std::string home = HomeFolder();
  const std::string config = XdgFolder("XDG_CONFIG_HOME", ".config/");
  if (auto text = ReadWholeFile(config + "user-dirs.dirs")) {
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
      const std::string key = "XDG_DOWNLOAD_DIR=";
      if (line.compare(0, key.size(), key) != 0) continue;
      std::string value = line.substr(key.size());
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
      if (!value.empty() && value[0] == '/' && value != home && value != home + "/")
        return WithSlash(value);
    }
  }
  return WithSlash(home) + "Downloads/";
}

}  // namespace nsk
