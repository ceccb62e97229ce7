// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "engine/viewdata.h"
#include "platform/datetime.h"
#include "platform/utf8.h"

namespace nsk::cli {

TJobProgress ProgressOf(const TJob& job) {
  TJobProgress p;
  p.Name = job.Name;
  p.FileName = job.FileName;
  p.State = job.State;
  p.FileSize = job.FileSize;
  p.DoneBytes = job.DoneBytes;
  p.Received = job.Received;
  p.Percent = job.Percent;
  p.CurrentSpeed = job.CurrentSpeed;
  p.AverageSpeed = job.AverageSpeed;
  p.Elapsed = job.Elapsed;
  p.Remaining = job.Remaining;
  p.Errors = job.Errors;
  p.Connections = static_cast<std::int32_t>(job.Skimblers.size());
  std::string newest;
  for (const auto& s : job.Skimblers) {
    if (s->Thread && s->State != TSkimblerState::ssStopped && s->State != TSkimblerState::ssIdle)
      ++p.ActiveConnections;
    for (const auto& line : s->Log)
      // Lines begin with their time stamp, so the greatest is the newest.
      if (line.Type == TLogType::ltError && line.Text > newest) newest = line.Text;
  }
  // "yyyy-mm-dd hh:nn:ss " is 20 bytes.
  if (newest.size() > 20) p.LastError = newest.substr(20);
  return p;
}

std::string FormatBytes(std::int64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double v = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  while (v >= 1024.0 && unit < 2) {
    v /= 1024.0;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f %s", v, kUnits[unit]);
  return buf;
}

std::string FormatRate(std::int64_t bytesPerSecond) { return FormatBytes(bytesPerSecond) + "/s"; }

std::string ProgressLine(const TJobProgress& p) {
  std::string line = p.Name + "  ";
  if (p.FileSize > 0) {
    char pct[8];
    std::snprintf(pct, sizeof pct, "%3d%%", p.Percent);
    line += std::string(pct) + "  " + FormatBytes(p.DoneBytes) + " of " + FormatBytes(p.FileSize);
  } else {
    line += "size not known yet, " + FormatBytes(p.Received) + " received";
  }
  line += "  " + FormatRate(p.CurrentSpeed) + " (average " + FormatRate(p.AverageSpeed) + ")";
  if (p.FileSize > 0 && p.AverageSpeed > 0) line += "  " + FormatDuration(p.Remaining) + " left";
  line += "  " + std::to_string(p.ActiveConnections) + " of " + std::to_string(p.Connections) +
          " connections active";
  if (p.Errors > 0) line += "  " + std::to_string(p.Errors) + " errors";
  return line;
}

const char* StateWord(TJobState state) {
  switch (state) {
    case TJobState::jsRunning: return "running";
    case TJobState::jsQueued: return "queued";
    case TJobState::jsStopped: return "stopped";
    case TJobState::jsError: return "error";
    case TJobState::jsFinished: return "finished";
  }
  return "unknown";
}

std::string EndStateLine(const TJobProgress& p) {
  std::string line = std::string(StateWord(p.State)) + ": " + p.FileName;
  switch (p.State) {
    case TJobState::jsFinished:
      line += " (" + FormatBytes(p.FileSize) + ", " + FormatBytes(p.Received) +
              " fetched in this run in " + FormatDuration(p.Elapsed) + ", average " +
              FormatRate(p.AverageSpeed) + ")";
      break;
    case TJobState::jsStopped:
    case TJobState::jsError:
      if (p.FileSize > 0)
        line += " (" + FormatBytes(p.DoneBytes) + " of " + FormatBytes(p.FileSize) + " stored)";
      if (p.Errors > 0) line += ", " + std::to_string(p.Errors) + " errors";
      if (!p.LastError.empty()) line += ", last: " + p.LastError;
      break;
    default:
      break;
  }
  return line;
}

std::string MessageLine(const std::string& text) { return FormatDateTime(Now()) + " " + text; }

TConsole::TConsole()
    : terminal_(::isatty(STDOUT_FILENO) == 1), errOnTerminal_(::isatty(STDERR_FILENO) == 1) {}

namespace {

// Columns of the terminal; lines are cut to fit so that each takes one row. A cut at a
// byte count never takes more columns than bytes, also for wide characters.
std::size_t TerminalColumns() {
  winsize ws{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) return ws.ws_col - 1;
  return 79;
}

}  // namespace

void TConsole::Progress(const std::vector<std::string>& lines) {
  if (!terminal_) {
    for (const auto& l : lines) std::fprintf(stdout, "%s\n", l.c_str());
    std::fflush(stdout);
    return;
  }
  std::string out;
  // Back to the start of the old block and clear it to the end of the screen.
  if (drawn_ > 0) out += "\r\x1b[" + std::to_string(drawn_) + "A";
  out += "\r\x1b[J";
  const std::size_t columns = TerminalColumns();
  for (const auto& l : lines) {
    out += Utf8Prefix(l, columns);
    out += '\n';
  }
  std::fputs(out.c_str(), stdout);
  std::fflush(stdout);
  drawn_ = static_cast<int>(lines.size());
}

void TConsole::ClearProgress() {
  if (!terminal_ || drawn_ == 0) return;
  std::fprintf(stdout, "\r\x1b[%dA\r\x1b[J", drawn_);
  std::fflush(stdout);
  drawn_ = 0;
}

void TConsole::Notice(const std::string& line) {
  // A notice on the same screen would otherwise land inside the block drawn in place.
  if (errOnTerminal_) ClearProgress();
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void TConsole::Say(const std::string& line) {
  ClearProgress();
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace nsk::cli
