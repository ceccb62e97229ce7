// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/monitorcommands.h"
#include "engine/view.h"
#include "tests/support/engine/changesignal.h"

namespace nsk::test {

// A TView that records every call in order (by operation name) and keeps what a window
// would show: the tree nodes, the info values, the log list, the block map. Safe to call
// from several threads.
class TRecordingView final : public TView {
 public:
  struct TFileQuestion {
    std::string FileName;
    TThreadId Asker = 0;
  };

  // Answers every file-exists question at once with this answer (none: questions wait for
  // the test to answer them with PostRenameReply).
  void SetFileExistsAnswer(std::optional<TRenameAnswer> answer);
  std::vector<TFileQuestion> FileQuestions() const;
  std::optional<TJobEdit> LastEditDialog() const;
  std::vector<std::string> Clipboard() const;  // texts put on the clipboard, in order
  std::vector<std::string> Opened() const;     // "open:" or "explore:" + path, in order
  // Every job node added or updated, in call order.
  std::vector<TJobNodeView> JobNodeHistory() const;
  // Waits until condition() holds, tested after every view call (see TChangeSignal).
  bool WaitUntil(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return signal_.WaitUntil(condition, timeout);
  }

  // What SelectedNodes() returns.
  void SetSelection(TTreeSelection selection);

  // Operation names in call order.
  std::vector<std::string> Calls() const;
  void ClearCalls();
  int CountOf(const std::string& op) const;

  // The tree as shown: job nodes by handle id, connection nodes by handle id.
  std::map<std::uint64_t, TJobNodeView> JobNodes() const;
  std::map<std::uint64_t, TSkimblerNodeView> SkimblerNodes() const;
  TJobInfoValues LastInfo() const;
  std::vector<TLogLine> LogList() const;
  std::vector<std::uint8_t> BlockMap() const;
  std::vector<TBlockCell> LastMarkedCells() const;
  bool Activity() const;
  std::int64_t LastRate() const;
  std::int64_t LastTotal() const;
  int CheckedPriority() const;
  std::vector<std::string> CopyURLMenu() const;
  bool OnLogPage() const;

  void BeginTreeUpdate() override;
  void EndTreeUpdate() override;
  void ClearTree() override;
  void AddJobNode(TJobNodeView node) override;
  void RemoveJobNode(JobHandle job) override;
  void RemoveSkimblerNodes(JobHandle job) override;
  void UpdateJobNode(TJobNodeView node) override;
  void RefreshJobNode(TJobNodeView node) override;
  void ShowJobPriority(JobHandle job, int priority) override;
  void AddSkimblerNode(TSkimblerNodeView node) override;
  void RemoveSkimblerNode(SkimblerHandle skimbler) override;
  void UpdateSkimblerNode(TSkimblerNodeView node) override;
  TTreeSelection SelectedNodes() override;
  void ShowJobInfo(TJobInfoValues info) override;
  void ClearJobInfo() override;
  void CheckPriorityItem(int priority) override;
  void RebuildCopyURLMenu(std::vector<std::string> urls) override;
  void ShowSkimblerLog(SkimblerHandle skimbler, std::vector<TLogLine> lines) override;
  void AppendLogLine(SkimblerHandle skimbler, TLogLine line) override;
  void ShowInfoPage() override;
  void LoadBlockMap(JobHandle job, std::vector<std::uint8_t> map) override;
  void ClearBlockMap() override;
  void MarkSkimblerCells(std::vector<TBlockCell> cells) override;
  void SetBlockCell(std::int32_t index, TCellValue value) override;
  void SetBlockCells(std::int32_t from, std::int32_t to, TCellValue value) override;
  void ShowTransferRate(std::int64_t bytesLastSecond, std::int64_t totalReceived) override;
  void ShowActivity(bool active) override;
  void AskFileExists(std::string fileName, TThreadId asker) override;
  void ShowEditJobDialog(TJobEdit job) override;
  void CopyToClipboard(std::string text) override;
  void OpenFile(std::string path) override;
  void ExploreFolder(std::string folder) override;

 private:
  void Record(const char* op);  // with lock_ held

  mutable std::mutex lock_;
  std::vector<std::string> calls_;
  TTreeSelection selection_;
  std::map<std::uint64_t, TJobNodeView> jobNodes_;
  std::map<std::uint64_t, TSkimblerNodeView> skimblerNodes_;
  TJobInfoValues info_;
  std::vector<TLogLine> log_;
  bool logPage_ = false;
  std::vector<std::uint8_t> map_;
  std::vector<TBlockCell> marked_;
  bool activity_ = false;
  std::int64_t rate_ = 0, total_ = 0;
  int checkedPriority_ = -1;
  std::vector<std::string> copyMenu_;
  std::optional<TRenameAnswer> fileExistsAnswer_;
  std::vector<TFileQuestion> questions_;
  std::optional<TJobEdit> editDialog_;
  std::vector<std::string> clipboard_;
  std::vector<std::string> opened_;
  std::vector<TJobNodeView> nodeHistory_;
  TChangeSignal signal_;
};

}  // namespace nsk::test
