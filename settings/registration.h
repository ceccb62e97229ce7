// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace nsk {

class TRegistry;

// The two browser context-menu entries and the page each one opens from the program folder.
inline constexpr std::string_view kBrowserKey = "Software\\Microsoft\\Internet Explorer";
inline constexpr std::string_view kMenuExtKey = "Software\\Microsoft\\Internet Explorer\\MenuExt";
inline constexpr std::string_view kMenuGetOne = "用Lumo下载下载";
inline constexpr std::string_view kMenuGetAll = "用Lumo下载下载所有链接";

// Writes the two entries below kMenuExtKey, each with its page as the default value and a
// "Contexts" value unless one is there already, but only when the browser's key exists.
// Returns whether it wrote anything.
bool RegisterBrowserMenu(TRegistry& registry, const std::string& programFolder);
// The same on the registry file at RegistryFilePath() for ProgramFolder(); the file is
// rewritten only when the entries were written. Meant to run after the settings load, which
// reports a damaged file; this one does not report it again.
void RegisterBrowserMenu();

// Loads the companion library "libnsapi.so" from the program folder and calls its export
// `extern "C" int DllRegisterServer(void)` when it has one. A missing library or export is
// silently ignored, and so is the result.
void RegisterCompanionLibrary(const std::string& programFolder);

}  // namespace nsk
