// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/windowpost.h"

namespace nsk {
namespace {

template <class... F>
struct TOverload : F... {
  using F::operator()...;
};
template <class... F>
TOverload(F...) -> TOverload<F...>;

}  // namespace

std::uint32_t MessageCode(const TWindowMessage& m) {
  return std::visit(TOverload{
                        [](const TDuplicateJobMessage&) { return kWmDuplicateJob; },
                        [](const TConfirmDeleteMessage&) { return kWmConfirmDelete; },
                        [](const TFileErrorMessage&) { return kWmFileError; },
                        [](const TShutDownMessage&) { return kWmShutDown; },
                        [](const TJobCountsMessage&) { return kWmJobCounts; },
                        [](const TListFileAnswerMessage&) { return kWmListFileAnswer; },
                        [](const TAllDoneMessage&) { return kWmAllDone; },
                        [](const TCloseProgramMessage&) { return kWmClose; },
                    },
                    m);
}

std::int64_t WParamOf(const TWindowMessage& m) {
  return std::visit(
      TOverload{
          [](const TDuplicateJobMessage& d) { return static_cast<std::int64_t>(d.Job.Id()); },
          [](const TConfirmDeleteMessage& d) { return static_cast<std::int64_t>(d.Job.Id()); },
          [](const TJobCountsMessage& c) { return static_cast<std::int64_t>(c.Total); },
          [](const TListFileAnswerMessage& a) { return std::int64_t{a.Refused ? 1 : 0}; },
          [](const auto&) { return std::int64_t{0}; },
      },
      m);
}

std::int64_t LParamOf(const TWindowMessage& m) {
  return std::visit(
      TOverload{
          [](const TFileErrorMessage& f) { return static_cast<std::int64_t>(f.Problem); },
          [](const TJobCountsMessage& c) {
            return static_cast<std::int64_t>((static_cast<std::uint32_t>(c.Running & 0xFFFF) << 16) |
                                             static_cast<std::uint32_t>(c.Queued & 0xFFFF));
          },
          [](const TListFileAnswerMessage& a) { return static_cast<std::int64_t>(a.Command); },
          [](const auto&) { return std::int64_t{0}; },
      },
      m);
}

std::string JobCountsText(const TJobCountsMessage& m) {
  return "共" + std::to_string(m.Total) + "个任务(" + std::to_string(m.Running) + "个运行中;" +
         std::to_string(m.Queued) + "个队列中)";
}

std::optional<std::string> NoticeText(const TWindowMessage& m) {
  return std::visit(
      TOverload{
          [](const TDuplicateJobMessage& d) -> std::optional<std::string> {
            return "URL:\"" + d.URL + "\" 存在!";
          },
          [](const TFileErrorMessage& f) -> std::optional<std::string> {
            switch (f.Problem) {
              case TFileProblem::Invalid: return "文件:\"" + f.FileName + "\" 无效!";
              case TFileProblem::Missing: return "文件:\"" + f.FileName + "\" 不存在!";
              case TFileProblem::ImportFailed: return std::string("这个任务无效,导入失败!");
              case TFileProblem::MoveFailed: return "文件:\"" + f.FileName + "\" 移动失败!";
            }
            return std::nullopt;
          },
          [](const TListFileAnswerMessage& a) -> std::optional<std::string> {
            if (a.Refused) return std::string("有任务在运行,先停止他们.");
            return std::nullopt;
          },
          [](const auto&) -> std::optional<std::string> { return std::nullopt; },
      },
      m);
}

}  // namespace nsk
