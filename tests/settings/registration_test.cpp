// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/registration.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

using ::testing::ElementsAre;

const std::string kGetOneKey = std::string(kMenuExtKey) + "\\用Lumo下载下载";
const std::string kGetAllKey = std::string(kMenuExtKey) + "\\用Lumo下载下载所有链接";

TEST(BrowserMenu, NothingIsWrittenWithoutTheBrowserKey) {
  TRegistry reg;
  reg.CreateKey("Software\\Microsoft\\Windows");
  const std::string before = reg.ToText();
  EXPECT_FALSE(RegisterBrowserMenu(reg, "/opt/ns/"));
  EXPECT_EQ(reg.ToText(), before);
  EXPECT_FALSE(reg.KeyExists(kMenuExtKey));
}

TEST(BrowserMenu, BothEntriesPointIntoTheProgramFolder) {
  TRegistry reg;
  reg.CreateKey("Software\\Microsoft\\Internet Explorer");
  EXPECT_TRUE(RegisterBrowserMenu(reg, "/opt/ns"));
  EXPECT_THAT(reg.SubkeyNames(kMenuExtKey), ElementsAre("用Lumo下载下载", "用Lumo下载下载所有链接"));
  EXPECT_EQ(reg.ReadString(kGetOneKey, ""), "/opt/ns/NSGetOne.htm");
  EXPECT_EQ(reg.ReadDword(kGetOneKey, "Contexts"), 0x22u);
  EXPECT_EQ(reg.ReadString(kGetAllKey, ""), "/opt/ns/NSGetAll.htm");
  EXPECT_EQ(reg.ReadDword(kGetAllKey, "Contexts"), 0xF3u);
}

TEST(BrowserMenu, PageIsRewrittenButAnExistingContextsStays) {
  TRegistry reg;
  reg.WriteString(kGetOneKey, "", "/old/place/NSGetOne.htm");
  reg.WriteDword(kGetOneKey, "Contexts", 1);
  reg.WriteString(kGetAllKey, "Contexts", "odd");
  EXPECT_TRUE(RegisterBrowserMenu(reg, "/new/place/"));
  EXPECT_EQ(reg.ReadString(kGetOneKey, ""), "/new/place/NSGetOne.htm");
  EXPECT_EQ(reg.ReadDword(kGetOneKey, "Contexts"), 1u);
  EXPECT_EQ(reg.ReadString(kGetAllKey, ""), "/new/place/NSGetAll.htm");
  EXPECT_EQ(reg.ReadString(kGetAllKey, "Contexts"), "odd");
}

TEST(BrowserMenu, TheRegistryFileIsWrittenOnlyWhenTheBrowserKeyIsThere) {
  test::THomeDir home;
  RegisterBrowserMenu();
  EXPECT_FALSE(PathExists(RegistryFilePath()));

  {
    TRegistry reg;
    reg.Load(RegistryFilePath());
    reg.CreateKey(kBrowserKey);
    ASSERT_TRUE(reg.Save());
  }
  RegisterBrowserMenu();
  TRegistry reg;
  ASSERT_EQ(reg.Load(RegistryFilePath()), TRegistry::TLoadStatus::Loaded);
  EXPECT_EQ(reg.ReadString(kGetOneKey, ""), ProgramFolder() + "NSGetOne.htm");
}

TEST(CompanionLibrary, RegistrationIsCalledWhenPresentAndSilentOtherwise) {
  const struct {
    const char* what;
    const char* library;  // copied into the program folder as libnsapi.so; nullptr: none
    bool notALibrary;
    bool called;
  } cases[] = {
      {"no library", nullptr, false, false},
      {"a file that is no library", nullptr, true, false},
      {"library without the export", NSK_COMPANION_WITHOUT_EXPORT, false, false},
      {"library with the export", NSK_COMPANION_WITH_EXPORT, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::THomeDir home;
    const std::string target = home.File("libnsapi.so");
    if (c.library) {
      ASSERT_TRUE(WriteFileAtomically(target, *ReadWholeFile(c.library), 0755));
    }
    if (c.notALibrary) {
      ASSERT_TRUE(WriteFileAtomically(target, "not an ELF file"));
    }
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    RegisterCompanionLibrary(home.Path());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ReadWholeFile(home.File("companion-registered")),
              c.called ? std::optional<std::string>("registered\n") : std::nullopt);
  }
}

}  // namespace
}  // namespace nsk
