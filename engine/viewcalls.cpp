// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/viewcalls.h"

#include "engine/viewdata.h"

namespace nsk {

void AddJobNode(TView& view, TJob& job) {
  view.AddJobNode(JobNodeOf(job));
  job.TreeNode = true;
  for (const auto& s : job.Skimblers) AddSkimblerNode(view, job, *s);
}

void RemoveJobNode(TView& view, TJob& job) {
  if (!job.TreeNode) return;
  for (const auto& s : job.Skimblers) s->TreeNode = false;
  view.RemoveJobNode(job.Handle());
  job.TreeNode = false;
}

void RemoveSkimblerNodes(TView& view, TJob& job) {
  for (const auto& s : job.Skimblers) s->TreeNode = false;
  if (job.TreeNode) view.RemoveSkimblerNodes(job.Handle());
}

void UpdateJobNode(TView& view, const TJob& job) {
  if (job.TreeNode) view.UpdateJobNode(JobNodeOf(job));
}

void RefreshJobNode(TView& view, const TJob& job) {
  if (job.TreeNode) view.RefreshJobNode(JobNodeOf(job));
}

void ShowJobPriority(TView& view, const TJob& job) {
  // The info row follows even for a job without a node; the view checks what it shows.
  view.ShowJobPriority(job.Handle(), job.Priority);
}

void AddSkimblerNode(TView& view, const TJob& job, TSkimbler& skimbler) {
  if (!job.TreeNode) return;
  view.AddSkimblerNode(SkimblerNodeOf(job, skimbler));
  skimbler.TreeNode = true;
}

void RemoveSkimblerNode(TView& view, TSkimbler& skimbler) {
  if (!skimbler.TreeNode) return;
  view.RemoveSkimblerNode(skimbler.Handle());
  skimbler.TreeNode = false;
}

void UpdateSkimblerNode(TView& view, const TJob& job, const TSkimbler& skimbler) {
  if (skimbler.TreeNode) view.UpdateSkimblerNode(SkimblerNodeOf(job, skimbler));
}

void ForgetTreeNodes(TJob& job) {
  job.TreeNode = false;
  for (const auto& s : job.Skimblers) s->TreeNode = false;
}

}  // namespace nsk
