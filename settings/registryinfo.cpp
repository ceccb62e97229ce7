// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings/registryinfo.h"

#include <bit>
#include <cstdio>
#include <optional>
#include <string>
#include <type_traits>

#include "engine/textutil.h"
#include "platform/fileops.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/utf8.h"
#include "settings/crypt.h"

namespace nsk {
namespace {

constexpr std::string_view kListFileName = "skimbler.mjl";
constexpr std::string_view kDirectProxyTitle = "Direct Connection";
constexpr std::string_view kDefaultCategory = "Default";

// Tags for the options table below.
struct TUnchanged {};  // an absent value leaves the field as it is
template <class S>
struct TScrambled {    // a string stored through EncodePassword
  S& Text;
};
template <class S>
TScrambled(S&) -> TScrambled<S>;

// The values of the Options key in the order they are read and written, each with its
// field and the value used when it is absent. Load and save both walk this one table.
template <class Info, class F>
void ForEachOption(Info& s, F&& f) {
  f("User", s.User, std::string_view("anonymous"));
  f("Password", TScrambled{s.Password}, kDefaultPassword);
  f("AutoSet", s.AutoSet, false);
  f("SkimblerNumber", s.SkimblerNumber, std::uint8_t{4});
  f("EverySkimbler", s.EverySkimbler, std::int32_t{200});
  f("MaxJobs", s.MaxJobs, std::uint8_t{3});
  f("DownNow", s.DownNow, true);
  f("MaxErrors", s.MaxErrors, std::int32_t{10});
  f("AlwaysRetry", s.AlwaysRetry, false);
  f("ConnectionTimeout", s.ConnectionTimeout, std::int32_t{60});
  f("DataTimeout", s.DataTimeout, std::int32_t{60});
  f("RetryDelay", s.RetryDelay, std::uint8_t{2});
  f("ClipboardMonitor", s.ClipboardMonitor, true);
  f("FileType", s.FileType, TUnchanged{});  // cleared before it is looked for
  f("VirusCheck", s.VirusCheck, false);
  f("VirusScanner", s.VirusScanner, std::string_view());
  f("ScannerArgs", s.ScannerArgs, std::string_view());
  f("StartMin", s.StartMin, false);
  f("DeleteComplete", s.DeleteComplete, false);
  f("StartRunning", s.StartRunning, false);
  f("Confirm", s.Confirm, true);
  f("ShutAfter", s.ShutAfter, false);
  f("ExitAfter", s.ExitAfter, false);
  f("HangAfter", s.HangAfter, false);
  f("AutoSave", s.AutoSave, true);
  f("EveryBytes", s.EveryBytes, std::int32_t{50});
  f("Scale", s.Scale, std::int32_t{5});
  f("BackgroundColor", s.BackgroundColor, TColor{0});
  f("ScaleColor", s.ScaleColor, TColor{0x800080});
  f("PlotColor", s.PlotColor, TColor{0xFF00FF});
  f("FontColor", s.FontColor, TColor{0xFFFF00});
  f("StateColor", s.ViewColors[0], TColor{0xFF0000});
  f("CommandColor", s.ViewColors[1], TColor{0x008000});
  f("ErrorColor", s.ViewColors[2], TColor{0x0000FF});
  f("ServerColor", s.ViewColors[3], TColor{0});
  f("JobColor", s.ViewColors[4], kSystemWindowColor);
  f("InfoColor", s.ViewColors[5], kSystemWindowColor);
  f("LogColor", s.ViewColors[6], kSystemWindowColor);
  f("BlockColor", s.ViewColors[7], kSystemWindowColor);
  f("JobBkImage", s.JobBkImage, TUnchanged{});
  f("InfoBkImage", s.InfoBkImage, TUnchanged{});
  f("LogBkImage", s.LogBkImage, TUnchanged{});
  f("BlockBkImage", s.BlockBkImage, TUnchanged{});
  f("HistogramType", s.HistogramType, std::int32_t{0});
  f("Referer", s.Referer, std::string_view());
  f("UserAgent", s.UserAgent, std::string_view("Skimbler/1.0"));
  f("StartSchedule", s.StartSchedule, false);
  f("StopSchedule", s.StopSchedule, false);
  f("StartTime", s.StartTime, 22.0 / 24.0);
  f("StopTime", s.StopTime, 3.0 / 24.0);
}

// A time of day is stored as the 8 bytes of a little-endian IEEE double.
std::string TimeBytes(double t) {
  const auto bits = std::bit_cast<std::uint64_t>(t);
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return out;
}

std::optional<double> TimeFromBytes(const std::optional<std::string>& bytes) {
  if (!bytes || bytes->size() != 8) return std::nullopt;
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>((*bytes)[i]);
  return std::bit_cast<double>(bits);
}

// SplitWords keeps the first bytes of a long word; a cut inside a character drops the rest
// of that character.
std::string WithoutBrokenTail(std::string word) {
  if (IsValidUtf8(word)) return word;
  for (std::size_t drop = 1; drop <= 3 && drop < word.size(); ++drop) {
    const std::string_view shorter(word.data(), word.size() - drop);
    if (IsValidUtf8(shorter)) return std::string(shorter);
  }
  return word;  // not UTF-8 at all: keep the bytes as they are
}

void LoadOption(const TRegKey& key, std::string_view name, auto&& field, auto def) {
  using T = std::remove_cvref_t<decltype(field)>;
  using D = decltype(def);
  if constexpr (std::is_same_v<T, std::string>) {
    if (auto v = key.ReadString(name))
      field = std::move(*v);
    else if constexpr (!std::is_same_v<D, TUnchanged>)
      field = def;
  } else if constexpr (std::is_same_v<T, TScrambled<std::string>>) {
    const auto v = key.ReadString(name);
    field.Text = v ? DecodePassword(*v) : std::string(def);
  } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
    field.clear();
    if (const auto v = key.ReadString(name))
      for (std::string& w : SplitWords(*v)) field.push_back(WithoutBrokenTail(std::move(w)));
  } else if constexpr (std::is_same_v<T, double>) {
    field = TimeFromBytes(key.ReadBinary(name)).value_or(def);
  } else {
    const auto v = key.ReadDword(name);
    if constexpr (std::is_same_v<T, bool>)
      field = v ? *v != 0 : def;
    else if constexpr (std::is_same_v<T, std::uint8_t>)
      field = v ? static_cast<std::uint8_t>(*v & 0xFF) : def;  // byte fields keep the low 8 bits
    else if constexpr (std::is_same_v<T, std::int32_t>)
      field = v ? static_cast<std::int32_t>(*v) : def;
    else {
      static_assert(std::is_same_v<T, TColor>);
      field = v.value_or(def);
    }
  }
}

void SaveOption(const TRegKey& key, std::string_view name, const auto& field) {
  using T = std::remove_cvref_t<decltype(field)>;
  if constexpr (std::is_same_v<T, std::string>) {
    key.WriteString(name, field);
  } else if constexpr (std::is_same_v<T, TScrambled<const std::string>>) {
    key.WriteString(name, EncodePassword(field.Text));
  } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
    std::string text;
    for (const std::string& w : field) text += w + ' ';
    key.WriteString(name, text);
  } else if constexpr (std::is_same_v<T, double>) {
    key.WriteBinary(name, TimeBytes(field));
  } else if constexpr (std::is_same_v<T, bool>) {
    key.WriteDword(name, field ? 1 : 0);
  } else {
    static_assert(std::is_integral_v<T>);
    key.WriteDword(name, static_cast<std::uint32_t>(field));
  }
}

