// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "engine/job.h"
#include "engine/view.h"

namespace nsk {

// The engine's side of the job tree operations: they keep the records' TreeNode flags and
// call the view only where a node exists (or, for adds, where the parent exists), with
// snapshots of the records. Call them with the job's lock held.

// A node for the job and one for each of its connections.
void AddJobNode(TView& view, TJob& job);
// When the job has a node: its connection nodes and its node go.
void RemoveJobNode(TView& view, TJob& job);
// The connection nodes under the job's node go.
void RemoveSkimblerNodes(TView& view, TJob& job);
void UpdateJobNode(TView& view, const TJob& job);   // state and resume images
void RefreshJobNode(TView& view, const TJob& job);  // name, priority, resume image
void ShowJobPriority(TView& view, const TJob& job);
// When the job has a node: a child node for the connection.
void AddSkimblerNode(TView& view, const TJob& job, TSkimbler& skimbler);
void RemoveSkimblerNode(TView& view, TSkimbler& skimbler);
void UpdateSkimblerNode(TView& view, const TJob& job, const TSkimbler& skimbler);
// After the tree was cleared: the job and its connections have no nodes any more.
void ForgetTreeNodes(TJob& job);

}  // namespace nsk
