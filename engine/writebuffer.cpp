// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/writebuffer.h"

#include <algorithm>
#include <cstring>

namespace nsk {

TWriteBuffer::TWriteBuffer(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {
  // Room for a full buffer and the packet that fills it, so appends do not reallocate.
  data_.resize(capacity_ + 64 * 1024);
}

void TWriteBuffer::Reset(std::int64_t offset) {
  size_ = 0;
  offset_ = offset;
}

void TWriteBuffer::Append(const char* data, std::size_t n) {
  if (n == 0) return;
  if (size_ + n > data_.size()) data_.resize(size_ + n);
  std::memcpy(data_.data() + size_, data, n);
  size_ += n;
}

std::size_t TWriteBuffer::Due(std::int64_t left) const {
  if (size_ == 0) return 0;
  const auto size = static_cast<std::int64_t>(size_);
  if (left <= 0 || size >= left) return size_;
  // Another connection that takes over the second half of this block cuts it at about
  // half of what the job's books show as left, on a chunk boundary. Bytes held up to there
  // are never cut off and fetched again.
  if (2 * (size + kSplitMargin) >= left) return size_;
  if (size_ < capacity_) return 0;
  const std::int64_t end = offset_ + static_cast<std::int64_t>(size_);
  const std::int64_t page = end - end % kPageSize;
  return page > offset_ ? static_cast<std::size_t>(page - offset_) : size_;
}

void TWriteBuffer::Consume(std::size_t n) {
  n = std::min(n, size_);
  if (n == 0) return;
  std::memmove(data_.data(), data_.data() + n, size_ - n);
  size_ -= n;
  offset_ += static_cast<std::int64_t>(n);
}

}  // namespace nsk