std::string ReadText(const TRegKey& key, std::string_view name) {
  return key.ReadString(name).value_or(std::string());
}

bool ReadFlag(const TRegKey& key, std::string_view name) {
  return key.ReadDword(name).value_or(0) != 0;
}

TProxyInfo ReadProxy(const TRegKey& key) {
  TProxyInfo p{};
  p.Title = ReadText(key, "Title");
  p.Address = ReadText(key, "Address");
  p.Port = ReadText(key, "Port");
  p.ProxyType = static_cast<TProxyType>(key.ReadDword("ProxyType").value_or(0) & 0xFF);
  p.NoCache = ReadFlag(key, "NoCache");
  p.PASV = ReadFlag(key, "PASV");
  p.Authenticate = ReadFlag(key, "Authenticate");
  p.ProxyUser = ReadText(key, "User");
  // Decoded before the cut: the stored form is twice as long as the password, and cutting
  // it first would lose the end of any password longer than 125 bytes.
  p.ProxyPassword = DecodePassword(ReadText(key, "Password"));
  return p;
}

void WriteProxy(const TRegKey& key, const TProxyInfo& p) {
  key.WriteString("Title", p.Title.View());
  key.WriteString("Address", p.Address.View());
  key.WriteString("Port", p.Port.View());
  key.WriteDword("ProxyType", static_cast<std::uint8_t>(p.ProxyType));
  key.WriteDword("NoCache", p.NoCache != 0);
  key.WriteDword("PASV", p.PASV != 0);
  key.WriteDword("Authenticate", p.Authenticate != 0);
  key.WriteString("User", p.ProxyUser.View());
  key.WriteString("Password", EncodePassword(p.ProxyPassword.View()));
}

