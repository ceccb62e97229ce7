// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/view.h"
#include "engine/windowpost.h"
#include "platform/threadqueue.h"

namespace nsk::cli {

// Thread messages from the engine's threads to the command's own thread.
enum class TFrontMessage : std::uint32_t {
  Window = 1,      // payload: TWindowMessage
  FileExists = 2,  // payload: TFileExistsQuestion
  FilterPass = 3,  // the scheduler finished applying a view filter
};

struct TFileExistsQuestion {
  std::string FileName;
  TThreadId Asker = 0;
};

// The view of the headless front end. This is where the engine's threads cross to the
// command's thread: what the command acts on (the file-exists question, the end of a filter
// pass, which tells that every command posted before it was handled) is posted to its queue;
// everything else a window would draw is dropped, since progress is read from the job
// records once a second instead. No call takes an engine lock or waits.
class THeadlessView final : public TView {
 public:
  explicit THeadlessView(TThreadId frontEnd) : frontEnd_(frontEnd) {}

  void BeginTreeUpdate() override {}
  void EndTreeUpdate() override;
  void ClearTree() override { cleared_.store(true); }
  void AddJobNode(TJobNodeView) override {}
  void RemoveJobNode(JobHandle) override {}
  void RemoveSkimblerNodes(JobHandle) override {}
  void UpdateJobNode(TJobNodeView) override {}
  void RefreshJobNode(TJobNodeView) override {}
  void ShowJobPriority(JobHandle, int) override {}
  void AddSkimblerNode(TSkimblerNodeView) override {}
  void RemoveSkimblerNode(SkimblerHandle) override {}
  void UpdateSkimblerNode(TSkimblerNodeView) override {}
  TTreeSelection SelectedNodes() override { return {}; }

  void ShowJobInfo(TJobInfoValues) override {}
  void ClearJobInfo() override {}
  void CheckPriorityItem(int) override {}
  void RebuildCopyURLMenu(std::vector<std::string>) override {}
  void ShowSkimblerLog(SkimblerHandle, std::vector<TLogLine>) override {}
  void AppendLogLine(SkimblerHandle, TLogLine) override {}
  void ShowInfoPage() override {}

  void LoadBlockMap(JobHandle, std::vector<std::uint8_t>) override {}
  void ClearBlockMap() override {}
  void MarkSkimblerCells(std::vector<TBlockCell>) override {}
  void SetBlockCell(std::int32_t, TCellValue) override {}
  void SetBlockCells(std::int32_t, std::int32_t, TCellValue) override {}

  void ShowTransferRate(std::int64_t, std::int64_t) override {}
  void ShowActivity(bool) override {}

  void AskFileExists(std::string fileName, TThreadId asker) override;
  void ShowEditJobDialog(TJobEdit) override {}
  void CopyToClipboard(std::string) override {}
  void OpenFile(std::string) override {}
  void ExploreFolder(std::string) override {}

 private:
  const TThreadId frontEnd_;
  std::atomic<bool> cleared_{false};
};

// The window post of the headless front end: every message goes to the command's thread.
class THeadlessPost final : public TWindowPost {
 public:
  explicit THeadlessPost(TThreadId frontEnd) : frontEnd_(frontEnd) {}
  void Post(TWindowMessage message) override;

 private:
  const TThreadId frontEnd_;
};

}  // namespace nsk::cli
