// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/registry.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "platform/utf8.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kOptions = "Software\\NetSkimbler\\Options";

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

std::size_t LinesIn(const std::string& text) {
  std::size_t n = 0;
  for (const char c : text) n += c == '\n';
  return n;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

TEST(Registry, WritesRegedit4TextParentsFirst) {
  TRegistry reg;
  reg.WriteString(kOptions, "User", "anonymous");
  reg.WriteDword(kOptions, "MaxJobs", 3);
  reg.WriteBinary(kOptions, "StartTime", std::string("\xab\xaa\xaa\xaa\xaa\xaa\xed\x3f", 8));
  reg.WriteString(kOptions, "", "default value");
  reg.WriteString("Software\\NetSkimbler", "CurListFile", "/home/u/skimbler.mjl");
  reg.CreateKey("Software\\NetSkimbler\\Category\\00000000");
  EXPECT_EQ(reg.ToText(),
            "REGEDIT4\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software]\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\NetSkimbler]\n"
            "\"CurListFile\"=\"/home/u/skimbler.mjl\"\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\NetSkimbler\\Category]\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\NetSkimbler\\Category\\00000000]\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\NetSkimbler\\Options]\n"
            "\"User\"=\"anonymous\"\n"
            "\"MaxJobs\"=dword:00000003\n"
            "\"StartTime\"=hex:ab,aa,aa,aa,aa,aa,ed,3f\n"
            "@=\"default value\"\n"
            "\n");
}

TEST(Registry, EveryTypeAndTextSurvivesAFileRoundTrip) {
  struct Case {
    const char* name;
    TRegValue value;
  };
  const std::vector<Case> cases = {
      {"Chinese", TRegValue::OfString("用Lumo下载下载所有链接")},
      {"Quotes and backslashes", TRegValue::OfString("say \"hi\" to C:\\dir\\ and \\\\server\\")},
      {"Line breaks", TRegValue::OfString("one\ntwo\r\nthree\tfour")},
      {"Control and stray bytes", TRegValue::OfString(std::string("a\x01\x7f\xff\xe4\xb8z", 7))},
      {"Empty text", TRegValue::OfString("")},
      {"", TRegValue::OfString("the default value")},
      {"DwordZero", TRegValue::OfDword(0)},
      {"DwordMax", TRegValue::OfDword(0xFFFFFFFFu)},
      {"DwordSystemColour", TRegValue::OfDword(0x80000005u)},
      {"BinaryEmpty", TRegValue::OfBinary("")},
      {"BinaryAllBytes", TRegValue::OfBinary(AllBytes())},
      {"名字 with \"quote\"", TRegValue::OfString("value")},
  };
  test::TTempDir dir;
  const std::string path = dir.File("registry.reg");
  {
    TRegistry reg;
    for (const auto& c : cases) ASSERT_TRUE(reg.WriteValue(kOptions, c.name, c.value)) << c.name;
    reg.CreateKey("Software\\NetSkimbler\\中文键");
    reg.WriteDword("", "OnTheRoot", 1);
    ASSERT_TRUE(reg.SaveTo(path));
  }
  TRegistry back;
  ASSERT_EQ(back.Load(path), TRegistry::TLoadStatus::Loaded);
  for (const auto& c : cases) {
    const auto v = back.ReadValue(kOptions, c.name);
    ASSERT_TRUE(v.has_value()) << c.name;
    EXPECT_EQ(*v, c.value) << c.name;
  }
  EXPECT_EQ(back.ValueCount(kOptions), cases.size());
  EXPECT_TRUE(back.KeyExists("Software\\NetSkimbler\\中文键"));
  EXPECT_EQ(back.ReadDword("", "OnTheRoot"), 1u);
  // The written file is itself valid UTF-8 text, whatever bytes the strings held.
  EXPECT_TRUE(IsValidUtf8(*ReadWholeFile(path)));
}

TEST(Registry, ReadsHandWrittenFiles) {
  TRegistry reg;
  std::string error;
  ASSERT_TRUE(reg.Parse("\xEF\xBB\xBF"
                        "; written by hand\r\n"
                        "REGEDIT4\r\n"
                        "\r\n"
                        "[hkey_current_user\\Software\\NetSkimbler\\MainWindow]  \r\n"
                        "\"Columns\"=hex:00,01,\\\r\n"
                        "  02,FF\r\n"
                        "\"X\" = dword:1A\r\n"
                        "\"X\"=dword:0000002a\r\n"
                        "@=\"first\"\r\n"
                        "[HKEY_CURRENT_USER\\Software\\NetSkimbler\\MainWindow]\r\n"
                        "\"Y\"=dword:00000007\r\n",
                        &error))
      << error;
  const std::string key = "Software\\NetSkimbler\\MainWindow";
  EXPECT_EQ(reg.ReadBinary(key, "Columns"), std::string("\x00\x01\x02\xff", 4));
  EXPECT_EQ(reg.ReadDword(key, "X"), 0x2Au);  // the later line wins
  EXPECT_EQ(reg.ReadDword(key, "Y"), 7u);     // a key given twice is one key
  EXPECT_EQ(reg.ReadString(key, ""), "first");
  EXPECT_THAT(reg.ValueNames(key), ElementsAre("Columns", "X", "", "Y"));
}

TEST(Registry, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  TRegistry reg;
  ASSERT_TRUE(reg.WriteDword("Software\\NetSkimbler\\Options", "MaxJobs", 3));
  EXPECT_TRUE(reg.KeyExists("SOFTWARE\\netskimbler\\OPTIONS"));
  EXPECT_EQ(reg.ReadDword("software\\NetSkimbler\\options", "maxjobs"), 3u);

  ASSERT_TRUE(reg.WriteDword("SOFTWARE\\NETSKIMBLER\\OPTIONS", "MAXJOBS", 5));
  EXPECT_EQ(reg.ReadDword(kOptions, "MaxJobs"), 5u);
  EXPECT_THAT(reg.SubkeyNames("software"), ElementsAre("NetSkimbler"));
  EXPECT_THAT(reg.ValueNames(kOptions), ElementsAre("MaxJobs"));

  // Letters beyond ASCII fold too; Chinese names have no case and match exactly.
  ASSERT_TRUE(reg.WriteString("Software\\Äpfel", "Größe", "1"));
  EXPECT_TRUE(reg.KeyExists("software\\äPFEL"));
  EXPECT_EQ(reg.ReadString("Software\\Äpfel", "GRÖSSE"), std::nullopt);
  EXPECT_EQ(reg.ReadString("Software\\Äpfel", "GRÖßE"), "1");
  ASSERT_TRUE(reg.CreateKey("Software\\用Lumo下载下载"));
  EXPECT_TRUE(reg.KeyExists("software\\用lumo下载下载"));
  EXPECT_FALSE(reg.KeyExists("software\\用Lumo下载"));
}

TEST(Registry, PathsIgnoreEmptyPartsAndRefuseUnstorableNames) {
  TRegistry reg;
  ASSERT_TRUE(reg.CreateKey("Software\\Microsoft\\Internet Explorer\\MenuExt\\"));
  EXPECT_TRUE(reg.KeyExists("\\Software\\\\Microsoft\\Internet Explorer\\MenuExt"));
  EXPECT_TRUE(reg.KeyExists(""));  // HKEY_CURRENT_USER itself
  EXPECT_FALSE(reg.CreateKey("Software\\bad\nname"));
  EXPECT_FALSE(reg.WriteDword(std::string("Software\\bad\xff", 13), "x", 1));
  EXPECT_FALSE(reg.KeyExists("Software\\bad\nname"));
}

TEST(Registry, DeleteKeyTakesItsSubtreeAndDeleteValueOneValue) {
  TRegistry reg;
  reg.WriteString("a\\b\\c", "v", "1");
  reg.WriteString("a\\b", "w", "2");
  reg.WriteString("a", "keep", "3");
  reg.CreateKey("a\\b2");

  EXPECT_TRUE(reg.DeleteKey("A\\B"));
  EXPECT_FALSE(reg.KeyExists("a\\b"));
  EXPECT_FALSE(reg.KeyExists("a\\b\\c"));
  EXPECT_TRUE(reg.KeyExists("a\\b2"));
  EXPECT_EQ(reg.ReadString("a", "keep"), "3");
  // A recreated key starts empty.
  reg.CreateKey("a\\b");
  EXPECT_EQ(reg.ValueCount("a\\b"), 0u);
  EXPECT_EQ(reg.SubkeyCount("a\\b"), 0u);

  EXPECT_FALSE(reg.DeleteKey("a\\missing"));
  EXPECT_FALSE(reg.DeleteKey("missing\\deeper"));
  EXPECT_FALSE(reg.DeleteKey(""));

  reg.WriteDword("a", "other", 1);
  EXPECT_TRUE(reg.DeleteValue("a", "KEEP"));
  EXPECT_FALSE(reg.DeleteValue("a", "keep"));
  EXPECT_FALSE(reg.DeleteValue("nokey", "keep"));
  EXPECT_THAT(reg.ValueNames("a"), ElementsAre("other"));
}

TEST(Registry, EnumeratesDirectSubkeysInNameOrderAndValuesInWriteOrder) {
  TRegistry reg;
  const std::string proxy = "Software\\NetSkimbler\\Proxy";
  for (const char* name : {"0000000A", "00000002", "00000000", "00000001"})
    reg.CreateKey(proxy + "\\" + name + "\\deeper");
  reg.WriteDword(proxy, "DefaultHttp", 0);
  reg.WriteDword(proxy, "DefaultFtp", 1);
  reg.WriteString(proxy, "", "x");

  EXPECT_EQ(reg.SubkeyCount(proxy), 4u);
  EXPECT_THAT(reg.SubkeyNames(proxy), ElementsAre("00000000", "00000001", "00000002", "0000000A"));
  EXPECT_EQ(reg.ValueCount(proxy), 3u);
  EXPECT_THAT(reg.ValueNames(proxy), ElementsAre("DefaultHttp", "DefaultFtp", ""));
  EXPECT_EQ(reg.SubkeyCount("Software\\NetSkimbler\\None"), 0u);
  EXPECT_EQ(reg.ValueCount("Software\\NetSkimbler\\None"), 0u);
  EXPECT_TRUE(reg.SubkeyNames("Software\\NetSkimbler\\None").empty());
}

TEST(Registry, TypedReadsFindNothingForAnotherTypeAndWritesReplaceTheType) {
  TRegistry reg;
  reg.WriteString(kOptions, "MaxJobs", "7");
  EXPECT_TRUE(reg.ValueExists(kOptions, "MaxJobs"));
  EXPECT_EQ(reg.ReadDword(kOptions, "MaxJobs"), std::nullopt);
  EXPECT_EQ(reg.ReadBinary(kOptions, "MaxJobs"), std::nullopt);
  EXPECT_EQ(reg.ReadString(kOptions, "MaxJobs"), "7");
  reg.WriteDword(kOptions, "MaxJobs", 7);
  EXPECT_EQ(reg.ReadString(kOptions, "MaxJobs"), std::nullopt);
  EXPECT_EQ(reg.ReadDword(kOptions, "MaxJobs"), 7u);
  EXPECT_EQ(reg.ValueCount(kOptions), 1u);
}

TEST(Registry, KeyHandleReadsAndWritesItsKey) {
  TRegistry reg;
  TRegKey root = reg.OpenKey("Software\\NetSkimbler");
  EXPECT_FALSE(root.Exists());
  EXPECT_EQ(root.ReadString("CurListFile"), std::nullopt);
  TRegKey options = reg.OpenKey(kOptions, true);
  EXPECT_TRUE(root.Exists());
  EXPECT_TRUE(options.WriteDword("MaxJobs", 4));
  EXPECT_EQ(root.Subkey("Options").ReadDword("MaxJobs"), 4u);
  EXPECT_EQ(root.SubkeyCount(), 1u);
  // The handle names its key, so it stays usable across a delete.
  reg.DeleteKey(kOptions);
  EXPECT_FALSE(options.Exists());
  EXPECT_EQ(options.ReadDword("MaxJobs"), std::nullopt);
  EXPECT_TRUE(options.WriteDword("MaxJobs", 5));
  EXPECT_EQ(reg.ReadDword(kOptions, "MaxJobs"), 5u);
}

TEST(Registry, MissingFileIsAnEmptyStoreWithoutMessage) {
  test::TTempDir dir;
  TRegistry reg;
  reg.WriteDword("x", "y", 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(reg.Load(dir.File("registry.reg")), TRegistry::TLoadStatus::Missing);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(reg.SubkeyCount(""), 0u);
  EXPECT_EQ(reg.FilePath(), dir.File("registry.reg"));
}

TEST(Registry, DamagedFileGivesEmptyStoreOneMessageAndAKeptCopy) {
  struct Case {
    const char* what;
    std::string text;
  };
  const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\NetSkimbler]\n\"Ok\"=dword:1\n";
  const std::vector<Case> cases = {
      {"empty file", ""},
      {"blank lines only", "\n\n  \n"},
      {"other header", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n"},
      {"binary garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
      {"other hive", head + "[HKEY_LOCAL_MACHINE\\Software]\n"},
      {"root name prefix only", head + "[HKEY_CURRENT_USERS\\Software]\n"},
      {"delete-key line", head + "[-HKEY_CURRENT_USER\\Software]\n"},
      {"key line not closed", head + "[HKEY_CURRENT_USER\\Software\n"},
      {"value before any key", "REGEDIT4\n\"User\"=\"x\"\n"},
      {"unterminated string", head + "\"User\"=\"anonymous\n"},
      {"text after string", head + "\"User\"=\"a\" b\n"},
      {"unterminated name", head + "\"User=\"a\"\n"},
      {"no equals sign", head + "\"User\" \"a\"\n"},
      {"unknown escape", head + "\"User\"=\"c:\\dir\"\n"},
      {"bad \\x escape", head + "\"User\"=\"\\xZ1\"\n"},
      {"dword not hex", head + "\"MaxJobs\"=dword:xyz\n"},
      {"dword too long", head + "\"MaxJobs\"=dword:123456789\n"},
      {"dword empty", head + "\"MaxJobs\"=dword:\n"},
      {"hex byte bad", head + "\"B\"=hex:00,zz\n"},
      {"hex byte too long", head + "\"B\"=hex:001\n"},
      {"hex gap", head + "\"B\"=hex:00,,01\n"},
      {"hex continued past end", head + "\"B\"=hex:00,\\\n"},
      {"other value type", head + "\"P\"=hex(2):41,00\n"},
      {"delete-value line", head + "\"User\"=-\n"},
      {"stray text", head + "MaxJobs=3\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TTempDir dir;
    const std::string path = dir.File("registry.reg");
    ASSERT_TRUE(WriteFileAtomically(path, c.text));
    TRegistry reg;
    testing::internal::CaptureStderr();
    EXPECT_EQ(reg.Load(path), TRegistry::TLoadStatus::Damaged);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(LinesIn(message), 1u) << message;
    EXPECT_THAT(message, HasSubstr(path));
    EXPECT_THAT(message, HasSubstr("damaged"));
    EXPECT_EQ(reg.SubkeyCount(""), 0u);
    EXPECT_EQ(reg.ValueCount(""), 0u);
    EXPECT_EQ(ReadWholeFile(path + ".damaged"), c.text);
    EXPECT_EQ(ModeOf(path + ".damaged"), 0600u);
    // A parse error left through Parse says where it is.
    std::string error;
    EXPECT_FALSE(reg.Parse(c.text, &error));
    EXPECT_THAT(error, HasSubstr("line "));
  }
}

TEST(Registry, QuietLoadOfDamagedFileSaysNothingButKeepsTheCopy) {
  test::TTempDir dir;
  const std::string path = dir.File("registry.reg");
  ASSERT_TRUE(WriteFileAtomically(path, "garbage"));
  TRegistry reg;
  testing::internal::CaptureStderr();
  EXPECT_EQ(reg.Load(path, false), TRegistry::TLoadStatus::Damaged);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(ReadWholeFile(path + ".damaged"), "garbage");
}

TEST(Registry, UnreadableFileGivesEmptyStoreAndOneMessage) {
  test::TTempDir dir;
  const std::string path = dir.File("registry.reg");
  ASSERT_TRUE(MakeFolders(path));  // a folder where the file should be cannot be read
  TRegistry reg;
  testing::internal::CaptureStderr();
  EXPECT_EQ(reg.Load(path), TRegistry::TLoadStatus::Unreadable);
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_EQ(LinesIn(message), 1u) << message;
  EXPECT_THAT(message, HasSubstr(path));
  EXPECT_EQ(reg.SubkeyCount(""), 0u);
}

TEST(Registry, SaveCreatesAPrivateFolderAndAPrivateFile) {
  test::TTempDir dir;
  const std::string path = dir.File("config/netskimbler/registry.reg");
  TRegistry reg;
  ASSERT_EQ(reg.Load(path), TRegistry::TLoadStatus::Missing);
  reg.WriteDword(kOptions, "MaxJobs", 3);
  ASSERT_TRUE(reg.Save());
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_EQ(ModeOf(dir.File("config/netskimbler")), 0700u);
  EXPECT_EQ(ModeOf(dir.File("config")), 0700u);
  // An existing file with looser rights becomes private on the next save.
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_TRUE(reg.Save());
  EXPECT_EQ(ModeOf(path), 0600u);
  TRegistry back;
  ASSERT_EQ(back.Load(path), TRegistry::TLoadStatus::Loaded);
  EXPECT_EQ(back.ReadDword(kOptions, "MaxJobs"), 3u);
}

TEST(Registry, SaveWithoutAPathFails) {
  TRegistry reg;
  reg.WriteDword(kOptions, "MaxJobs", 3);
  EXPECT_FALSE(reg.Save());
}

// A write that fails halfway (here: the file-size limit, which holds for every user) must
// leave the previous file as it was and no temporary file behind.
TEST(Registry, FailedSaveKeepsThePreviousFile) {
  test::TTempDir dir;
  const std::string path = dir.File("registry.reg");
  TRegistry reg;
  reg.Load(path);
  reg.WriteDword(kOptions, "MaxJobs", 3);
  ASSERT_TRUE(reg.Save());
  const std::string before = *ReadWholeFile(path);

  reg.WriteBinary(kOptions, "Big", std::string(64 * 1024, 'x'));
  rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = reg.Save();
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadWholeFile(path), before);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace nsk