// Appends every subkey 0 ... n-1 that exists, n being the key's number of subkeys.
template <class Record, class Read>
void ReadNumberedList(const TRegKey& key, std::vector<Record>& list, Read&& read) {
  const std::size_t n = key.SubkeyCount();
  for (std::size_t i = 0; i < n; ++i) {
    const TRegKey entry = key.Subkey(ListEntryName(i));
    if (entry.Exists()) list.push_back(read(entry));
  }
}

// Removes every subkey so that the list is written densely from 0 without stale entries.
void ClearSubkeys(TRegistry& registry, const TRegKey& key) {
  for (const std::string& name : key.SubkeyNames()) registry.DeleteKey(key.Subkey(name).Path());
}

// An index the readers rely on must point into its list.
void KeepInside(std::int32_t& index, std::size_t size) {
  if (index < 0 || static_cast<std::size_t>(index) >= size) index = 0;
}

}  // namespace

std::string_view InfoColumnLabel(std::int32_t id) {
  if (id < 0 || id >= kInfoColumnCount) return {};
  return kInfoColumnLabels[static_cast<std::size_t>(id)];
}

std::string ListEntryName(std::size_t index) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%08zX", index);
  return buf;
}

TRegistryInfo::TRegistryInfo() : CurListFile(ProgramFolder() + std::string(kListFileName)) {
  for (int i = 0; i < kInfoColumnCount; ++i) {
    Columns[static_cast<std::size_t>(i)] = {i, true};
    InfoRowOfColumn[static_cast<std::size_t>(i)] = i;
  }
}

