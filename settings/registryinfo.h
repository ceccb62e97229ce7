// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/logtype.h"
#include "settings/proxyinfo.h"
#include "settings/shortstring.h"

namespace nsk {

class TRegistry;

// A colour in the order 0x00BBGGRR; with the top bit set it names a system colour whose
// index is in the low byte.
using TColor = std::uint32_t;
inline constexpr TColor kSystemWindowColor = 0x80000005;  // COLOR_WINDOW

// The default login password of new URLs, the customary anonymous-FTP address. Exactly 20
// characters, on a domain reserved for examples.
inline constexpr std::string_view kDefaultPassword = "skimbler@example.com";

// One download category: its name and the folder its jobs are saved to.
struct TCategoryInfo {
  TShortString<255> Description;
  TShortString<255> Directory;

  friend bool operator==(const TCategoryInfo&, const TCategoryInfo&) = default;
};

// One external tool of the Tools menu.
struct TExeFileInfo {
  std::string Title;
  std::string ProgramFile;
  std::string Workdir;
  std::string Params;

  friend bool operator==(const TExeFileInfo&, const TExeFileInfo&) = default;
};

// The rows of the info panel.
inline constexpr int kInfoColumnCount = 18;

enum class TInfoColumnId : std::int32_t {
  URL = 0,
  SaveAs = 1,
  FileSize = 2,
  FileDate = 3,
  Priority = 4,
  Ratio = 5,
  BytesReceived = 6,
  BytesLeft = 7,
  Bps = 8,
  AverageBps = 9,
  TimeElapsed = 10,
  TimeLeft = 11,
  SkimblerNumber = 12,
  Errors = 13,
  Attempt = 14,
  Comment = 15,
  LastStartTime = 16,
  LastStopTime = 17,
};

// The label shown for each column id, indexed by id.
inline constexpr std::array<std::string_view, kInfoColumnCount> kInfoColumnLabels = {
    "URL",         "Save As",         "File Size",      "File Date",      "Priority",
    "Ratio",       "Bytes Received",  "Bytes Left",     "Bps",            "Average Bps",
    "Time Elasped", "Time Left",      "Skimbler Number", "Errors",        "Attempt",
    "Comment",     "Last Start Time", "Last Stop Time",
};

// The label of a column id; empty for an id outside 0..17.
std::string_view InfoColumnLabel(std::int32_t id);

struct TInfoColumn {
  std::int32_t Id = 0;  // 0..17
  bool Visible = true;

  friend bool operator==(const TInfoColumn&, const TInfoColumn&) = default;
};

// Index of each colour in TRegistryInfo::ViewColors. The first four are the log line
// colours and follow TLogType.
enum class TViewColor : std::uint8_t { State, Command, Error, Server, Job, Info, Log, Block };
inline constexpr int kViewColorCount = 8;

// Every user setting, the lists that go with them and the persisted look of the windows.
// The program has one instance; the front end creates it, loads it before any window exists
// and saves it at exit. Fields are read directly; only the GUI thread writes them.
class TRegistryInfo final {
 public:
  // Built-in defaults; CurListFile is in ProgramFolder().
  TRegistryInfo();

