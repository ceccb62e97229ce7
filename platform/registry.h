// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nsk {

// The settings tree below HKEY_CURRENT_USER, kept in one text file in REGEDIT4 form:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\NetSkimbler\Options]
//   "MaxJobs"=dword:00000003
//   "User"="anonymous"
//   "StartTime"=hex:ab,aa,aa,aa,aa,aa,ed,3f
//   @="default value"
//
// Key paths are relative to HKEY_CURRENT_USER and separated by '\' ("Software\NetSkimbler");
// empty components are ignored, so "" is HKEY_CURRENT_USER itself. Key and value names
// compare without regard to letter case (Unicode simple case mapping) and keep the case they
// were created with. The value named "" is the key's unnamed default value ("@" in the file).
//
// Strings are UTF-8. In the file, '\' and '"' are escaped as \\ and \", newline, carriage
// return and tab as \n, \r, \t, other control bytes and bytes that are not UTF-8 as \xHH, so
// every string comes back byte for byte. Keys are written depth first, parents before their
// children, subkeys sorted by name; values in the order they were first written.
//
// Loading is all or nothing: a file that cannot be read, or that holds a line this store
// does not understand, gives an empty store and one message on standard error. A damaged
// file is first copied to "<path>.damaged", so the next save does not lose what was in it.
// A store is used by one thread at a time.
enum class TRegType : std::uint8_t { String, Dword, Binary };

struct TRegValue {
  TRegType Type = TRegType::String;
  std::string Data;         // String: the text; Binary: the bytes
  std::uint32_t Dword = 0;  // Dword only

  static TRegValue OfString(std::string_view text) { return {TRegType::String, std::string(text), 0}; }
  static TRegValue OfDword(std::uint32_t v) { return {TRegType::Dword, {}, v}; }
  static TRegValue OfBinary(std::string_view bytes) { return {TRegType::Binary, std::string(bytes), 0}; }

  friend bool operator==(const TRegValue&, const TRegValue&) = default;
};

class TRegKey;

class TRegistry final {
 public:
  enum class TLoadStatus {
    Loaded,      // the file was read
    Missing,     // no file: an empty store, no message
    Damaged,     // the file holds something this store cannot parse: empty store, message
    Unreadable,  // the file exists but cannot be read: empty store, message
  };

  TRegistry();
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // Replaces the contents with the file at path and remembers path for Save(). With
  // reportProblems false a damaged or unreadable file gives no message (a damaged one is
  // still copied aside).
  TLoadStatus Load(const std::string& path, bool reportProblems = true);
  // Atomic replace of the remembered file (mode 0600, flushed to disk); creates its folder.
  bool Save() const;
  bool SaveTo(const std::string& path) const;
  const std::string& FilePath() const { return path_; }

  // The REGEDIT4 text of the whole store, and its reverse. Parse replaces the contents; on
  // failure the store is empty and *error (when given) says which line and why.
  std::string ToText() const;
  bool Parse(std::string_view text, std::string* error = nullptr);
  void Clear();

  bool KeyExists(std::string_view key) const;
  // Creates the key and its missing parents; false when a name cannot be stored (it holds a
  // control character or is not UTF-8).
  bool CreateKey(std::string_view key);
  // Removes the key with all its subkeys and values; false when it did not exist or is the
  // root (HKEY_CURRENT_USER itself is never deleted).
  bool DeleteKey(std::string_view key);
  // A handle on key; with create the key is created first. Reads through a handle of a
  // missing key find nothing; writes create the key.
  TRegKey OpenKey(std::string_view key, bool create = false);

  // Direct subkeys and value names of key (empty when the key does not exist), subkeys in
  // name order, values in the order they were written.
  std::vector<std::string> SubkeyNames(std::string_view key) const;
  std::size_t SubkeyCount(std::string_view key) const;
  std::vector<std::string> ValueNames(std::string_view key) const;
  std::size_t ValueCount(std::string_view key) const;

  bool ValueExists(std::string_view key, std::string_view name) const;
  std::optional<TRegValue> ReadValue(std::string_view key, std::string_view name) const;
  // These find nothing when the value is absent or has another type.
  std::optional<std::string> ReadString(std::string_view key, std::string_view name) const;
  std::optional<std::uint32_t> ReadDword(std::string_view key, std::string_view name) const;
  std::optional<std::string> ReadBinary(std::string_view key, std::string_view name) const;

  // Writes create the key when needed and replace a value of the same name whatever its
  // type; false when the key or value name cannot be stored.
  bool WriteValue(std::string_view key, std::string_view name, TRegValue value);
  bool WriteString(std::string_view key, std::string_view name, std::string_view text);
  bool WriteDword(std::string_view key, std::string_view name, std::uint32_t value);
  bool WriteBinary(std::string_view key, std::string_view name, std::string_view bytes);
  bool DeleteValue(std::string_view key, std::string_view name);

 private:
  struct TNode;

  const TNode* Find(std::string_view key) const;
  TNode* Find(std::string_view key) { return const_cast<TNode*>(std::as_const(*this).Find(key)); }
  TNode* FindOrCreate(std::string_view key);
  bool ParseInto(std::string_view text, std::string* error);
  static void Put(TNode& node, std::string_view name, TRegValue value);

  std::unique_ptr<TNode> root_;
  std::string path_;
};

// A key of a TRegistry named by its path. It refers to the key by name, not by address, so it
// stays safe when the key is deleted or recreated; it must not outlive its registry.
class TRegKey final {
 public:
  TRegKey(TRegistry& registry, std::string path) : reg_(&registry), path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  TRegKey Subkey(std::string_view name) const;

  bool Exists() const { return reg_->KeyExists(path_); }
  bool Create() const { return reg_->CreateKey(path_); }
  std::vector<std::string> SubkeyNames() const { return reg_->SubkeyNames(path_); }
  std::size_t SubkeyCount() const { return reg_->SubkeyCount(path_); }
  std::vector<std::string> ValueNames() const { return reg_->ValueNames(path_); }
  std::size_t ValueCount() const { return reg_->ValueCount(path_); }

  bool ValueExists(std::string_view name) const { return reg_->ValueExists(path_, name); }
  std::optional<TRegValue> ReadValue(std::string_view name) const {
    return reg_->ReadValue(path_, name);
  }
  std::optional<std::string> ReadString(std::string_view name) const {
    return reg_->ReadString(path_, name);
  }
  std::optional<std::uint32_t> ReadDword(std::string_view name) const {
    return reg_->ReadDword(path_, name);
  }
  std::optional<std::string> ReadBinary(std::string_view name) const {
    return reg_->ReadBinary(path_, name);
  }

  bool WriteValue(std::string_view name, TRegValue value) const {
    return reg_->WriteValue(path_, name, std::move(value));
  }
  bool WriteString(std::string_view name, std::string_view text) const {
    return reg_->WriteString(path_, name, text);
  }
  bool WriteDword(std::string_view name, std::uint32_t value) const {
    return reg_->WriteDword(path_, name, value);
  }
  bool WriteBinary(std::string_view name, std::string_view bytes) const {
    return reg_->WriteBinary(path_, name, bytes);
  }
  bool DeleteValue(std::string_view name) const { return reg_->DeleteValue(path_, name); }

 private:
  TRegistry* reg_;
  std::string path_;
};

}  // namespace nsk
