// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace nsk {

bool PathExists(const std::string& path);    // any kind of entry
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);
std::optional<std::int64_t> FileLength(const std::string& path);
bool RemoveFile(const std::string& path);    // true when the file is gone afterwards

// Renames from -> to; across file systems copies and then deletes the source. The source
// is deleted only after the copy is complete and flushed.
bool MoveFile(const std::string& from, const std::string& to);

// Creates a folder and its parents (mode 0700 for new ones when privateMode is set).
bool MakeFolders(const std::string& path, bool privateMode = false);

// Whole-file read; nullopt when the file cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// The folder part of a path including its final '/', or empty.
std::string FolderOf(const std::string& path);
// What follows the last '/'.
std::string FileNameOf(const std::string& path);

}  // namespace nsk
