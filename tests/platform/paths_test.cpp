// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/paths.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

TEST(Paths, HomeVariableDecidesWhereFilesLive) {
  test::THomeDir home;
  EXPECT_EQ(ProgramFolder(), home.Path());
  EXPECT_EQ(RegistryFilePath(), home.File("registry.reg"));
}

TEST(Paths, XdgFoldersWithoutHomeVariable) {
  test::TTempDir dir;
  ::unsetenv("NETSKIMBLER_HOME");
  ::setenv("XDG_DATA_HOME", (dir.Path() + "data").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir.Path() + "config").c_str(), 1);
  EXPECT_EQ(ProgramFolder(), dir.Path() + "data/netskimbler/");
  EXPECT_TRUE(IsDirectory(dir.Path() + "data/netskimbler"));
  EXPECT_EQ(RegistryFilePath(), dir.Path() + "config/netskimbler/registry.reg");

  const std::string oldHome = HomeFolder();
  ::setenv("HOME", dir.Path().c_str(), 1);
  EXPECT_EQ(UserDownloadFolder(), dir.Path() + "Downloads/");
  ASSERT_TRUE(MakeFolders(dir.Path() + "config"));
  ASSERT_TRUE(WriteFileAtomically(dir.Path() + "config/user-dirs.dirs",
                                  "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n"));
  EXPECT_EQ(UserDownloadFolder(), dir.Path() + "Fetched/");
  ::setenv("HOME", oldHome.c_str(), 1);
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace nsk
