// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/skimbler.h"

namespace nsk {

TLogLine MakeLogLine(std::string_view text, TLogType type, TDateTime when) {
  std::string line = FormatDateTime(when);
  line += ' ';
  line += text;
  return {std::move(line), type};
}

std::shared_ptr<TSkimbler> TSkimbler::Create(JobHandle job, std::int32_t number) {
  auto s = std::make_shared<TSkimbler>(TPassKey{}, std::move(job), number);
  s->handle_ = SkimblerHandle(NewHandleId(), s);
  return s;
}

TSkimbler::TSkimbler(TPassKey, JobHandle job, std::int32_t number)
    : Number(number), job_(std::move(job)) {}

const TLogLine& TSkimbler::AddLog(std::string_view text, TLogType type, TDateTime when) {
  Log.push_back(MakeLogLine(text, type, when));
  return Log.back();
}

}  // namespace nsk