  std::vector<std::uint8_t> ToolBarButtons;  // action positions per toolbar slot, 0 = separator
  std::vector<TExeFileInfo> ExtToolMenu;
  std::array<TInfoColumn, kInfoColumnCount> Columns;        // entry i = {i, visible}
  std::array<std::int32_t, kInfoColumnCount> InfoRowOfColumn;  // -1 = hidden
  std::vector<std::string> FindHistory;                     // not saved
  std::string CurListFile;
  std::vector<std::string> PageHistory;                     // not saved
  bool BasketVisible = false;
  std::string User = "anonymous";
  std::string Password = std::string(kDefaultPassword);
  bool AutoSet = false;
  std::int32_t EverySkimbler = 200;  // KiB per connection with AutoSet
  std::uint8_t SkimblerNumber = 4;
  std::uint8_t MaxJobs = 3;
  bool DownNow = true;
  std::int32_t MaxErrors = 10;
  bool AlwaysRetry = false;
  std::int32_t ConnectionTimeout = 60;  // seconds
  std::int32_t DataTimeout = 60;        // seconds
  std::uint8_t RetryDelay = 2;          // seconds
  std::vector<TProxyInfo> Proxies;      // never empty after loading
  std::int32_t DefaultHttp = 0;         // index in Proxies
  std::int32_t DefaultFtp = 0;          // index in Proxies
  std::vector<TCategoryInfo> Categories;  // never empty after loading
  std::int32_t CurrentCategory = 0;     // index in Categories; not saved
  bool ClipboardMonitor = true;
  std::vector<std::string> FileType = {"ZIP", "EXE"};  // extensions without the dot
  bool VirusCheck = false;
  std::string VirusScanner;
  std::string ScannerArgs;
  bool StartMin = false;
  bool DeleteComplete = false;
  bool StartRunning = false;
  bool Confirm = true;
  bool HangAfter = false;
  bool ShutAfter = false;
  bool ExitAfter = false;
  bool AutoSave = true;
  std::int32_t EveryBytes = 50;  // KiB between saves of the job information file
  std::int32_t Scale = 5;        // KiB/s, full scale of the speed histogram
  TColor BackgroundColor = 0x000000;
  TColor ScaleColor = 0x800080;
  TColor PlotColor = 0xFF00FF;
  TColor FontColor = 0xFFFF00;
  // StateColor, CommandColor, ErrorColor, ServerColor, JobColor, InfoColor, LogColor,
  // BlockColor, in this order (TViewColor).
  std::array<TColor, kViewColorCount> ViewColors = {
      0xFF0000, 0x008000, 0x0000FF, 0x000000,
      kSystemWindowColor, kSystemWindowColor, kSystemWindowColor, kSystemWindowColor};
  std::string JobBkImage;
  std::string InfoBkImage;
  std::string LogBkImage;
  std::string BlockBkImage;
  std::int32_t HistogramType = 0;  // 0 = bars, 1 = line
  std::string Referer;
  std::string UserAgent = "Skimbler/1.0";
  bool StartSchedule = false;
  bool StopSchedule = false;
  double StartTime = 22.0 / 24.0;  // time of day as a fraction of a day
  double StopTime = 3.0 / 24.0;
  std::vector<std::string> URLHistory;  // oldest first

  TColor& StateColor() { return ViewColors[0]; }
  TColor& CommandColor() { return ViewColors[1]; }
  TColor& ErrorColor() { return ViewColors[2]; }
  TColor& ServerColor() { return ViewColors[3]; }
  TColor& JobColor() { return ViewColors[4]; }
  TColor& InfoColor() { return ViewColors[5]; }
  TColor& LogColor() { return ViewColors[6]; }
  TColor& BlockColor() { return ViewColors[7]; }
  TColor StateColor() const { return ViewColors[0]; }
  TColor CommandColor() const { return ViewColors[1]; }
  TColor ErrorColor() const { return ViewColors[2]; }
  TColor ServerColor() const { return ViewColors[3]; }
  TColor JobColor() const { return ViewColors[4]; }
  TColor InfoColor() const { return ViewColors[5]; }
  TColor LogColor() const { return ViewColors[6]; }
  TColor BlockColor() const { return ViewColors[7]; }
  TColor& ViewColor(TViewColor which) { return ViewColors[static_cast<std::size_t>(which)]; }
  TColor ViewColor(TViewColor which) const { return ViewColors[static_cast<std::size_t>(which)]; }
  // The colour of a log line of the given kind.
  TColor LogLineColor(TLogType kind) const { return ViewColors[static_cast<std::size_t>(kind) & 3]; }

  // Reads the keys below "Software\NetSkimbler": root, Options, Proxy, Category, History.
  // Absent keys and values give the defaults; a value of an unexpected type or size counts
  // as absent. Never fails.
  void LoadOptions(TRegistry& registry);
  // Writes the same keys; numbered lists are rewritten densely from 0.
  void SaveOptions(TRegistry& registry) const;
  // The same on the registry file at RegistryFilePath(); other keys of the file are kept.
  void LoadOptions();
  void SaveOptions() const;

  friend bool operator==(const TRegistryInfo&, const TRegistryInfo&) = default;
};

// The registry paths of the settings keys.
inline constexpr std::string_view kRootKey = "Software\\NetSkimbler";
inline constexpr std::string_view kOptionsKey = "Software\\NetSkimbler\\Options";
inline constexpr std::string_view kProxyKey = "Software\\NetSkimbler\\Proxy";
inline constexpr std::string_view kCategoryKey = "Software\\NetSkimbler\\Category";
inline constexpr std::string_view kHistoryKey = "Software\\NetSkimbler\\History";

// The name of list entry i: eight upper-case hexadecimal digits ("0000000A").
std::string ListEntryName(std::size_t index);

}  // namespace nsk
