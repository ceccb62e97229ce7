// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/registry.h"

#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "platform/utf8.h"

namespace nsk {

struct TRegistry::TNode {
  std::string Name;                                         // as first created
  std::vector<std::pair<std::string, TRegValue>> Values;    // in the order first written
  std::map<std::string, std::unique_ptr<TNode>> Children;   // by folded name
};

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
constexpr char kHex[] = "0123456789abcdef";

// The locale whose case mapping the name comparison uses; C.UTF-8 is part of glibc. Without
// it only ASCII letters fold.
locale_t CaseLocale() {
  static const locale_t loc = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  return loc;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the UTF-8 sequence that the lead byte c announces (1 for ASCII and stray bytes).
std::size_t LeadLength(unsigned char c) {
  if (c >= 0xF0) return 4;
  if (c >= 0xE0) return 3;
  if (c >= 0xC0) return 2;
  return 1;
}

// The comparison key of a name: every character upper-cased.
std::string Fold(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  const locale_t loc = CaseLocale();
  if (!loc || !IsValidUtf8(name)) {
    out = UpperAscii(name);
    return out;
  }
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    const std::size_t len = LeadLength(c);
    char32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(name[i + k]) & 0x3F);
    AppendUtf8(out, static_cast<char32_t>(::towupper_l(static_cast<wint_t>(cp), loc)));
    i += len;
  }
  return out;
}

// A key name must fit between the brackets of a section line.
bool StorableKeyName(std::string_view name) {
  for (const char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return IsValidUtf8(name);
}

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// ---- writing ----

void AppendHexByte(std::string& out, unsigned char b) {
  out += kHex[b >> 4];
  out += kHex[b & 0x0F];
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t len = LeadLength(c);
      if (len > 1 && i + len <= text.size() && IsValidUtf8(text.substr(i, len))) {
        out.append(text.substr(i, len));
        i += len;
        continue;
      }
    }
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out += "\\x";
          AppendHexByte(out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

void AppendValue(std::string& out, const std::string& name, const TRegValue& value) {
  if (name.empty())
    out += '@';
  else
    AppendQuoted(out, name);
  out += '=';
  switch (value.Type) {
    case TRegType::String:
      AppendQuoted(out, value.Data);
      break;
    case TRegType::Dword: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(value.Dword));
      out += buf;
      break;
    }
    case TRegType::Binary:
      out += "hex:";
      for (std::size_t i = 0; i < value.Data.size(); ++i) {
        if (i) out += ',';
        AppendHexByte(out, static_cast<unsigned char>(value.Data[i]));
      }
      break;
  }
  out += '\n';
}

// ---- reading ----

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && UpperAscii(s.substr(0, prefix.size())) == UpperAscii(prefix);
}

// Reads a quoted text at the start of s (which begins with '"'); the rest of s follows.
bool ReadQuoted(std::string_view& s, std::string& out, std::string& why) {
  out.clear();
  std::size_t i = 1;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"') {
      s.remove_prefix(i + 1);
      return true;
    }
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= s.size()) break;
    const char e = s[i + 1];
    i += 2;
    switch (e) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        const int hi = i < s.size() ? HexDigit(s[i]) : -1;
        const int lo = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
        if (hi < 0 || lo < 0) {
          why = "bad \\x escape";
          return false;
        }
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        why = std::string("unknown escape \\") + e;
        return false;
    }
  }
  why = "unterminated quoted text";
  return false;
}

bool ReadHexBytes(std::string_view s, std::string& out, std::string& why) {
  out.clear();
  std::size_t start = 0;
  while (start <= s.size()) {
    std::size_t end = s.find(',', start);
    if (end == std::string_view::npos) end = s.size();
    const std::string_view item = TrimRight(TrimLeft(s.substr(start, end - start)));
    if (item.empty()) {
      // Only "hex:" itself and a comma before the end may leave an empty item.
      if (end != s.size()) {
        why = "empty byte in hex list";
        return false;
      }
    } else {
      int v = 0;
      if (item.size() > 2) {
        why = "bad byte in hex list";
        return false;
      }
      for (const char c : item) {
        const int d = HexDigit(c);
        if (d < 0) {
          why = "bad byte in hex list";
          return false;
        }
        v = v * 16 + d;
      }
      out += static_cast<char>(v);
    }
    start = end + 1;
  }
  return true;
}

