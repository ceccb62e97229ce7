// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace nsk {

// Removes the chunked transfer coding of an HTTP body as it arrives, piece by piece: the
// chunk sizes, their extensions, the line ends around the chunks and the trailer go; the
// chunks' bytes stay. Bytes after the last chunk and its trailer are dropped.
class TChunkedDecoder final {
 public:
  // Decodes the n bytes at data in place; returns how many body bytes now begin at data.
  // After malformed framing it keeps what came before and drops the rest.
  std::size_t Decode(char* data, std::size_t n);
  // The last chunk and the trailer have come.
  bool Done() const { return state_ == TState::Done; }
  bool Malformed() const { return state_ == TState::Bad; }

 private:
  enum class TState { Size, Extension, Data, DataCR, DataLF, Trailer, Done, Bad };
  void SizeLineEnded();

  TState state_ = TState::Size;
  std::uint64_t size_ = 0;  // the chunk's size, then what is left of it
  int digits_ = 0;
  std::size_t lineBytes_ = 0;     // of the size line's extension, or of a trailer line
  std::size_t trailerBytes_ = 0;  // of the whole trailer
};

}  // namespace nsk
