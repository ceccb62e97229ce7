// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

namespace nsk {

// The numeric values are stored in job files and pick images in the job tree.

enum class TJobState : std::uint8_t {
  jsRunning = 0,   // a job thread and its connections are active
  jsQueued = 1,    // waiting for a free job slot
  jsStopped = 2,   // stopped by the user, or never started
  jsError = 3,     // the last run gave up
  jsFinished = 4,  // every byte stored, partial file moved to the target name
};

enum class TResumeState : std::uint8_t {
  rsUnknown = 0,    // not learnt yet in this run
  rsResumable = 1,  // the server delivers from an arbitrary offset
  rsNoResume = 2,   // the server delivers only from the start
};

enum class TSkimblerState : std::uint8_t {
  ssResolving = 0,
  ssConnecting = 1,
  ssRequesting = 2,
  ssResponding = 3,
  ssReceiving = 4,
  ssStopped = 5,  // no worker thread exists
  ssIdle = 6,     // between two attempts
};

inline constexpr int ToInt(TJobState s) { return static_cast<int>(s); }
inline constexpr int ToInt(TResumeState s) { return static_cast<int>(s); }
inline constexpr int ToInt(TSkimblerState s) { return static_cast<int>(s); }

// Files are mapped in chunks of 2048 bytes (block map, split granularity, block display).
inline constexpr std::int32_t kChunkSize = 2048;
inline constexpr std::int32_t ChunkOf(std::int32_t pos) { return pos / kChunkSize; }
// Number of chunks of a file of the given size.
inline constexpr std::int32_t ChunkCount(std::int32_t size) {
  return size <= 0 ? 0 : static_cast<std::int32_t>((static_cast<std::int64_t>(size) + kChunkSize - 1) / kChunkSize);
}

}  // namespace nsk
