// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace nsk {

// Folder of the program's data files (job list, history page), with a final '/':
// $NETSKIMBLER_HOME when set, else $XDG_DATA_HOME/netskimbler, else ~/.local/share/netskimbler.
// Created when missing.
std::string ProgramFolder();

// The registry file: $NETSKIMBLER_HOME/registry.reg when set, else
// $XDG_CONFIG_HOME/netskimbler/registry.reg (~/.config/netskimbler/registry.reg).
std::string RegistryFilePath();

// The user's download folder with a final '/': XDG_DOWNLOAD_DIR of user-dirs.dirs, else
// ~/Downloads/.
std::string UserDownloadFolder();

// The user's home folder (from $HOME, else the password database).
std::string HomeFolder();

// Appends '/' unless the text already ends with one.
std::string WithSlash(std::string folder);

}  // namespace nsk
