// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/handle.h"
#include "engine/jobedit.h"
#include "engine/skimbler.h"
#include "platform/threadqueue.h"

namespace nsk {

// What the engine shows in the window goes through TView. Every operation carries values
// that the caller built while it held the list or job lock; a front end queues them for its
// GUI thread in call order and returns at once, so no engine thread waits for the GUI and
// the GUI never reads an engine record. Tree nodes are identified by their record's handle.

// A job node: "!" column, tree column and the two images.
struct TJobNodeView {
  JobHandle Job;
  std::string Priority;  // the priority as a digit
  std::string Name;
  int StateImage = 3;    // job state + 1 (1 running .. 5 finished), normal and selected look
  int ResumeImage = 6;   // resume state + 6 (6 unknown, 7 resumable, 8 not resumable)

  friend bool operator==(const TJobNodeView&, const TJobNodeView&) = default;
};

// A connection node under its job's node.
struct TSkimblerNodeView {
  static constexpr int kImage = 9;
  static constexpr int kSelectedImage = 10;

  SkimblerHandle Skimbler;
  JobHandle Job;           // the parent node
  std::string Text;        // "#" + Number
  std::string WorkingURL;  // "Working URL" column and hint; empty without a current URL
  int StateImage = 16;     // connection state + 11 (11 resolving .. 17 idle)

  friend bool operator==(const TSkimblerNodeView&, const TSkimblerNodeView&) = default;
};

// The 18 values of the info list, indexed by column id (labels in kInfoLabels).
inline constexpr int kInfoValueCount = 18;
struct TJobInfoValues {
  JobHandle Job;
  std::array<std::string, kInfoValueCount> Values;

  friend bool operator==(const TJobInfoValues&, const TJobInfoValues&) = default;
};

// Block map cell values.
enum class TCellValue : std::uint8_t {
  Missing = 0,
  Stored = 1,
  OtherConnection = 2,    // a connection is working at this chunk
  FocusedConnection = 3,  // the focused connection is working at this chunk
};

struct TBlockCell {
  std::int32_t Index = 0;
  TCellValue Value = TCellValue::Missing;

  friend bool operator==(const TBlockCell&, const TBlockCell&) = default;
};

// The selected tree nodes, in selection order: job nodes and connection nodes.
struct TTreeSelection {
  std::vector<JobHandle> Jobs;
  std::vector<SkimblerHandle> Skimblers;
};

class TView {
 public:
  virtual ~TView() = default;

  // --- job tree ---
  virtual void BeginTreeUpdate() = 0;
  virtual void EndTreeUpdate() = 0;
  virtual void ClearTree() = 0;
  // A top-level node for the job; its connection nodes follow as AddSkimblerNode calls.
  virtual void AddJobNode(TJobNodeView node) = 0;
  // Deletes the job's node together with its connection nodes.
  virtual void RemoveJobNode(JobHandle job) = 0;
  virtual void RemoveSkimblerNodes(JobHandle job) = 0;
  // Sets the state image and the resume image again.
  virtual void UpdateJobNode(TJobNodeView node) = 0;
  // Sets the text, the "!" column and the resume image again.
  virtual void RefreshJobNode(TJobNodeView node) = 0;
  // The node's "!" column and, when that row is visible, the "Priority" info row.
  virtual void ShowJobPriority(JobHandle job, int priority) = 0;
  virtual void AddSkimblerNode(TSkimblerNodeView node) = 0;
  virtual void RemoveSkimblerNode(SkimblerHandle skimbler) = 0;
  // Sets the state image and the "Working URL" column again.
  virtual void UpdateSkimblerNode(TSkimblerNodeView node) = 0;
  // The selection the tree shows now (kept by the front end; reading it never waits for the
  // GUI thread).
  virtual TTreeSelection SelectedNodes() = 0;

  // --- info list, menus, log list ---
  virtual void ShowJobInfo(TJobInfoValues info) = 0;
  virtual void ClearJobInfo() = 0;
  virtual void CheckPriorityItem(int priority) = 0;
  virtual void RebuildCopyURLMenu(std::vector<std::string> urls) = 0;
  // Replaces the log list with the connection's lines and shows the log page.
  virtual void ShowSkimblerLog(SkimblerHandle skimbler, std::vector<TLogLine> lines) = 0;
  // One more line of the focused connection (the caller checks the focus).
  virtual void AppendLogLine(SkimblerHandle skimbler, TLogLine line) = 0;
  // Empties the log list and shows the info page.
  virtual void ShowInfoPage() = 0;

  // --- block map ---
  virtual void LoadBlockMap(JobHandle job, std::vector<std::uint8_t> map) = 0;
  virtual void ClearBlockMap() = 0;
  virtual void MarkSkimblerCells(std::vector<TBlockCell> cells) = 0;
  // Cells outside the map are ignored.
  virtual void SetBlockCell(std::int32_t index, TCellValue value) = 0;
  // Cells [from, to) get value: the chunks one packet completed.
  virtual void SetBlockCells(std::int32_t from, std::int32_t to, TCellValue value) = 0;

  // --- histogram, status bar, tray ---
  // Bytes received in the last second by all connections, and in all since program start.
  virtual void ShowTransferRate(std::int64_t bytesLastSecond, std::int64_t totalReceived) = 0;
  // Basket animation and tray icon cycling on while a job is running or queued.
  virtual void ShowActivity(bool active) = 0;

  // --- questions and the desktop ---
  // A job about to start finds its target or partial file present: ask the user whether to
  // rename the job automatically, overwrite or cancel. The answer goes to the asking job
  // thread later (PostRenameReply, monitorcommands.h); the call itself does not wait.
  virtual void AskFileExists(std::string fileName, TThreadId asker) = 0;
  // The add-job dialog in edit mode for this snapshot of the focused job (mcEditJob); on OK it
  // sends the edited values with mcJobEdited.
  virtual void ShowEditJobDialog(TJobEdit job) = 0;
  // Puts the text on the clipboard (mcCopyURL; the job list's IgnoreClipboard is set first).
  virtual void CopyToClipboard(std::string text) = 0;
  // A finished job's file opened with the desktop's opener (mcLaunch), or its folder shown
  // (mcExplore).
  virtual void OpenFile(std::string path) = 0;
  virtual void ExploreFolder(std::string folder) = 0;
};

}  // namespace nsk
