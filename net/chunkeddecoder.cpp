// SPDX-License-Identifier: GPL-2.0-or-later
#include "net/chunkeddecoder.h"

#include <algorithm>
#include <cstring>

namespace nsk {
namespace {

// Generous bounds on what only frames the data, so that a peer cannot make us read forever.
constexpr std::uint64_t kMaxChunk = std::uint64_t(1) << 40;
constexpr std::size_t kMaxExtension = 4096;
constexpr std::size_t kMaxTrailer = 65536;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void TChunkedDecoder::SizeLineEnded() {
  if (digits_ == 0) {
    state_ = TState::Bad;
  } else if (size_ == 0) {
    state_ = TState::Trailer;
    lineBytes_ = 0;
  } else {
    state_ = TState::Data;
  }
}

std::size_t TChunkedDecoder::Decode(char* data, std::size_t n) {
  std::size_t in = 0, out = 0;
  while (in < n) {
    const char c = data[in];
    switch (state_) {
      case TState::Size: {
        const int v = HexValue(c);
        if (v >= 0) {
          size_ = size_ * 16 + static_cast<unsigned>(v);
          ++digits_;
          if (size_ > kMaxChunk) state_ = TState::Bad;
        } else if (c == '\n') {
          SizeLineEnded();
        } else if (c == ';' || c == ' ' || c == '\t' || c == '\r') {
          state_ = digits_ ? TState::Extension : TState::Bad;
          lineBytes_ = 0;
        } else {
          state_ = TState::Bad;
        }
        ++in;
        break;
      }
      case TState::Extension:
        if (c == '\n')
          SizeLineEnded();
        else if (++lineBytes_ > kMaxExtension)
          state_ = TState::Bad;
        ++in;
        break;
      case TState::Data: {
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size_, n - in));
        if (out != in) std::memmove(data + out, data + in, take);
        out += take;
        in += take;
        size_ -= take;
        if (size_ == 0) state_ = TState::DataCR;
        break;
      }
      case TState::DataCR:
      case TState::DataLF:
        if (c == '\n') {
          state_ = TState::Size;
          size_ = 0;
          digits_ = 0;
        } else if (c == '\r' && state_ == TState::DataCR) {
          state_ = TState::DataLF;
        } else {
          state_ = TState::Bad;
        }
        ++in;
        break;
      case TState::Trailer:
        // Trailer fields are read over; an empty line ends the body.
        if (c == '\n') {
          if (lineBytes_ == 0) state_ = TState::Done;
          lineBytes_ = 0;
        } else if (c != '\r') {
          ++lineBytes_;
        }
        if (state_ == TState::Trailer && ++trailerBytes_ > kMaxTrailer) state_ = TState::Bad;
        ++in;
        break;
      case TState::Done:
      case TState::Bad:
        return out;
    }
  }
  return out;
}

}  // namespace nsk
