// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "engine/handle.h"

namespace nsk {

// Notifications the engine posts to the window (numbers 3026..3033). The sender does not
// wait; every payload is a value, so nothing the window receives refers into the engine.

// 3026: a job handed to the scheduler has a first URL that another job has; the scheduler
// has dropped the job. The window logs "URL:"<URL>" 存在!".
struct TDuplicateJobMessage {
  JobHandle Job;
  std::string URL;
};

// 3027: a stopped or failed job selected for deletion, to be confirmed; the dialog shows it
// by its first URL and hands the handle back to the scheduler.
struct TConfirmDeleteMessage {
  JobHandle Job;
  std::string URL;
};

enum class TFileProblem : std::uint8_t {
  Invalid = 1,       // "文件:"%s" 无效!"
  Missing = 2,       // "文件:"%s" 不存在!"
  ImportFailed = 3,  // "这个任务无效,导入失败!"
  // The finished job's partial file could not become the target file; the partial and
  // information files are kept and the job ends in error, so that starting it again retries.
  MoveFailed = 4,    // "文件:"%s" 移动失败!"
};

// 3028: a problem with a job's file, or a failed import.
struct TFileErrorMessage {
  TFileProblem Problem = TFileProblem::Invalid;
  std::string FileName;  // empty for ImportFailed
};

// 3030: show the shut-down dialog (the window posts it to itself).
struct TShutDownMessage {};

// 3031: job counts for status panel 1.
struct TJobCountsMessage {
  std::int32_t Total = 0;
  std::int32_t Running = 0;
  std::int32_t Queued = 0;
};

// 3032: answer to the list-file commands 25 (new), 26 (open), 27 (save as).
struct TListFileAnswerMessage {
  bool Refused = false;  // some job is running or queued
  std::int32_t Command = 0;
};

// 3033: no job is running or queued any more.
struct TAllDoneMessage {};

// The close message to the application's main form: the scheduler was told to exit once no
// job runs or waits (mcStopAll with 1), and now none does.
struct TCloseProgramMessage {};

using TWindowMessage =
    std::variant<TDuplicateJobMessage, TConfirmDeleteMessage, TFileErrorMessage,
                 TShutDownMessage, TJobCountsMessage, TListFileAnswerMessage, TAllDoneMessage,
                 TCloseProgramMessage>;

inline constexpr std::uint32_t kWmDuplicateJob = 3026;
inline constexpr std::uint32_t kWmConfirmDelete = 3027;
inline constexpr std::uint32_t kWmFileError = 3028;
inline constexpr std::uint32_t kWmShutDown = 3030;
inline constexpr std::uint32_t kWmJobCounts = 3031;
inline constexpr std::uint32_t kWmListFileAnswer = 3032;
inline constexpr std::uint32_t kWmAllDone = 3033;
inline constexpr std::uint32_t kWmClose = 0x0010;  // the standard close message

// The message's number and its two parameters as numbers: a job handle travels as its
// identifier; 3031 carries the total in wParam and running << 16 | queued in lParam.
std::uint32_t MessageCode(const TWindowMessage& m);
std::int64_t WParamOf(const TWindowMessage& m);
std::int64_t LParamOf(const TWindowMessage& m);

// The message-window line a front end shows for the message (without the time stamp), or
// nothing for messages that do not add a line.
std::optional<std::string> NoticeText(const TWindowMessage& m);
// "共%d个任务(%d个运行中;%d个队列中)".
std::string JobCountsText(const TJobCountsMessage& m);

class TWindowPost {
 public:
  virtual ~TWindowPost() = default;
  // Queues the message for the window; never blocks.
  virtual void Post(TWindowMessage message) = 0;
};

}  // namespace nsk
