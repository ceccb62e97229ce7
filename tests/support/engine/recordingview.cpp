// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/engine/recordingview.h"

#include <algorithm>

namespace nsk::test {

void TRecordingView::Record(const char* op) {
  calls_.emplace_back(op);
  signal_.Notify();
}

void TRecordingView::SetSelection(TTreeSelection selection) {
  std::lock_guard g(lock_);
  selection_ = std::move(selection);
}

std::vector<std::string> TRecordingView::Calls() const {
  std::lock_guard g(lock_);
  return calls_;
}

void TRecordingView::ClearCalls() {
  std::lock_guard g(lock_);
  calls_.clear();
}

int TRecordingView::CountOf(const std::string& op) const {
  std::lock_guard g(lock_);
  return static_cast<int>(std::count(calls_.begin(), calls_.end(), op));
}

std::map<std::uint64_t, TJobNodeView> TRecordingView::JobNodes() const {
  std::lock_guard g(lock_);
  return jobNodes_;
}
std::map<std::uint64_t, TSkimblerNodeView> TRecordingView::SkimblerNodes() const {
  std::lock_guard g(lock_);
  return skimblerNodes_;
}
TJobInfoValues TRecordingView::LastInfo() const {
  std::lock_guard g(lock_);
  return info_;
}
std::vector<TLogLine> TRecordingView::LogList() const {
  std::lock_guard g(lock_);
  return log_;
}
std::vector<std::uint8_t> TRecordingView::BlockMap() const {
  std::lock_guard g(lock_);
  return map_;
}
std::vector<TBlockCell> TRecordingView::LastMarkedCells() const {
  std::lock_guard g(lock_);
  return marked_;
}
bool TRecordingView::Activity() const {
  std::lock_guard g(lock_);
  return activity_;
}
std::int64_t TRecordingView::LastRate() const {
  std::lock_guard g(lock_);
  return rate_;
}
std::int64_t TRecordingView::LastTotal() const {
  std::lock_guard g(lock_);
  return total_;
}
int TRecordingView::CheckedPriority() const {
  std::lock_guard g(lock_);
  return checkedPriority_;
}
std::vector<std::string> TRecordingView::CopyURLMenu() const {
  std::lock_guard g(lock_);
  return copyMenu_;
}
bool TRecordingView::OnLogPage() const {
  std::lock_guard g(lock_);
  return logPage_;
}

void TRecordingView::BeginTreeUpdate() {
  std::lock_guard g(lock_);
  Record("BeginTreeUpdate");
}
void TRecordingView::EndTreeUpdate() {
  std::lock_guard g(lock_);
  Record("EndTreeUpdate");
}
void TRecordingView::ClearTree() {
  std::lock_guard g(lock_);
  Record("ClearTree");
  jobNodes_.clear();
  skimblerNodes_.clear();
}
void TRecordingView::AddJobNode(TJobNodeView node) {
  std::lock_guard g(lock_);
  Record("AddJobNode");
  nodeHistory_.push_back(node);
  jobNodes_[node.Job.Id()] = std::move(node);
}
void TRecordingView::RemoveJobNode(JobHandle job) {
  std::lock_guard g(lock_);
  Record("RemoveJobNode");
  jobNodes_.erase(job.Id());
  std::erase_if(skimblerNodes_, [&](const auto& kv) { return kv.second.Job == job; });
}
void TRecordingView::RemoveSkimblerNodes(JobHandle job) {
  std::lock_guard g(lock_);
  Record("RemoveSkimblerNodes");
  std::erase_if(skimblerNodes_, [&](const auto& kv) { return kv.second.Job == job; });
}
void TRecordingView::UpdateJobNode(TJobNodeView node) {
  std::lock_guard g(lock_);
  Record("UpdateJobNode");
  nodeHistory_.push_back(node);
  const auto it = jobNodes_.find(node.Job.Id());
  if (it == jobNodes_.end()) return;
  it->second.StateImage = node.StateImage;
  it->second.ResumeImage = node.ResumeImage;
}
void TRecordingView::RefreshJobNode(TJobNodeView node) {
  std::lock_guard g(lock_);
  Record("RefreshJobNode");
  const auto it = jobNodes_.find(node.Job.Id());
  if (it == jobNodes_.end()) return;
  it->second.Name = node.Name;
  it->second.Priority = node.Priority;
  it->second.ResumeImage = node.ResumeImage;
}
void TRecordingView::ShowJobPriority(JobHandle job, int priority) {
  std::lock_guard g(lock_);
  Record("ShowJobPriority");
  const auto it = jobNodes_.find(job.Id());
  if (it != jobNodes_.end()) it->second.Priority = std::to_string(priority);
}
void TRecordingView::AddSkimblerNode(TSkimblerNodeView node) {
  std::lock_guard g(lock_);
  Record("AddSkimblerNode");
  skimblerNodes_[node.Skimbler.Id()] = std::move(node);
}
void TRecordingView::RemoveSkimblerNode(SkimblerHandle skimbler) {
  std::lock_guard g(lock_);
  Record("RemoveSkimblerNode");
  skimblerNodes_.erase(skimbler.Id());
}
void TRecordingView::UpdateSkimblerNode(TSkimblerNodeView node) {
  std::lock_guard g(lock_);
  Record("UpdateSkimblerNode");
  const auto it = skimblerNodes_.find(node.Skimbler.Id());
  if (it != skimblerNodes_.end()) it->second = std::move(node);
}
TTreeSelection TRecordingView::SelectedNodes() {
  std::lock_guard g(lock_);
  Record("SelectedNodes");
  return selection_;
}
void TRecordingView::ShowJobInfo(TJobInfoValues info) {
  std::lock_guard g(lock_);
  Record("ShowJobInfo");
  info_ = std::move(info);
}
void TRecordingView::ClearJobInfo() {
  std::lock_guard g(lock_);
  Record("ClearJobInfo");
  info_ = {};
}
void TRecordingView::CheckPriorityItem(int priority) {
  std::lock_guard g(lock_);
  Record("CheckPriorityItem");
  checkedPriority_ = priority;
}
void TRecordingView::RebuildCopyURLMenu(std::vector<std::string> urls) {
  std::lock_guard g(lock_);
  Record("RebuildCopyURLMenu");
  copyMenu_ = std::move(urls);
}
void TRecordingView::ShowSkimblerLog(SkimblerHandle, std::vector<TLogLine> lines) {
  std::lock_guard g(lock_);
  Record("ShowSkimblerLog");
  log_ = std::move(lines);
  logPage_ = true;
}
void TRecordingView::AppendLogLine(SkimblerHandle, TLogLine line) {
  std::lock_guard g(lock_);
  Record("AppendLogLine");
  log_.push_back(std::move(line));
}
void TRecordingView::ShowInfoPage() {
  std::lock_guard g(lock_);
  Record("ShowInfoPage");
  log_.clear();
  logPage_ = false;
}
void TRecordingView::LoadBlockMap(JobHandle, std::vector<std::uint8_t> map) {
  std::lock_guard g(lock_);
  Record("LoadBlockMap");
  map_ = std::move(map);
}
void TRecordingView::ClearBlockMap() {
  std::lock_guard g(lock_);
  Record("ClearBlockMap");
  map_.clear();
}
void TRecordingView::MarkSkimblerCells(std::vector<TBlockCell> cells) {
  std::lock_guard g(lock_);
  Record("MarkSkimblerCells");
  for (const auto& c : cells)
    if (c.Index >= 0 && static_cast<std::size_t>(c.Index) < map_.size())
      map_[static_cast<std::size_t>(c.Index)] = static_cast<std::uint8_t>(c.Value);
  marked_ = std::move(cells);
}
void TRecordingView::SetBlockCell(std::int32_t index, TCellValue value) {
  std::lock_guard g(lock_);
  Record("SetBlockCell");
  if (index >= 0 && static_cast<std::size_t>(index) < map_.size())
    map_[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
}
void TRecordingView::SetBlockCells(std::int32_t from, std::int32_t to, TCellValue value) {
  std::lock_guard g(lock_);
  Record("SetBlockCells");
  for (std::int32_t i = std::max(from, 0); i < to && static_cast<std::size_t>(i) < map_.size(); ++i)
    map_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
}
void TRecordingView::ShowTransferRate(std::int64_t bytesLastSecond, std::int64_t totalReceived) {
  std::lock_guard g(lock_);
  Record("ShowTransferRate");
  rate_ = bytesLastSecond;
  total_ = totalReceived;
}
void TRecordingView::ShowActivity(bool active) {
  std::lock_guard g(lock_);
  Record("ShowActivity");
  activity_ = active;
}

void TRecordingView::SetFileExistsAnswer(std::optional<TRenameAnswer> answer) {
  std::lock_guard g(lock_);
  fileExistsAnswer_ = answer;
}
std::vector<TRecordingView::TFileQuestion> TRecordingView::FileQuestions() const {
  std::lock_guard g(lock_);
  return questions_;
}
std::optional<TJobEdit> TRecordingView::LastEditDialog() const {
  std::lock_guard g(lock_);
  return editDialog_;
}
std::vector<std::string> TRecordingView::Clipboard() const {
  std::lock_guard g(lock_);
  return clipboard_;
}
std::vector<TJobNodeView> TRecordingView::JobNodeHistory() const {
  std::lock_guard g(lock_);
  return nodeHistory_;
}
std::vector<std::string> TRecordingView::Opened() const {
  std::lock_guard g(lock_);
  return opened_;
}
void TRecordingView::AskFileExists(std::string fileName, TThreadId asker) {
  std::optional<TRenameAnswer> answer;
  {
    std::lock_guard g(lock_);
    Record("AskFileExists");
    questions_.push_back({std::move(fileName), asker});
    answer = fileExistsAnswer_;
  }
  // Posting never blocks, as the dialog's answer does not.
  if (answer) PostRenameReply(asker, *answer);
}
void TRecordingView::ShowEditJobDialog(TJobEdit job) {
  std::lock_guard g(lock_);
  Record("ShowEditJobDialog");
  editDialog_ = std::move(job);
}
void TRecordingView::CopyToClipboard(std::string text) {
  std::lock_guard g(lock_);
  Record("CopyToClipboard");
  clipboard_.push_back(std::move(text));
}
void TRecordingView::OpenFile(std::string path) {
  std::lock_guard g(lock_);
  Record("OpenFile");
  opened_.push_back("open:" + path);
}
void TRecordingView::ExploreFolder(std::string folder) {
  std::lock_guard g(lock_);
  Record("ExploreFolder");
  opened_.push_back("explore:" + folder);
}

}  // namespace nsk::test
