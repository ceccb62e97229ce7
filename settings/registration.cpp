// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/registration.h"

#include <dlfcn.h>

#include <cstdint>

#include "platform/paths.h"
#include "platform/registry.h"

namespace nsk {
namespace {

constexpr std::string_view kCompanionLibrary = "libnsapi.so";

struct TMenuEntry {
  std::string_view Text;
  std::string_view Page;
  std::uint32_t Contexts;  // written only when the entry has none
};

constexpr TMenuEntry kMenuEntries[] = {
    {kMenuGetOne, "NSGetOne.htm", 0x22},
    {kMenuGetAll, "NSGetAll.htm", 0xF3},
};

}  // namespace

bool RegisterBrowserMenu(TRegistry& registry, const std::string& programFolder) {
  if (!registry.KeyExists(kBrowserKey)) return false;
  const std::string folder = WithSlash(programFolder);
  for (const TMenuEntry& entry : kMenuEntries) {
    const TRegKey key =
        registry.OpenKey(std::string(kMenuExtKey) + "\\" + std::string(entry.Text), true);
    // The page is rewritten every time so the entry follows the program folder; a
    // "Contexts" the user or the browser set stays as it is.
    key.WriteString("", folder + std::string(entry.Page));
    if (!key.ValueExists("Contexts")) key.WriteDword("Contexts", entry.Contexts);
  }
  return true;
}

void RegisterBrowserMenu() {
  // Quiet: a damaged file has been reported by the settings load just before.
  TRegistry registry;
  registry.Load(RegistryFilePath(), false);
  if (RegisterBrowserMenu(registry, ProgramFolder())) registry.Save();
}

void RegisterCompanionLibrary(const std::string& programFolder) {
  const std::string path = WithSlash(programFolder) + std::string(kCompanionLibrary);
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return;
  if (void* symbol = ::dlsym(library, "DllRegisterServer")) {
    using TRegisterServer = int (*)();
    reinterpret_cast<TRegisterServer>(symbol)();
  }
  ::dlclose(library);
}

}  // namespace nsk
