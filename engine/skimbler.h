// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/handle.h"
#include "engine/states.h"
#include "engine/threadlinks.h"
#include "net/logtype.h"
#include "platform/datetime.h"

namespace nsk {

struct TBlockInfo;

// One stored log line of a connection: "yyyy-mm-dd hh:nn:ss" + blank + text, and its kind.
struct TLogLine {
  std::string Text;
  TLogType Type = TLogType::ltState;

  friend bool operator==(const TLogLine&, const TLogLine&) = default;
};

TLogLine MakeLogLine(std::string_view text, TLogType type, TDateTime when);

// One connection of a job. Every field except Handle, Job and Number is guarded by the job's
// lock.
class TSkimbler final {
  struct TPassKey {};

 public:
  static std::shared_ptr<TSkimbler> Create(JobHandle job, std::int32_t number);
  TSkimbler(TPassKey, JobHandle job, std::int32_t number);
  TSkimbler(const TSkimbler&) = delete;
  TSkimbler& operator=(const TSkimbler&) = delete;

  const SkimblerHandle& Handle() const { return handle_; }
  // The job it belongs to; fixed at creation, readable without a lock.
  const JobHandle& Job() const { return job_; }

  const std::int32_t Number;  // 1-based, shown as "#" + Number
  TSkimblerState State = TSkimblerState::ssStopped;
  bool TreeNode = false;  // the view shows a node for this connection
  std::shared_ptr<TSkimblerThreadLink> Thread;  // the worker while one runs
  std::vector<TLogLine> Log;
  std::int32_t URLIndex = -1;  // index into the job's URLs of the current attempt
  // The block this connection works on (marked Busy), or null. It is one of the job's Blocks.
  std::shared_ptr<TBlockInfo> Block;

  // Appends a time-stamped line to Log and returns it.
  const TLogLine& AddLog(std::string_view text, TLogType type, TDateTime when = Now());

 private:
  SkimblerHandle handle_;
  JobHandle job_;
};

}  // namespace nsk