bool ReadDwordText(std::string_view s, std::uint32_t& out) {
  s = TrimRight(s);
  if (s.empty() || s.size() > 8) return false;
  std::uint32_t v = 0;
  for (const char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<std::uint32_t>(d);
  }
  out = v;
  return true;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(TrimRight(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

}  // namespace

TRegistry::TRegistry() { Clear(); }

TRegistry::~TRegistry() = default;

void TRegistry::Clear() {
  root_ = std::make_unique<TNode>();
  root_->Name = kRootName;
}

// ---- tree access ----

const TRegistry::TNode* TRegistry::Find(std::string_view key) const {
  const TNode* node = root_.get();
  for (const std::string_view part : SplitPath(key)) {
    const auto it = node->Children.find(Fold(part));
    if (it == node->Children.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

TRegistry::TNode* TRegistry::FindOrCreate(std::string_view key) {
  const auto parts = SplitPath(key);
  for (const std::string_view part : parts)
    if (!StorableKeyName(part)) return nullptr;
  TNode* node = root_.get();
  for (const std::string_view part : parts) {
    auto& slot = node->Children[Fold(part)];
    if (!slot) {
      slot = std::make_unique<TNode>();
      slot->Name = part;
    }
    node = slot.get();
  }
  return node;
}

bool TRegistry::KeyExists(std::string_view key) const { return Find(key) != nullptr; }

bool TRegistry::CreateKey(std::string_view key) { return FindOrCreate(key) != nullptr; }

bool TRegistry::DeleteKey(std::string_view key) {
  const auto parts = SplitPath(key);
  if (parts.empty()) return false;
  TNode* parent = root_.get();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const auto it = parent->Children.find(Fold(parts[i]));
    if (it == parent->Children.end()) return false;
    parent = it->second.get();
  }
  return parent->Children.erase(Fold(parts.back())) > 0;
}

TRegKey TRegistry::OpenKey(std::string_view key, bool create) {
  if (create) CreateKey(key);
  return TRegKey(*this, std::string(key));
}

std::vector<std::string> TRegistry::SubkeyNames(std::string_view key) const {
  std::vector<std::string> names;
  if (const TNode* node = Find(key))
    for (const auto& [folded, child] : node->Children) names.push_back(child->Name);
  return names;
}

std::size_t TRegistry::SubkeyCount(std::string_view key) const {
  const TNode* node = Find(key);
  return node ? node->Children.size() : 0;
}

std::vector<std::string> TRegistry::ValueNames(std::string_view key) const {
  std::vector<std::string> names;
  if (const TNode* node = Find(key))
    for (const auto& [name, value] : node->Values) names.push_back(name);
  return names;
}

std::size_t TRegistry::ValueCount(std::string_view key) const {
  const TNode* node = Find(key);
  return node ? node->Values.size() : 0;
}

std::optional<TRegValue> TRegistry::ReadValue(std::string_view key, std::string_view name) const {
  const TNode* node = Find(key);
  if (!node) return std::nullopt;
  const std::string folded = Fold(name);
  for (const auto& [n, value] : node->Values)
    if (Fold(n) == folded) return value;
  return std::nullopt;
}

bool TRegistry::ValueExists(std::string_view key, std::string_view name) const {
  return ReadValue(key, name).has_value();
}

std::optional<std::string> TRegistry::ReadString(std::string_view key,
                                                 std::string_view name) const {
  auto v = ReadValue(key, name);
  if (!v || v->Type != TRegType::String) return std::nullopt;
  return std::move(v->Data);
}

std::optional<std::uint32_t> TRegistry::ReadDword(std::string_view key,
                                                  std::string_view name) const {
  const auto v = ReadValue(key, name);
  if (!v || v->Type != TRegType::Dword) return std::nullopt;
  return v->Dword;
}

std::optional<std::string> TRegistry::ReadBinary(std::string_view key,
                                                 std::string_view name) const {
  auto v = ReadValue(key, name);
  if (!v || v->Type != TRegType::Binary) return std::nullopt;
  return std::move(v->Data);
}

void TRegistry::Put(TNode& node, std::string_view name, TRegValue value) {
  const std::string folded = Fold(name);
  for (auto& [n, v] : node.Values)
    if (Fold(n) == folded) {
      v = std::move(value);
      return;
    }
  node.Values.emplace_back(std::string(name), std::move(value));
}

bool TRegistry::WriteValue(std::string_view key, std::string_view name, TRegValue value) {
  TNode* node = FindOrCreate(key);
  if (!node) return false;
  Put(*node, name, std::move(value));
  return true;
}

bool TRegistry::WriteString(std::string_view key, std::string_view name, std::string_view text) {
  return WriteValue(key, name, TRegValue::OfString(text));
}

bool TRegistry::WriteDword(std::string_view key, std::string_view name, std::uint32_t value) {
  return WriteValue(key, name, TRegValue::OfDword(value));
}

bool TRegistry::WriteBinary(std::string_view key, std::string_view name, std::string_view bytes) {
  return WriteValue(key, name, TRegValue::OfBinary(bytes));
}

bool TRegistry::DeleteValue(std::string_view key, std::string_view name) {
  TNode* node = Find(key);
  if (!node) return false;
  const std::string folded = Fold(name);
  for (auto it = node->Values.begin(); it != node->Values.end(); ++it)
    if (Fold(it->first) == folded) {
      node->Values.erase(it);
      return true;
    }
  return false;
}

TRegKey TRegKey::Subkey(std::string_view name) const {
  return TRegKey(*reg_, path_.empty() ? std::string(name) : path_ + "\\" + std::string(name));
}

// ---- text form ----

std::string TRegistry::ToText() const {
  std::string out(kHeader);
  out += "\n\n";
  // Depth first, a key's own section before those of its subkeys.
  const auto write = [&out](const auto& self, const TNode& node, const std::string& path,
                            bool isRoot) -> void {
    if (!isRoot || !node.Values.empty()) {
      out += '[';
      out += path;
      out += "]\n";
      for (const auto& [name, value] : node.Values) AppendValue(out, name, value);
      out += '\n';
    }
    for (const auto& [folded, child] : node.Children)
      self(self, *child, path + "\\" + child->Name, false);
  };
  write(write, *root_, std::string(kRootName), true);
  return out;
}

bool TRegistry::Parse(std::string_view text, std::string* error) {
  Clear();
  if (ParseInto(text, error)) return true;
  Clear();
  return false;
}

bool TRegistry::ParseInto(std::string_view raw, std::string* error) {
  // A file edited by hand on Windows may carry a byte-order mark or the Chinese code page.
  if (raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
  const std::string text = TextFromFile(raw);
  const std::vector<std::string_view> lines = SplitLines(text);

  std::size_t lineNo = 0;
  std::string why;
  const auto fail = [&](const std::string& reason) {
    if (error) *error = "line " + std::to_string(lineNo) + ": " + reason;
    return false;
  };

  bool headerSeen = false;
  TNode* current = nullptr;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    lineNo = i + 1;
    std::string_view line = TrimLeft(lines[i]);
    if (line.empty() || line.front() == ';') continue;
    if (!headerSeen) {
      if (line != kHeader) return fail("the file does not start with REGEDIT4");
      headerSeen = true;
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']') return fail("key line without closing ']'");
      const std::string_view path = line.substr(1, line.size() - 2);
      if (!StartsWithNoCase(path, kRootName) ||
          (path.size() > kRootName.size() && path[kRootName.size()] != '\\'))
        return fail("key outside HKEY_CURRENT_USER");
      current = FindOrCreate(path.substr(kRootName.size()));
      if (!current) return fail("key name that cannot be stored");
      continue;
    }
    if (line.front() != '"' && line.front() != '@') return fail("unexpected text");
    if (!current) return fail("value before the first key");

    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!ReadQuoted(line, name, why)) {
      return fail(why);
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') return fail("'=' expected after the value name");
    line = TrimLeft(line.substr(1));

    TRegValue value;
    if (!line.empty() && line.front() == '"') {
      value.Type = TRegType::String;
      if (!ReadQuoted(line, value.Data, why)) return fail(why);
      if (!TrimLeft(line).empty()) return fail("text after the closing quote");
    } else if (StartsWithNoCase(line, "dword:")) {
      value.Type = TRegType::Dword;
      if (!ReadDwordText(line.substr(6), value.Dword)) return fail("bad dword value");
    } else if (StartsWithNoCase(line, "hex:")) {
      value.Type = TRegType::Binary;
      // Long byte lists may go on over several lines, each but the last ending in '\'.
      std::string bytes(line.substr(4));
      std::size_t last = i;
      while (!bytes.empty() && bytes.back() == '\\') {
        bytes.pop_back();
        if (++last >= lines.size()) return fail("hex list continued past the end of the file");
        bytes += TrimLeft(lines[last]);
      }
      if (!ReadHexBytes(bytes, value.Data, why)) return fail(why);
      i = last;
    } else {
      return fail("unsupported value type");
    }
    // A name given twice in one key: the later line wins, as on import.
    Put(*current, name, std::move(value));
  }
  lineNo = 1;
  if (!headerSeen) return fail("the file does not start with REGEDIT4");
  return true;
}

// ---- file ----

TRegistry::TLoadStatus TRegistry::Load(const std::string& path, bool reportProblems) {
  path_ = path;
  Clear();
  if (!PathExists(path)) return TLoadStatus::Missing;
  errno = 0;
  const std::optional<std::string> data = ReadWholeFile(path);
  if (!data) {
    const int err = errno;
    if (reportProblems)
      std::fprintf(stderr,
                   "netskimbler: cannot read the settings file \"%s\" (%s); starting with "
                   "default settings\n",
                   path.c_str(), err ? std::strerror(err) : "read error");
    return TLoadStatus::Unreadable;
  }
  std::string error;
  if (Parse(*data, &error)) return TLoadStatus::Loaded;
  // Keep what the user had: the next save replaces the file.
  const std::string copy = path + ".damaged";
  const bool kept = WriteFileAtomically(copy, *data, 0600, TAtomicFile::Sync::Durable);
  if (reportProblems)
    std::fprintf(stderr,
                 "netskimbler: the settings file \"%s\" is damaged (%s); starting with default "
                 "settings%s%s%s\n",
                 path.c_str(), error.c_str(), kept ? ", the damaged file is kept as \"" : "",
                 kept ? copy.c_str() : "", kept ? "\"" : "");
  return TLoadStatus::Damaged;
}

bool TRegistry::Save() const { return !path_.empty() && SaveTo(path_); }

bool TRegistry::SaveTo(const std::string& path) const {
  const std::string folder = FolderOf(path);
  if (!folder.empty()) MakeFolders(folder, true);
  return WriteFileAtomically(path, ToText(), 0600, TAtomicFile::Sync::Durable);
}

}  // namespace nsk
