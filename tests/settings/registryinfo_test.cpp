// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/registryinfo.h"

#include <sys/stat.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "settings/crypt.h"
#include "tests/support/tempdir.h"

namespace nsk {

// Readable failure output: every field on a line of its own.
void PrintTo(const TRegistryInfo& s, std::ostream* os) {
  auto& o = *os;
  const auto list = [&](const char* name, const std::vector<std::string>& v) {
    o << "\n  " << name << ":";
    for (const auto& e : v) o << " [" << e << "]";
  };
  o << "{";
  o << "\n  ToolBarButtons: " << s.ToolBarButtons.size() << " ExtToolMenu: " << s.ExtToolMenu.size();
  o << "\n  Columns/InfoRowOfColumn:";
  for (int i = 0; i < kInfoColumnCount; ++i)
    o << " " << s.Columns[i].Id << (s.Columns[i].Visible ? "" : "-") << "/" << s.InfoRowOfColumn[i];
  list("FindHistory", s.FindHistory);
  o << "\n  CurListFile: " << s.CurListFile;
  list("PageHistory", s.PageHistory);
  o << "\n  BasketVisible " << s.BasketVisible << " User [" << s.User << "] Password ["
    << s.Password << "]";
  o << "\n  AutoSet " << s.AutoSet << " EverySkimbler " << s.EverySkimbler << " SkimblerNumber "
    << int(s.SkimblerNumber) << " MaxJobs " << int(s.MaxJobs) << " DownNow " << s.DownNow
    << " MaxErrors " << s.MaxErrors << " AlwaysRetry " << s.AlwaysRetry
    << " ConnectionTimeout " << s.ConnectionTimeout << " DataTimeout " << s.DataTimeout
    << " RetryDelay " << int(s.RetryDelay);
  for (const auto& p : s.Proxies)
    o << "\n  Proxy [" << p.Title.View() << "] [" << p.Address.View() << "] [" << p.Port.View()
      << "] " << int(p.ProxyType) << " " << int(p.NoCache) << int(p.PASV) << int(p.Authenticate)
      << " [" << p.ProxyUser.View() << "] [" << p.ProxyPassword.View() << "]";
  o << "\n  DefaultHttp " << s.DefaultHttp << " DefaultFtp " << s.DefaultFtp;
  for (const auto& c : s.Categories)
    o << "\n  Category [" << c.Description.View() << "] [" << c.Directory.View() << "]";
  o << "\n  CurrentCategory " << s.CurrentCategory << " ClipboardMonitor " << s.ClipboardMonitor;
  list("FileType", s.FileType);
  o << "\n  VirusCheck " << s.VirusCheck << " [" << s.VirusScanner << "] [" << s.ScannerArgs << "]";
  o << "\n  StartMin " << s.StartMin << " DeleteComplete " << s.DeleteComplete << " StartRunning "
    << s.StartRunning << " Confirm " << s.Confirm << " HangAfter " << s.HangAfter
    << " ShutAfter " << s.ShutAfter << " ExitAfter " << s.ExitAfter << " AutoSave "
    << s.AutoSave << " EveryBytes " << s.EveryBytes << " Scale " << s.Scale;
  o << std::hex << "\n  Colours " << s.BackgroundColor << " " << s.ScaleColor << " "
    << s.PlotColor << " " << s.FontColor;
  for (const TColor c : s.ViewColors) o << " " << c;
  o << std::dec << "\n  Images [" << s.JobBkImage << "] [" << s.InfoBkImage << "] ["
    << s.LogBkImage << "] [" << s.BlockBkImage << "]";
  o << "\n  HistogramType " << s.HistogramType << " Referer [" << s.Referer << "] UserAgent ["
    << s.UserAgent << "]";
  o << "\n  StartSchedule " << s.StartSchedule << " StopSchedule " << s.StopSchedule
    << " StartTime " << s.StartTime << " StopTime " << s.StopTime;
  list("URLHistory", s.URLHistory);
  o << "\n}";
}

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

const std::string kOptions(kOptionsKey);
const std::string kProxy(kProxyKey);
const std::string kCategory(kCategoryKey);
const std::string kHistory(kHistoryKey);
const std::string kRoot(kRootKey);

TProxyInfo Proxy(const std::string& title, const std::string& address = "",
                 const std::string& port = "") {
  TProxyInfo p{};
  p.Title = title;
  p.Address = address;
  p.Port = port;
  return p;
}

TCategoryInfo Category(const std::string& description, const std::string& directory) {
  TCategoryInfo c;
  c.Description = description;
  c.Directory = directory;
  return c;
}

// Settings with every saved field away from its default.
TRegistryInfo ChangedSettings(const std::string& folder) {
  TRegistryInfo s;
  s.CurListFile = folder + "列表/my list.mjl";
  s.User = "用户 \"quoted\" back\\slash";
  s.Password = "pass\\word\"with 中文 and \xff";
  s.AutoSet = true;
  s.EverySkimbler = 1234;
  s.SkimblerNumber = 20;
  s.MaxJobs = 10;
  s.DownNow = false;
  s.MaxErrors = 10000;
  s.AlwaysRetry = true;
  s.ConnectionTimeout = 100000;
  s.DataTimeout = 11;
  s.RetryDelay = 60;
  TProxyInfo http = Proxy("公司代理", "proxy.example.com", "3128");
  http.ProxyType = TProxyType::Http;
  http.NoCache = 1;
  http.Authenticate = 1;
  http.ProxyUser = "me";
  // Longer than half of the 255 bytes the stored form may take after the cut.
  http.ProxyPassword = std::string(200, 'p');
  TProxyInfo ftp = Proxy("ftp gate", "10.0.0.1", "21");
  ftp.ProxyType = TProxyType::FtpSiteUserAtHost;
  ftp.PASV = 1;
  ftp.ProxyPassword = "";
  s.Proxies = {Proxy("Direct Connection"), http, ftp};
  s.DefaultHttp = 1;
  s.DefaultFtp = 2;
  s.Categories = {Category("Default", folder), Category("软件", folder + "软件/"),
                  Category("Music", "/srv/music/")};
  s.ClipboardMonitor = false;
  s.FileType = {"RAR", "7Z", "中文"};
  s.VirusCheck = true;
  s.VirusScanner = "/usr/bin/clamscan";
  s.ScannerArgs = "--no-summary";
  s.StartMin = true;
  s.DeleteComplete = true;
  s.StartRunning = true;
  s.Confirm = false;
  s.HangAfter = true;
  s.ShutAfter = true;
  s.ExitAfter = true;
  s.AutoSave = false;
  s.EveryBytes = 500;
  s.Scale = 1000;
  s.BackgroundColor = 0x112233;
  s.ScaleColor = 0x445566;
  s.PlotColor = 0x778899;
  s.FontColor = 0xAABBCC;
  s.ViewColors = {1, 2, 3, 4, 0x80000012, 0x8000000F, 0x00FFFFFF, 0xDDEEFF};
  s.JobBkImage = "/img/job.bmp";
  s.InfoBkImage = "/img/info.bmp";
  s.LogBkImage = "/img/日志.bmp";
  s.BlockBkImage = "/img/block.bmp";
  s.HistogramType = 1;
  s.Referer = "http://example.com/page?a=1&b=\"2\"";
  s.UserAgent = "Mozilla/5.0 (X11; Linux)";
  s.StartSchedule = true;
  s.StopSchedule = true;
  s.StartTime = 1.0 / 3.0;
  s.StopTime = 0.999988425925926;
  for (int i = 0; i < 12; ++i) s.URLHistory.push_back("http://h/" + std::to_string(i) + ".zip");
  return s;
}

// What a load gives back of s: the fields that are not saved here keep their defaults.
TRegistryInfo SavedPart(const TRegistryInfo& s) {
  TRegistryInfo expected = s;
  const TRegistryInfo fresh;
  expected.ToolBarButtons = fresh.ToolBarButtons;
  expected.ExtToolMenu = fresh.ExtToolMenu;
  expected.Columns = fresh.Columns;
  expected.InfoRowOfColumn = fresh.InfoRowOfColumn;
  expected.FindHistory = fresh.FindHistory;
  expected.PageHistory = fresh.PageHistory;
  expected.BasketVisible = fresh.BasketVisible;
  expected.CurrentCategory = fresh.CurrentCategory;
  return expected;
}

TRegistryInfo Loaded(TRegistry& reg) {
  TRegistryInfo s;
  s.LoadOptions(reg);
  return s;
}

std::string TimeBytes(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

TEST(Settings, FirstStartWithoutAnyKeyGivesEveryDefault) {
  test::THomeDir home;
  TRegistryInfo s;
  s.LoadOptions();
  EXPECT_FALSE(PathExists(RegistryFilePath()));  // loading writes nothing

  EXPECT_TRUE(s.ToolBarButtons.empty());
  EXPECT_TRUE(s.ExtToolMenu.empty());
  for (int i = 0; i < kInfoColumnCount; ++i) {
    EXPECT_EQ(s.Columns[i], (TInfoColumn{i, true}));
    EXPECT_EQ(s.InfoRowOfColumn[i], i);
  }
  EXPECT_EQ(s.CurListFile, home.File("skimbler.mjl"));
  EXPECT_FALSE(s.BasketVisible);
  EXPECT_EQ(s.User, "anonymous");
  EXPECT_EQ(s.Password.size(), 20u);
  EXPECT_THAT(s.Password, ::testing::MatchesRegex("[a-z]+@[a-z]+\\.[a-z]+"));
  EXPECT_FALSE(s.AutoSet);
  EXPECT_EQ(s.EverySkimbler, 200);
  EXPECT_EQ(s.SkimblerNumber, 4);
  EXPECT_EQ(s.MaxJobs, 3);
  EXPECT_TRUE(s.DownNow);
  EXPECT_EQ(s.MaxErrors, 10);
  EXPECT_FALSE(s.AlwaysRetry);
  EXPECT_EQ(s.ConnectionTimeout, 60);
  EXPECT_EQ(s.DataTimeout, 60);
  EXPECT_EQ(s.RetryDelay, 2);
  ASSERT_EQ(s.Proxies.size(), 1u);
  EXPECT_EQ(s.Proxies[0], Proxy("Direct Connection"));
  EXPECT_EQ(s.Proxies[0].ProxyType, TProxyType::Direct);
  EXPECT_EQ(s.DefaultHttp, 0);
  EXPECT_EQ(s.DefaultFtp, 0);
  ASSERT_EQ(s.Categories.size(), 1u);
  EXPECT_EQ(s.Categories[0].Description.Str(), "Default");
  EXPECT_EQ(s.Categories[0].Directory.Str(), UserDownloadFolder());
  EXPECT_EQ(s.CurrentCategory, 0);
  EXPECT_TRUE(s.ClipboardMonitor);
  EXPECT_THAT(s.FileType, ElementsAre("ZIP", "EXE"));
  EXPECT_FALSE(s.VirusCheck);
  EXPECT_EQ(s.VirusScanner, "");
  EXPECT_EQ(s.ScannerArgs, "");
  EXPECT_FALSE(s.StartMin || s.DeleteComplete || s.StartRunning || s.HangAfter || s.ShutAfter ||
               s.ExitAfter);
  EXPECT_TRUE(s.Confirm);
  EXPECT_TRUE(s.AutoSave);
  EXPECT_EQ(s.EveryBytes, 50);
  EXPECT_EQ(s.Scale, 5);
  EXPECT_EQ(s.BackgroundColor, 0x000000u);
  EXPECT_EQ(s.ScaleColor, 0x800080u);
  EXPECT_EQ(s.PlotColor, 0xFF00FFu);
  EXPECT_EQ(s.FontColor, 0xFFFF00u);
  EXPECT_EQ(s.StateColor(), 0xFF0000u);
  EXPECT_EQ(s.CommandColor(), 0x008000u);
  EXPECT_EQ(s.ErrorColor(), 0x0000FFu);
  EXPECT_EQ(s.ServerColor(), 0x000000u);
  EXPECT_EQ(s.JobColor(), 0x80000005u);
  EXPECT_EQ(s.InfoColor(), 0x80000005u);
  EXPECT_EQ(s.LogColor(), 0x80000005u);
  EXPECT_EQ(s.BlockColor(), 0x80000005u);
  EXPECT_TRUE(s.JobBkImage.empty() && s.InfoBkImage.empty() && s.LogBkImage.empty() &&
              s.BlockBkImage.empty());
  EXPECT_EQ(s.HistogramType, 0);
  EXPECT_EQ(s.Referer, "");
  EXPECT_EQ(s.UserAgent, "Skimbler/1.0");
  EXPECT_FALSE(s.StartSchedule || s.StopSchedule);
  EXPECT_EQ(s.StartTime, 22.0 / 24.0);
  EXPECT_EQ(s.StopTime, 0.125);
  EXPECT_TRUE(s.URLHistory.empty());
  EXPECT_TRUE(s.FindHistory.empty() && s.PageHistory.empty());
}

TEST(Settings, ColourAccessorsFollowTheStoredOrderAndTheLogKinds) {
  test::THomeDir home;
  TRegistryInfo s;
  s.ViewColors = {10, 11, 12, 13, 14, 15, 16, 17};
  EXPECT_EQ(s.LogLineColor(TLogType::ltState), 10u);
  EXPECT_EQ(s.LogLineColor(TLogType::ltCommand), 11u);
  EXPECT_EQ(s.LogLineColor(TLogType::ltError), 12u);
  EXPECT_EQ(s.LogLineColor(TLogType::ltServer), 13u);
  EXPECT_EQ(s.ViewColor(TViewColor::Job), 14u);
  EXPECT_EQ(s.InfoColor(), 15u);
  s.LogColor() = 99;
  EXPECT_EQ(s.ViewColors[6], 99u);
  EXPECT_EQ(s.BlockColor(), 17u);
}

TEST(Settings, InfoColumnLabels) {
  const char* labels[] = {"URL",         "Save As",        "File Size",       "File Date",
                          "Priority",    "Ratio",          "Bytes Received",  "Bytes Left",
                          "Bps",         "Average Bps",    "Time Elasped",    "Time Left",
                          "Skimbler Number", "Errors",     "Attempt",         "Comment",
                          "Last Start Time", "Last Stop Time"};
  for (int i = 0; i < kInfoColumnCount; ++i) EXPECT_EQ(InfoColumnLabel(i), labels[i]) << i;
  EXPECT_EQ(InfoColumnLabel(static_cast<int>(TInfoColumnId::TimeElapsed)), "Time Elasped");
  EXPECT_EQ(InfoColumnLabel(-1), "");
  EXPECT_EQ(InfoColumnLabel(18), "");
}

TEST(Settings, EverySavedFieldComesBackThroughTheRegistryFile) {
  test::THomeDir home;
  const TRegistryInfo saved = ChangedSettings(home.Path());
  saved.SaveOptions();
  struct stat st {};
  ASSERT_EQ(::stat(RegistryFilePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  TRegistryInfo back;
  back.LoadOptions();
  EXPECT_EQ(back, SavedPart(saved));
  EXPECT_EQ(back.Proxies[1].ProxyPassword.Str(), std::string(200, 'p'));
}

TEST(Settings, SavedKeysHoldTheValuesInTheirOrderAndTypes) {
  test::THomeDir home;
  TRegistryInfo s;
  s.Proxies = {Proxy("Direct Connection")};
  s.Categories = {Category("Default", "/dl/")};
  s.URLHistory = {"http://a/1", "http://a/2"};
  TRegistry reg;
  s.SaveOptions(reg);

  const struct {
    const char* name;
    TRegType type;
  } options[] = {
      {"User", TRegType::String},           {"Password", TRegType::String},
      {"AutoSet", TRegType::Dword},         {"SkimblerNumber", TRegType::Dword},
      {"EverySkimbler", TRegType::Dword},   {"MaxJobs", TRegType::Dword},
      {"DownNow", TRegType::Dword},         {"MaxErrors", TRegType::Dword},
      {"AlwaysRetry", TRegType::Dword},     {"ConnectionTimeout", TRegType::Dword},
      {"DataTimeout", TRegType::Dword},     {"RetryDelay", TRegType::Dword},
      {"ClipboardMonitor", TRegType::Dword}, {"FileType", TRegType::String},
      {"VirusCheck", TRegType::Dword},      {"VirusScanner", TRegType::String},
      {"ScannerArgs", TRegType::String},    {"StartMin", TRegType::Dword},
      {"DeleteComplete", TRegType::Dword},  {"StartRunning", TRegType::Dword},
      {"Confirm", TRegType::Dword},         {"ShutAfter", TRegType::Dword},
      {"ExitAfter", TRegType::Dword},       {"HangAfter", TRegType::Dword},
      {"AutoSave", TRegType::Dword},        {"EveryBytes", TRegType::Dword},
      {"Scale", TRegType::Dword},           {"BackgroundColor", TRegType::Dword},
      {"ScaleColor", TRegType::Dword},      {"PlotColor", TRegType::Dword},
      {"FontColor", TRegType::Dword},       {"StateColor", TRegType::Dword},
      {"CommandColor", TRegType::Dword},    {"ErrorColor", TRegType::Dword},
      {"ServerColor", TRegType::Dword},     {"JobColor", TRegType::Dword},
      {"InfoColor", TRegType::Dword},       {"LogColor", TRegType::Dword},
      {"BlockColor", TRegType::Dword},      {"JobBkImage", TRegType::String},
      {"InfoBkImage", TRegType::String},    {"LogBkImage", TRegType::String},
      {"BlockBkImage", TRegType::String},   {"HistogramType", TRegType::Dword},
      {"Referer", TRegType::String},        {"UserAgent", TRegType::String},
      {"StartSchedule", TRegType::Dword},   {"StopSchedule", TRegType::Dword},
      {"StartTime", TRegType::Binary},      {"StopTime", TRegType::Binary},
  };
  std::vector<std::string> names;
  for (const auto& o : options) {
    names.push_back(o.name);
    const auto v = reg.ReadValue(kOptions, o.name);
    ASSERT_TRUE(v.has_value()) << o.name;
    EXPECT_EQ(v->Type, o.type) << o.name;
  }
  EXPECT_THAT(reg.ValueNames(kOptions), ElementsAreArray(names));

  EXPECT_EQ(reg.ReadBinary(kOptions, "StartTime"), TimeBytes("555555555555ed3f"));
  EXPECT_EQ(reg.ReadBinary(kOptions, "StopTime"), TimeBytes("000000000000c03f"));
  EXPECT_EQ(reg.ReadString(kOptions, "FileType"), "ZIP EXE ");
  EXPECT_EQ(reg.ReadString(kOptions, "Password"), EncodePassword(kDefaultPassword));
  EXPECT_EQ(reg.ReadDword(kOptions, "JobColor"), 0x80000005u);
  EXPECT_EQ(reg.ReadDword(kOptions, "DownNow"), 1u);
  EXPECT_EQ(reg.ReadDword(kOptions, "AutoSet"), 0u);

  EXPECT_THAT(reg.ValueNames(kProxy), ElementsAre("DefaultHttp", "DefaultFtp"));
  EXPECT_THAT(reg.SubkeyNames(kProxy), ElementsAre("00000000"));
  EXPECT_THAT(reg.ValueNames(kProxy + "\\00000000"),
              ElementsAre("Title", "Address", "Port", "ProxyType", "NoCache", "PASV",
                          "Authenticate", "User", "Password"));
  EXPECT_EQ(reg.ReadDword(kProxy + "\\00000000", "ProxyType"), 0u);
  EXPECT_EQ(reg.ReadString(kProxy + "\\00000000", "Password"), "*%g#");
  EXPECT_THAT(reg.ValueNames(kCategory + "\\00000000"), ElementsAre("Description", "Directory"));
  EXPECT_THAT(reg.ValueNames(kHistory), ElementsAre("0", "1"));
  EXPECT_EQ(reg.ReadString(kHistory, "1"), "http://a/2");
  EXPECT_THAT(reg.ValueNames(kRoot), ElementsAre("CurListFile"));
  EXPECT_EQ(reg.ReadString(kRoot, "CurListFile"), s.CurListFile);
}

TEST(Settings, ListEntriesAreNamedByEightUpperCaseHexDigits) {
  EXPECT_EQ(ListEntryName(0), "00000000");
  EXPECT_EQ(ListEntryName(10), "0000000A");
  EXPECT_EQ(ListEntryName(0x1F), "0000001F");
  test::THomeDir home;
  TRegistryInfo s;
  s.Proxies.clear();
  for (int i = 0; i < 12; ++i) s.Proxies.push_back(Proxy("p" + std::to_string(i)));
  TRegistry reg;
  s.SaveOptions(reg);
  EXPECT_EQ(reg.ReadString(kProxy + "\\0000000B", "Title"), "p11");
  EXPECT_EQ(Loaded(reg).Proxies, s.Proxies);
}

TEST(Settings, OptionsKeyWithoutAValueGivesItsDefault) {
  test::THomeDir home;
  TRegistry reg;
  reg.WriteDword(kOptions, "MaxJobs", 5);
  TRegistryInfo s;
  s.Referer = "set before";
  s.JobBkImage = "/img/kept.bmp";
  s.LoadOptions(reg);
  EXPECT_TRUE(s.FileType.empty());  // clipboard capture then accepts nothing
  EXPECT_EQ(s.MaxJobs, 5);
  EXPECT_EQ(s.Referer, "");                  // an absent value takes its default...
  EXPECT_EQ(s.JobBkImage, "/img/kept.bmp");  // ...except the images, which stay
  EXPECT_EQ(s.User, "anonymous");
  EXPECT_EQ(s.Password, kDefaultPassword);
  EXPECT_EQ(s.StartTime, 22.0 / 24.0);
}

TEST(Settings, OnlyTheFirstNSubkeysOfAListAreRead) {
  test::THomeDir home;
  TRegistry reg;
  reg.WriteString(kProxy + "\\00000000", "Title", "first");
  reg.WriteString(kProxy + "\\00000002", "Title", "third");
  reg.WriteString(kCategory + "\\00000001", "Description", "second");
  reg.WriteString(kCategory + "\\00000005", "Description", "sixth");
  const TRegistryInfo s = Loaded(reg);
  ASSERT_EQ(s.Proxies.size(), 1u);
  EXPECT_EQ(s.Proxies[0].Title.Str(), "first");
  // Subkeys 0 and 1 are probed; only 1 exists.
  ASSERT_EQ(s.Categories.size(), 1u);
  EXPECT_EQ(s.Categories[0].Description.Str(), "second");
}

TEST(Settings, AbsentProxyValuesStayEmptyAndKeysWithoutEntriesGiveTheDefaultEntry) {
  test::THomeDir home;
  TRegistry reg;
  reg.CreateKey(kProxy + "\\00000000");
  reg.CreateKey(kCategory);
  const TRegistryInfo s = Loaded(reg);
  ASSERT_EQ(s.Proxies.size(), 1u);
  EXPECT_EQ(s.Proxies[0], TProxyInfo{});
  ASSERT_EQ(s.Categories.size(), 1u);
  EXPECT_EQ(s.Categories[0].Description.Str(), "Default");
}

TEST(Settings, LongTextsAreCutWithoutSplittingACharacter) {
  test::THomeDir home;
  const std::string chinese300 = [] {
    std::string s;
    for (int i = 0; i < 100; ++i) s += "下";  // 300 bytes
    return s;
  }();
  const struct {
    std::string key;
    const char* name;
    std::string stored;
    std::string expected;
  } cases[] = {
      {kProxy + "\\00000000", "Port", "123456789012", "1234567890"},
      {kProxy + "\\00000000", "Port", "端口端口", "端口端"},  // 12 bytes: 9 fit
      {kProxy + "\\00000000", "Title", std::string(300, 't'), std::string(255, 't')},
      {kProxy + "\\00000000", "Title", chinese300, chinese300.substr(0, 255)},
      {kProxy + "\\00000000", "Address", "a" + chinese300, "a" + chinese300.substr(0, 252)},
      {kProxy + "\\00000000", "User", chinese300, chinese300.substr(0, 255)},
      {kProxy + "\\00000000", "Password", "x" + chinese300, "x" + chinese300.substr(0, 252)},
      {kCategory + "\\00000000", "Description", "ab" + chinese300, "ab" + chinese300.substr(0, 252)},
      {kCategory + "\\00000000", "Directory", std::string(256, 'd'), std::string(255, 'd')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.stored.substr(0, 20));
    TRegistry reg;
    reg.WriteString(c.key, c.name, c.stored);
    const TRegistryInfo s = Loaded(reg);
    const std::string name = c.name;
    std::string got;
    if (c.key.starts_with(kProxy)) {
      const TProxyInfo& p = s.Proxies.at(0);
      got = name == "Port"      ? p.Port.Str()
            : name == "Title"   ? p.Title.Str()
            : name == "Address" ? p.Address.Str()
            : name == "User"    ? p.ProxyUser.Str()
                                : p.ProxyPassword.Str();
    } else {
      const TCategoryInfo& cat = s.Categories.at(0);
      got = name == "Description" ? cat.Description.Str() : cat.Directory.Str();
    }
    EXPECT_EQ(got, c.expected);
  }
}

TEST(Settings, FileTypeIsSplitAtBlanksIntoWordsOfAtMostTenCharacters) {
  test::THomeDir home;
  const struct {
    const char* stored;
    std::vector<std::string> words;
  } cases[] = {
      {"zip  rar", {"zip", "rar"}},
      {"ZIP EXE ", {"ZIP", "EXE"}},
      {"", {}},
      {"   ", {}},
      {"VERYLONGEXTENSION mp3", {"VERYLONGEX", "mp3"}},
      {"压缩文件扩展名", {"压缩文"}},  // 21 bytes; the tenth byte is inside a character
      {"zip zip", {"zip", "zip"}},
  };
  for (const auto& c : cases) {
    TRegistry reg;
    reg.WriteString(kOptions, "FileType", c.stored);
    EXPECT_EQ(Loaded(reg).FileType, c.words) << c.stored;
  }
}

TEST(Settings, CurrentListFile) {
  const struct {
    const char* what;
    bool rootKey;
    const char* storedName;  // nullptr: no "CurListFile" value
    std::vector<std::string> existing;
    std::string expectedName;  // relative to the program folder
  } cases[] = {
      {"no root key, list file exists", false, nullptr, {"skimbler.mjl"}, "skimbler.mjl"},
      {"root key, no value, no file", true, nullptr, {}, "skimbler.mjl"},
      {"root key, no value, file exists", true, nullptr, {"skimbler.mjl"}, "skimbler(1).mjl"},
      {"root key, no value, numbered taken", true, nullptr,
       {"skimbler.mjl", "skimbler(1).mjl", "skimbler(2).mjl.wyn"}, "skimbler(3).mjl"},
      {"value given", true, "other.mjl", {"skimbler.mjl"}, "other.mjl"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::THomeDir home;
    for (const auto& f : c.existing) ASSERT_TRUE(WriteFileAtomically(home.File(f), "x"));
    TRegistry reg;
    if (c.rootKey) reg.CreateKey(kRoot);
    if (c.storedName) reg.WriteString(kRoot, "CurListFile", home.File(c.storedName));
    EXPECT_EQ(Loaded(reg).CurListFile, home.File(c.expectedName));
  }
}

TEST(Settings, PasswordsAreStoredScrambledAndPlainOnesAreAccepted) {
  test::THomeDir home;
  TRegistryInfo s;
  s.Password = "";
  TProxyInfo p = Proxy("gate");
  p.ProxyPassword = "";
  s.Proxies = {p};
  TRegistry reg;
  s.SaveOptions(reg);
  EXPECT_EQ(reg.ReadString(kOptions, "Password"), "*%g#");
  EXPECT_EQ(reg.ReadString(kProxy + "\\00000000", "Password"), "*%g#");
  TRegistryInfo back = Loaded(reg);
  EXPECT_EQ(back.Password, "");
  EXPECT_EQ(back.Proxies[0].ProxyPassword.Str(), "");

  // A password stored as plain text is taken as it is and written scrambled next time.
  reg.WriteString(kOptions, "Password", "plain");
  reg.WriteString(kProxy + "\\00000000", "Password", "proxyplain");
  back = Loaded(reg);
  EXPECT_EQ(back.Password, "plain");
  EXPECT_EQ(back.Proxies[0].ProxyPassword.Str(), "proxyplain");
  back.SaveOptions(reg);
  EXPECT_EQ(reg.ReadString(kOptions, "Password"), EncodePassword("plain"));
  EXPECT_EQ(reg.ReadString(kProxy + "\\00000000", "Password"), EncodePassword("proxyplain"));
}

TEST(Settings, ShrunkListsAreRewrittenDenselyFromZero) {
  test::THomeDir home;
  TRegistryInfo s;
  s.Proxies = {Proxy("one"), Proxy("two"), Proxy("three")};
  s.Categories = {Category("a", "/a/"), Category("b", "/b/"), Category("c", "/c/")};
  s.URLHistory = {"http://h/1", "http://h/2", "http://h/3"};
  s.SaveOptions();

  s.Proxies = {Proxy("three")};
  s.Categories = {Category("b", "/b/"), Category("c", "/c/")};
  s.URLHistory = {"http://h/3"};
  s.SaveOptions();

  TRegistry reg;
  ASSERT_EQ(reg.Load(RegistryFilePath()), TRegistry::TLoadStatus::Loaded);
  EXPECT_THAT(reg.SubkeyNames(kProxy), ElementsAre("00000000"));
  EXPECT_EQ(reg.ReadString(kProxy + "\\00000000", "Title"), "three");
  EXPECT_THAT(reg.SubkeyNames(kCategory), ElementsAre("00000000", "00000001"));
  EXPECT_EQ(reg.ReadString(kCategory + "\\00000001", "Description"), "c");
  EXPECT_THAT(reg.ValueNames(kHistory), ElementsAre("0"));
  EXPECT_EQ(reg.ReadString(kHistory, "0"), "http://h/3");

  TRegistryInfo back;
  back.LoadOptions();
  EXPECT_EQ(back.Proxies, s.Proxies);
  EXPECT_EQ(back.Categories, s.Categories);
  EXPECT_EQ(back.URLHistory, s.URLHistory);
}

TEST(Settings, StrayListEntriesDoNotSurviveASave) {
  test::THomeDir home;
  TRegistry reg;
  reg.WriteString(kProxy + "\\00000000", "Title", "first");
  reg.WriteString(kProxy + "\\00000002", "Title", "stray");
  reg.WriteString(kHistory, "7", "http://stray/");
  Loaded(reg).SaveOptions(reg);
  EXPECT_THAT(reg.SubkeyNames(kProxy), ElementsAre("00000000"));
  EXPECT_TRUE(reg.ValueNames(kHistory).empty());
}

TEST(Settings, HistoryIsReadByDecimalIndexUpToTheNumberOfValues) {
  test::THomeDir home;
  TRegistry reg;
  reg.WriteString(kHistory, "1", "http://h/b");
  reg.WriteString(kHistory, "0", "http://h/a");
  reg.WriteString(kHistory, "3", "http://h/d");  // 3 values: "3" is not probed
  EXPECT_THAT(Loaded(reg).URLHistory, ElementsAre("http://h/a", "http://h/b"));
}

TEST(Settings, IntegersInByteFieldsKeepTheLowEightBitsAndFlagsAnyNonZero) {
  test::THomeDir home;
  TRegistry reg;
  reg.WriteDword(kOptions, "MaxJobs", 0x105);
  reg.WriteDword(kOptions, "SkimblerNumber", 0x1FF);
  reg.WriteDword(kOptions, "RetryDelay", 0x100);
  reg.WriteDword(kOptions, "AutoSet", 7);
  reg.WriteDword(kOptions, "DownNow", 0);
  reg.WriteDword(kOptions, "MaxErrors", 0xFFFFFFFF);
  reg.WriteDword(kProxy + "\\00000000", "ProxyType", 0x102);
  reg.WriteDword(kProxy + "\\00000000", "PASV", 0x80000000);
  const TRegistryInfo s = Loaded(reg);
  EXPECT_EQ(s.MaxJobs, 5);
  EXPECT_EQ(s.SkimblerNumber, 0xFF);
  EXPECT_EQ(s.RetryDelay, 0);
  EXPECT_TRUE(s.AutoSet);
  EXPECT_FALSE(s.DownNow);
  EXPECT_EQ(s.MaxErrors, -1);
  EXPECT_EQ(s.Proxies[0].ProxyType, TProxyType::FtpUserAtHostPort);
  EXPECT_EQ(s.Proxies[0].PASV, 1);
}

TEST(Settings, DefaultProxyIndexesOutsideTheListFallBackToTheFirst) {
  test::THomeDir home;
  const struct {
    std::uint32_t http, ftp;
    std::int32_t expectedHttp, expectedFtp;
  } cases[] = {
      {1, 0, 1, 0},
      {2, 1, 0, 1},
      {0xFFFFFFFF, 7, 0, 0},
  };
  for (const auto& c : cases) {
    TRegistry reg;
    reg.WriteDword(kProxy, "DefaultHttp", c.http);
    reg.WriteDword(kProxy, "DefaultFtp", c.ftp);
    reg.CreateKey(kProxy + "\\00000000");
    reg.CreateKey(kProxy + "\\00000001");
    const TRegistryInfo s = Loaded(reg);
    EXPECT_EQ(s.DefaultHttp, c.expectedHttp) << c.http;
    EXPECT_EQ(s.DefaultFtp, c.expectedFtp) << c.ftp;
  }
}

// A value of another type than expected counts as absent.
TEST(Settings, ValuesOfAnUnexpectedTypeCountAsAbsent) {
  test::THomeDir home;
  const std::string proxy0 = kProxy + "\\00000000";
  const struct {
    const char* what;
    std::string key;
    const char* name;
    TRegValue value;
  } cases[] = {
      {"integer as text", kOptions, "MaxJobs", TRegValue::OfString("7")},
      {"flag as binary", kOptions, "DownNow", TRegValue::OfBinary(std::string(4, '\0'))},
      {"text as integer", kOptions, "User", TRegValue::OfDword(1)},
      {"password as binary", kOptions, "Password", TRegValue::OfBinary("*%g#45")},
      {"list as integer", kOptions, "FileType", TRegValue::OfDword(3)},
      {"time too short", kOptions, "StartTime", TRegValue::OfBinary("\x01\x02\x03\x04")},
      {"time as integer", kOptions, "StopTime", TRegValue::OfDword(0)},
      {"colour as text", kOptions, "JobColor", TRegValue::OfString("red")},
      {"port as integer", proxy0, "Port", TRegValue::OfDword(8080)},
      {"proxy type as text", proxy0, "ProxyType", TRegValue::OfString("1")},
      {"default proxy as text", kProxy, "DefaultHttp", TRegValue::OfString("1")},
      {"history entry as integer", kHistory, "0", TRegValue::OfDword(1)},
      {"list file as integer", kRoot, "CurListFile", TRegValue::OfDword(1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TRegistry reg;
    reg.CreateKey(kOptions);
    reg.CreateKey(proxy0);
    reg.WriteValue(c.key, c.name, c.value);
    TRegistry plain;
    plain.CreateKey(kOptions);
    plain.CreateKey(proxy0);
    plain.CreateKey(c.key);
    EXPECT_EQ(Loaded(reg), Loaded(plain));
  }
}

TEST(Settings, DamagedRegistryFileGivesDefaultsAndTheNextSaveRepairsIt) {
  test::THomeDir home;
  ASSERT_TRUE(WriteFileAtomically(RegistryFilePath(), "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\"
                                                      "NetSkimbler\\Options]\n\"MaxJobs\"=dwo"));
  TRegistryInfo s;
  testing::internal::CaptureStderr();
  s.LoadOptions();
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_THAT(message, HasSubstr("damaged"));
  TRegistry empty;
  EXPECT_EQ(s, Loaded(empty));

  s.MaxJobs = 7;
  testing::internal::CaptureStderr();
  s.SaveOptions();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // reported once, at the load
  TRegistryInfo back;
  back.LoadOptions();
  EXPECT_EQ(back.MaxJobs, 7);
  EXPECT_TRUE(PathExists(RegistryFilePath() + ".damaged"));
}

TEST(Settings, SavingKeepsTheOtherKeysOfTheFile) {
  test::THomeDir home;
  {
    TRegistry reg;
    reg.Load(RegistryFilePath());
    reg.WriteDword("Software\\NetSkimbler\\MainWindow", "Width", 800);
    reg.WriteString(kOptions, "SomethingNewer", "kept");
    ASSERT_TRUE(reg.Save());
  }
  TRegistryInfo().SaveOptions();
  TRegistry reg;
  ASSERT_EQ(reg.Load(RegistryFilePath()), TRegistry::TLoadStatus::Loaded);
  EXPECT_EQ(reg.ReadDword("Software\\NetSkimbler\\MainWindow", "Width"), 800u);
  EXPECT_EQ(reg.ReadString(kOptions, "SomethingNewer"), "kept");
  EXPECT_EQ(reg.ReadDword(kOptions, "MaxJobs"), 3u);
}

TEST(Settings, ASecondLoadReplacesTheListsInsteadOfAddingToThem) {
  test::THomeDir home;
  TRegistry reg;
  reg.WriteString(kProxy + "\\00000000", "Title", "p");
  reg.WriteString(kCategory + "\\00000000", "Description", "c");
  reg.WriteString(kHistory, "0", "http://h/");
  TRegistryInfo s;
  s.LoadOptions(reg);
  s.LoadOptions(reg);
  EXPECT_EQ(s.Proxies.size(), 1u);
  EXPECT_EQ(s.Categories.size(), 1u);
  EXPECT_EQ(s.URLHistory.size(), 1u);
}

}  // namespace
}  // namespace nsk
