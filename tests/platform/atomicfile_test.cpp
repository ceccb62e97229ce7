// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/atomicfile.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/fileops.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

std::size_t EntriesIn(const std::string& folder) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

TEST(AtomicFile, OldContentSurvivesUntilCommit) {
  test::TTempDir dir;
  const std::string path = dir.File("list.mjl");
  ASSERT_TRUE(WriteFileAtomically(path, "old"));
  {
    TAtomicFile f(path);
    ASSERT_TRUE(f.Write(std::string_view("\0new", 4)));
    ASSERT_TRUE(f.WriteAt(0, "N"));
    EXPECT_EQ(*ReadWholeFile(path), "old");
    ASSERT_TRUE(f.Commit());
  }
  EXPECT_EQ(*ReadWholeFile(path), "Nnew");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(AtomicFile, AbandonedWriteLeavesNoTraceAndKeepsOldFile) {
  test::TTempDir dir;
  const std::string path = dir.File("a.ji");
  ASSERT_TRUE(WriteFileAtomically(path, "previous"));
  {
    TAtomicFile f(path);
    ASSERT_TRUE(f.Write("half"));
  }
  EXPECT_EQ(*ReadWholeFile(path), "previous");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(AtomicFile, ModeIsApplied) {
  test::TTempDir dir;
  const std::string path = dir.File("registry.reg");
  ASSERT_TRUE(WriteFileAtomically(path, "x", 0600, TAtomicFile::Sync::Durable));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(AtomicFile, MissingFolderFailsCleanly) {
  test::TTempDir dir;
  TAtomicFile f(dir.File("no/such/file"));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(f.Write("x"));
  EXPECT_FALSE(f.Commit());
}

TEST(FileOps, MoveRenamesAndNamesSplit) {
  test::TTempDir dir;
  ASSERT_TRUE(WriteFileAtomically(dir.File("a.wyn"), "data"));
  ASSERT_TRUE(MoveFile(dir.File("a.wyn"), dir.File("a")));
  EXPECT_FALSE(PathExists(dir.File("a.wyn")));
  EXPECT_EQ(*ReadWholeFile(dir.File("a")), "data");
  EXPECT_EQ(FolderOf("/dl/x/a.zip"), "/dl/x/");
  EXPECT_EQ(FileNameOf("/dl/x/a.zip"), "a.zip");
  EXPECT_EQ(FileNameOf("a.zip"), "a.zip");
}

}  // namespace
}  // namespace nsk
