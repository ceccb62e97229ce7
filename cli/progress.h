// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/job.h"

namespace nsk::cli {

// What a progress or end-state line shows of one job; taken under the job's lock.
struct TJobProgress {
  std::string Name;
  std::string FileName;
  TJobState State = TJobState::jsStopped;
  std::int32_t FileSize = 0;  // 0 = not known yet
  std::int32_t DoneBytes = 0;
  std::int32_t Received = 0;  // in this run
  std::int32_t Percent = 0;
  std::int32_t CurrentSpeed = 0;
  std::int32_t AverageSpeed = 0;
  TDateTime Elapsed = 0;
  TDateTime Remaining = 0;
  std::int32_t ActiveConnections = 0;  // connections with a worker that is not idle
  std::int32_t Connections = 0;        // connection records of the run
  std::int32_t Errors = 0;
  std::string LastError;  // the newest error line of the connections' logs (without time)
};

// Call with the job's lock held.
TJobProgress ProgressOf(const TJob& job);

// "1.5 MiB", "512 B", binary units.
std::string FormatBytes(std::int64_t bytes);
// "12.3 MiB/s".
std::string FormatRate(std::int64_t bytesPerSecond);

// One progress line of a running job: percent, bytes done of the size, current and average
// speed, time left, active connections.
std::string ProgressLine(const TJobProgress& p);
// What became of a job at the end of the command.
std::string EndStateLine(const TJobProgress& p);
// "finished", "stopped", ...
const char* StateWord(TJobState state);

// A message line: "yyyy-mm-dd hh:nn:ss" + blank + text.
std::string MessageLine(const std::string& text);

// The command's console: progress lines on standard output, redrawn in place on a terminal
// and written as plain lines otherwise, and notices on standard error that never mix with a
// block drawn in place. Used by the command's own thread only.
class TConsole final {
 public:
  TConsole();
  TConsole(const TConsole&) = delete;
  TConsole& operator=(const TConsole&) = delete;

  bool Terminal() const { return terminal_; }
  // The progress block: replaces the one drawn before on a terminal.
  void Progress(const std::vector<std::string>& lines);
  // Removes the block drawn in place (nothing otherwise).
  void ClearProgress();
  // A line on standard error.
  void Notice(const std::string& line);
  // A line on standard output (end states).
  void Say(const std::string& line);

 private:
  bool terminal_ = false;
  bool errOnTerminal_ = false;
  int drawn_ = 0;  // lines of the block on the screen
};

}  // namespace nsk::cli
