// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/textutil.h"

#include <gtest/gtest.h>

#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

TEST(FileNameFromURL, AcceptsOnlyDownloadableURLs) {
  struct Case { std::string url, name; };
  const Case cases[] = {
      {"http://h/a/b.zip", "b.zip"},
      {"HTTP://H/X.ZIP", "X.ZIP"},
      {"Ftp://h/pub/f.tar.gz", "f.tar.gz"},
      {"http://h/a?b=c/d.zip", "d.zip"},
      {"http://h", ""},
      {"http://h/dir/", ""},
      {"ftp://h/pub/", ""},
      {"ftp://h", ""},
      {"http:///x.zip", ""},
      {"http://", ""},
      {"mailto:x", ""},
      {"https://h/a.zip", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FileNameFromURL(c.url), c.name) << c.url;
}

TEST(FileNameFromURL, LongNamesAreCutTo250BytesOnACharacterBoundary) {
  EXPECT_EQ(FileNameFromURL("http://h/" + std::string(300, 'n')), std::string(250, 'n'));
  // 83 three-byte characters are 249 bytes; the 84th would cross the limit.
  std::string zh;
  for (int i = 0; i < 100; ++i) zh += "\xE4\xB8\x8B";
  const std::string name = FileNameFromURL("http://h/" + zh);
  EXPECT_EQ(name.size(), 249u);
  EXPECT_EQ(name, zh.substr(0, 249));
}

TEST(LastCharPos, TextAfterTheLastOccurrence) {
  EXPECT_EQ(LastCharPos("a/b/c", '/'), "c");
  EXPECT_EQ(LastCharPos("a/b/", '/'), "");
  EXPECT_EQ(LastCharPos("abc", '/'), "");
}

TEST(SplitWords, BlanksSeparateAndWordsAreCut) {
  struct Case { std::string text; std::vector<std::string> words; };
  const Case cases[] = {
      {"ZIP EXE ", {"ZIP", "EXE"}},
      {"zip  rar", {"zip", "rar"}},
      {"VERYLONGEXTENSION", {"VERYLONGEX"}},
      {"  ", {}},
      {"a a", {"a", "a"}},
      {"tab\tx", {"tab\tx"}},
      // Four 3-byte characters: the cut keeps the three that fit in 10 bytes.
      {"\xE5\x8E\x8B\xE5\x8E\x8B\xE5\x8E\x8B\xE5\x8E\x8B rar",
       {"\xE5\x8E\x8B\xE5\x8E\x8B\xE5\x8E\x8B", "rar"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitWords(c.text), c.words) << c.text;
}

TEST(ExtractField, FieldsBetweenSeparators) {
  struct Case { std::string text; char sep; int n; std::string want; };
  const Case cases[] = {
      {"http://host:8080/a/b", '/', 3, "host:8080"},
      {"http://host:8080/a/b", '/', 1, "http:"},
      {"http://host:8080/a/b", '/', 2, ""},
      {"http://host:8080/a/b", '/', 5, "b"},
      {"a,,c", ',', 2, ""},
      {"a,,c", ',', 3, "c"},
      {"a,,c", ',', 4, ""},
      {"", ',', 1, ""},
      {"abc", ',', 1, "abc"},
      {"abc,", ',', 2, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExtractField(c.text, c.sep, c.n), c.want) << c.text << " #" << c.n;
}

TEST(UniqueFileName, NumbersTheFileNameOnly) {
  test::TTempDir dir;
  const std::string dl = dir.Path();
  EXPECT_EQ(UniqueFileName(dl + "a.zip"), dl + "a(1).zip");
  EXPECT_EQ(UniqueFileName(dl + "readme"), dl + "readme(1)");
  EXPECT_EQ(UniqueFileName(dl + "a.tar.gz"), dl + "a.tar(1).gz");

  ASSERT_TRUE(MakeFolders(dl + "old.zip"));
  EXPECT_EQ(UniqueFileName(dl + "old.zip/c.zip"), dl + "old.zip/c(1).zip");
  EXPECT_EQ(UniqueFileName(dl + "old.zip/readme"), dl + "old.zip/readme(1)");
  EXPECT_TRUE(IsDirectory(dl + "old.zip"));
}

TEST(UniqueFileName, SkipsTakenNamesAndPartialFiles) {
  test::TTempDir dir;
  const std::string dl = dir.Path();
  ASSERT_TRUE(WriteFileAtomically(dl + "a(1).zip.wyn", ""));
  EXPECT_EQ(UniqueFileName(dl + "a.zip"), dl + "a(2).zip");
  ASSERT_TRUE(WriteFileAtomically(dl + "a(2).zip", ""));
  EXPECT_EQ(UniqueFileName(dl + "a.zip"), dl + "a(3).zip");
}

}  // namespace
}  // namespace nsk
