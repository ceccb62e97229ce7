// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace nsk {

// A byte buffer consumed from the front and filled at the back. Consuming only moves the
// front; the live bytes are moved down when room is needed at the back.
class TByteQueue final {
 public:
  TByteQueue() = default;
  TByteQueue(const TByteQueue&) = delete;
  TByteQueue& operator=(const TByteQueue&) = delete;

  std::size_t Size() const { return tail_ - head_; }
  bool Empty() const { return tail_ == head_; }
  const char* Data() const { return data_.get() + head_; }
  std::string_view View() const { return {Data(), Size()}; }

  // Room for at least n bytes at the back; Commit(k) then adds the first k of them.
  char* Reserve(std::size_t n) {
    if (capacity_ - tail_ >= n) return data_.get() + tail_;
    const std::size_t live = Size();
    if (head_ > 0 && capacity_ - live >= n && live <= capacity_ / 2) {
      std::memmove(data_.get(), data_.get() + head_, live);
    } else {
      std::size_t cap = capacity_ ? capacity_ : 4096;
      while (cap - live < n) cap *= 2;
      auto bigger = std::make_unique_for_overwrite<char[]>(cap);
      if (live) std::memcpy(bigger.get(), data_.get() + head_, live);
      data_ = std::move(bigger);
      capacity_ = cap;
    }
    head_ = 0;
    tail_ = live;
    return data_.get() + tail_;
  }
  void Commit(std::size_t n) { tail_ += n; }
  void Append(const char* bytes, std::size_t n) {
    if (!n) return;
    std::memcpy(Reserve(n), bytes, n);
    Commit(n);
  }
  void Consume(std::size_t n) {
    head_ += n < Size() ? n : Size();
    if (head_ == tail_) head_ = tail_ = 0;
  }
  void Clear() { head_ = tail_ = 0; }
  // Frees the memory of a queue that grew large once.
  void Shrink() {
    if (Empty() && capacity_ > (std::size_t(1) << 20)) {
      data_.reset();
      capacity_ = 0;
    }
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t head_ = 0;
  std::size_t tail_ = 0;
};

}  // namespace nsk