void TRegistryInfo::LoadOptions(TRegistry& registry) {
  const TRegKey options = registry.OpenKey(kOptionsKey);
  if (options.Exists())
    ForEachOption(*this, [&](std::string_view name, auto&& field, auto def) {
      LoadOption(options, name, field, def);
    });

  // Loading replaces the lists, so a second load does not add to the first.
  Proxies.clear();
  const TRegKey proxy = registry.OpenKey(kProxyKey);
  if (proxy.Exists()) {
    if (const auto v = proxy.ReadDword("DefaultHttp")) DefaultHttp = static_cast<std::int32_t>(*v);
    if (const auto v = proxy.ReadDword("DefaultFtp")) DefaultFtp = static_cast<std::int32_t>(*v);
    ReadNumberedList(proxy, Proxies, ReadProxy);
  }
  if (Proxies.empty()) {
    TProxyInfo direct{};
    direct.Title = kDirectProxyTitle;
    Proxies.push_back(direct);
  }
  KeepInside(DefaultHttp, Proxies.size());
  KeepInside(DefaultFtp, Proxies.size());

  Categories.clear();
  const TRegKey category = registry.OpenKey(kCategoryKey);
  if (category.Exists())
    ReadNumberedList(category, Categories, [](const TRegKey& key) {
      TCategoryInfo c;
      c.Description = ReadText(key, "Description");
      c.Directory = ReadText(key, "Directory");
      return c;
    });
  if (Categories.empty()) {
    TCategoryInfo c;
    c.Description = kDefaultCategory;
    c.Directory = UserDownloadFolder();
    Categories.push_back(c);
  }
  KeepInside(CurrentCategory, Categories.size());

  URLHistory.clear();
  const TRegKey history = registry.OpenKey(kHistoryKey);
  if (history.Exists()) {
    const std::size_t n = history.ValueCount();
    for (std::size_t i = 0; i < n; ++i)
      if (auto v = history.ReadString(std::to_string(i))) URLHistory.push_back(std::move(*v));
  }

  const TRegKey root = registry.OpenKey(kRootKey);
  if (root.Exists()) {
    if (auto v = root.ReadString("CurListFile")) {
      CurListFile = std::move(*v);
    } else {
      const std::string standard = ProgramFolder() + std::string(kListFileName);
      if (IsRegularFile(standard)) CurListFile = UniqueFileName(standard);
    }
  }
}

void TRegistryInfo::SaveOptions(TRegistry& registry) const {
  const TRegKey options = registry.OpenKey(kOptionsKey, true);
  ForEachOption(*this, [&](std::string_view name, const auto& field, auto) {
    SaveOption(options, name, field);
  });

  const TRegKey proxy = registry.OpenKey(kProxyKey, true);
  proxy.WriteDword("DefaultHttp", static_cast<std::uint32_t>(DefaultHttp));
  proxy.WriteDword("DefaultFtp", static_cast<std::uint32_t>(DefaultFtp));
  ClearSubkeys(registry, proxy);
  for (std::size_t i = 0; i < Proxies.size(); ++i) {
    const TRegKey entry = proxy.Subkey(ListEntryName(i));
    entry.Create();
    WriteProxy(entry, Proxies[i]);
  }

  const TRegKey category = registry.OpenKey(kCategoryKey, true);
  ClearSubkeys(registry, category);
  for (std::size_t i = 0; i < Categories.size(); ++i) {
    const TRegKey entry = category.Subkey(ListEntryName(i));
    entry.Create();
    entry.WriteString("Description", Categories[i].Description.View());
    entry.WriteString("Directory", Categories[i].Directory.View());
  }

  registry.DeleteKey(kHistoryKey);
  const TRegKey history = registry.OpenKey(kHistoryKey, true);
  for (std::size_t i = 0; i < URLHistory.size(); ++i)
    history.WriteString(std::to_string(i), URLHistory[i]);

  registry.OpenKey(kRootKey, true).WriteString("CurListFile", CurListFile);
}

void TRegistryInfo::LoadOptions() {
  TRegistry registry;
  registry.Load(RegistryFilePath());
  LoadOptions(registry);
}

void TRegistryInfo::SaveOptions() const {
  // Start from the file as it is, so that the keys of the window layout and the browser
  // menu stay. A damaged file was reported and kept aside when it was loaded at start.
  TRegistry registry;
  registry.Load(RegistryFilePath(), false);
  SaveOptions(registry);
  if (!registry.Save())
    std::fprintf(stderr, "netskimbler: could not write the settings file \"%s\"\n",
                 registry.FilePath().c_str());
}

}  // namespace nsk
