// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nsk {

// The bytes a connection received for its block and has not stored yet. They continue the
// block from its StartPos without a gap, so the connection stores many packets with one
// write. One owner (the connection's worker thread); no lock of its own.
class TWriteBuffer final {
 public:
  static constexpr std::size_t kDefaultCapacity = 256 * 1024;
  // Full writes end on a page boundary of the file offset: the next one then starts on one.
  static constexpr std::int64_t kPageSize = 4096;
  // A split cuts a block at most one chunk short of half its length; twice that is kept free.
  static constexpr std::int64_t kSplitMargin = 4096;

  explicit TWriteBuffer(std::size_t capacity = kDefaultCapacity);
  TWriteBuffer(const TWriteBuffer&) = delete;
  TWriteBuffer& operator=(const TWriteBuffer&) = delete;

  // Empty; the next byte appended belongs at file offset offset.
  void Reset(std::int64_t offset);
  void Clear() { size_ = 0; }
  void Append(const char* data, std::size_t n);

  const char* Data() const { return data_.data(); }
  std::size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  std::size_t Capacity() const { return capacity_; }
  // File offset of the first waiting byte.
  std::int64_t Offset() const { return offset_; }

  // How many of the waiting bytes are to be stored now (0: they may wait). left is the
  // block's remaining length as last seen: bytes that reach it are stored at once, all of
  // them (the store cuts them at the block's end), and so is anything when left <= 0 (no
  // block known). Bytes that come near half of left are stored too, all of them, so that a
  // split of the block never falls among bytes held here. A full buffer is stored up to its
  // last page boundary.
  std::size_t Due(std::int64_t left) const;
  // The first n waiting bytes were stored (or given up): they leave the buffer and the
  // offset moves past them.
  void Consume(std::size_t n);

 private:
  std::size_t capacity_;
  std::vector<char> data_;
  std::size_t size_ = 0;
  std::int64_t offset_ = 0;
};

}  // namespace nsk
