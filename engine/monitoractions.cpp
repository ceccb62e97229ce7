// SPDX-License-Identifier: GPL-2.0-or-later
// The scheduler's commands. Each runs on the scheduler thread under the job list's lock,
// taking one job's lock at a time inside it.
#include <algorithm>

#include "engine/history.h"
#include "engine/jobthread.h"
#include "engine/monitorthread.h"
#include "engine/viewcalls.h"
#include "engine/viewdata.h"
#include "platform/fileops.h"

namespace nsk {

void TMonitorThread::Command(TMonitorCode code, std::intptr_t wParam, std::uint16_t second,
                             TThreadMessage& m) {
  using enum TMonitorCode;
  switch (code) {
    case mcSetFilter:
      SetFilter(wParam);
      break;
    case mcAddJob:
      if (auto* job = m.PayloadAs<std::shared_ptr<TJob>>()) {
        const bool added = AddJob(std::move(*job), true);
        if (added) Save();
      }
      break;
    case mcStartNext:
      StartNext(wParam != 0);
      break;
    case mcAddJobs:
      if (auto* jobs = m.PayloadAs<std::vector<std::shared_ptr<TJob>>>()) AddJobs(std::move(*jobs));
      break;
    case mcSelectionChanged:
      SelectionChanged(m.PayloadAs<TTreeSelection>());
      break;
    case mcStartSelected:
      StartJobs(false);
      break;
    case mcStopSelected:
      StopJobs(false);
      break;
    case mcDeleteSelected:
      DeleteSelected();
      break;
    case mcStartAll:
      StartJobs(true);
      break;
    case mcStopAll:
      ExitWhenIdle = wParam != 0;
      StopJobs(true);
      break;
    case mcRestartJob:
      RestartJob();
      break;
    case mcSetPriority:
      SetPriority(wParam);
      break;
    case mcCopyURL:
      CopyURL(wParam);
      break;
    case mcDeleteJob:
      if (const auto* h = m.PayloadAs<JobHandle>()) DeleteJobs({*h}, second == 1);
      break;
    case mcDeleteJobs:
      if (const auto* list = m.PayloadAs<std::vector<JobHandle>>()) DeleteJobs(*list, second == 1);
      break;
    case mcEditJob:
      EditJob();
      break;
    case mcJobEdited: {
      const auto* edit = m.PayloadAs<TJobEdit>();
      JobHandle h = edit ? edit->Job : JobHandle();
      if (!edit) {
        // Without values the command only refreshes what shows the job.
        if (const auto job = context_.JobList.Find(JobHandle(static_cast<std::uint64_t>(wParam), {})))
          h = job->Handle();
      }
      JobEdited(h, edit);
      break;
    }
    case mcExplore:
      ExploreOrLaunch(false);
      break;
    case mcLaunch:
      ExploreOrLaunch(true);
      break;
    case mcRunSkimbler:
      RunSkimbler();
      break;
    case mcStopSkimbler:
      StopSkimbler();
      break;
    case mcAddSkimbler:
      AddSkimbler();
      break;
    case mcDeleteSkimbler:
      DeleteSkimbler();
      break;
    case mcNewList:
    case mcOpenList:
    case mcSaveListAs:
      ListCommand(code);
      break;
    case mcClearHistory:
      ClearHistoryPage();
      break;
    case mcSaveList:
      Save();
      break;
  }
}

// ---- helpers ----

void TMonitorThread::HideNode(TJob& job) {
  const std::uint8_t f = context_.JobList.ViewFilter.load();
  if (f != 0 && f == ToInt(job.State) + 1) RemoveJobNode(context_.View, job);
}

void TMonitorThread::ShowNode(TJob& job) {
  if (!context_.JobList.PassesFilter(job)) return;
  if (job.TreeNode)
    UpdateJobNode(context_.View, job);
  else
    AddJobNode(context_.View, job);
}

void TMonitorThread::PruneSelection() {
  TJobList& list = context_.JobList;
  auto lg = list.Guard();
  std::erase_if(list.SelectedJobs, [&](const JobHandle& h) { return !list.Find(h); });
  std::erase_if(list.SelectedSkimblers, [&](const SkimblerHandle& h) {
    const auto s = h.Resolve();
    const auto job = s ? list.Find(s->Job()) : nullptr;
    if (!job) return true;
    auto jg = job->Guard();
    return !job->FindSkimbler(h);
  });
  list.ComputeFocus();
}

std::shared_ptr<TJob> TMonitorThread::FocusedJob() const {
  const TJobList& list = context_.JobList;
  return list.FocusedJob ? list.Find(list.FocusedJob) : nullptr;
}

void TMonitorThread::RefreshFocusMenus() {
  TJobList& list = context_.JobList;
  const auto job = FocusedJob();
  if (!job) return;
  auto jg = job->Guard();
  if (list.IsEnabled(TAction::SetPriority)) context_.View.CheckPriorityItem(job->Priority);
  if (list.IsEnabled(TAction::CopyURL)) {
    std::vector<std::string> urls;
    for (const auto& u : job->URLs) urls.push_back(u.URL);
    context_.View.RebuildCopyURLMenu(std::move(urls));
  }
}

// ---- commands ----

void TMonitorThread::SetFilter(std::intptr_t filter) {
  if (filter < 0 || filter > 5) return;
  TJobList& list = context_.JobList;
  TView& view = context_.View;
  auto lg = list.Guard();
  view.BeginTreeUpdate();
  list.ViewFilter.store(static_cast<std::uint8_t>(filter));
  for (const auto& job : list.Jobs()) {
    auto jg = job->Guard();
    ForgetTreeNodes(*job);
  }
  view.ClearTree();
  for (const auto& job : list.Jobs()) {
    auto jg = job->Guard();
    if (list.PassesFilter(*job)) AddJobNode(view, *job);
  }
  view.EndTreeUpdate();
}

bool TMonitorThread::AddJob(std::shared_ptr<TJob> job, bool startNext) {
  if (!job) return false;
  TJobList& list = context_.JobList;
  if (list.Find(job->Handle())) return false;  // handed over twice
  if (list.HasURL(job->Handle())) {
    std::string url;
    {
      auto jg = job->Guard();
      url = job->FirstURL();
    }
    context_.Post.Post(TDuplicateJobMessage{job->Handle(), url});
    return false;
  }
  bool queue = false;
  {
    auto lg = list.Guard();
    {
      auto jg = job->Guard();
      // A new job has no thread: one handed over as running waits in the queue instead.
      if (job->State == TJobState::jsRunning) job->State = TJobState::jsQueued;
      job->Thread.reset();
      queue = job->State != TJobState::jsStopped && job->State != TJobState::jsFinished;
      if (queue) idleReported_ = false;
    }
    list.Add(job);
    {
      auto jg = job->Guard();
      ShowNode(*job);
    }
    list.PostCounts(context_.Post);
  }
  if (queue && startNext) PostStartNext(Id(), false);
  return true;
}

void TMonitorThread::AddJobs(std::vector<std::shared_ptr<TJob>> jobs) {
  bool anyStopped = false;
  context_.View.BeginTreeUpdate();
  for (auto& job : jobs) {
    if (!job) continue;
    bool stopped = false;
    {
      auto jg = job->Guard();
      stopped = job->State == TJobState::jsStopped;
    }
    // Duplicates go to the window one by one; the queue runs once for the whole list.
    const bool added = AddJob(std::move(job), false);
    anyStopped = anyStopped || (added && stopped);
  }
  context_.View.EndTreeUpdate();
  if (!anyStopped) PostStartNext(Id(), false);
  Save();
}

void TMonitorThread::SelectionChanged(const TTreeSelection* selection) {
  TJobList& list = context_.JobList;
  TView& view = context_.View;
  auto lg = list.Guard();
  if (selection)
    list.RebuildSelection(*selection);
  else
    list.RebuildSelection(view);
  PruneSelection();
  if (const auto job = FocusedJob()) {
    auto jg = job->Guard();
    view.ShowJobInfo(JobInfoOf(*job));
    if (list.FocusedJob != list.ShownJob) view.LoadBlockMap(job->Handle(), job->BlockMap);
    view.MarkSkimblerCells(SkimblerCellsOf(*job, list.FocusedSkimbler));
    const auto s = list.FocusedSkimbler ? job->FindSkimbler(list.FocusedSkimbler) : nullptr;
    if (s)
      view.ShowSkimblerLog(s->Handle(), s->Log);
    else
      view.ShowInfoPage();
  } else {
    view.ClearJobInfo();
    view.ClearBlockMap();
    view.ShowInfoPage();
  }
  list.UpdateActionFlags();
  RefreshFocusMenus();
  list.ShownJob = list.FocusedJob;
  list.ShownSkimbler = list.FocusedSkimbler;
}

void TMonitorThread::StartJobs(bool all) {
  TJobList& list = context_.JobList;
  {
    auto lg = list.Guard();
    std::vector<std::shared_ptr<TJob>> jobs;
    if (all) {
      jobs = list.Jobs();
    } else {
      for (const auto& h : list.SelectedJobs)
        if (auto j = list.Find(h)) jobs.push_back(std::move(j));
    }
    for (const auto& job : jobs) {
      auto jg = job->Guard();
      if ((job->State == TJobState::jsStopped || job->State == TJobState::jsError) &&
          job->Priority > 0) {
        HideNode(*job);
        job->State = TJobState::jsQueued;
        ShowNode(*job);
        idleReported_ = false;
      }
    }
    list.UpdateActionFlags();
    list.PostCounts(context_.Post);
  }
  PostStartNext(Id(), false);
}

void TMonitorThread::StopJobs(bool all) {
  TJobList& list = context_.JobList;
  {
    auto lg = list.Guard();
    std::vector<std::shared_ptr<TJob>> jobs;
    if (all) {
      jobs = list.Jobs();
    } else {
      for (const auto& h : list.SelectedJobs)
        if (auto j = list.Find(h)) jobs.push_back(std::move(j));
    }
    for (const auto& job : jobs) {
      auto jg = job->Guard();
      if (job->State == TJobState::jsQueued) {
        HideNode(*job);
        job->State = TJobState::jsStopped;
        ShowNode(*job);
      } else if (job->State == TJobState::jsRunning && job->Thread) {
        job->Thread->RequestStop();
      }
    }
    list.UpdateActionFlags();
    list.PostCounts(context_.Post);
  }
  PostStartNext(Id(), true);
}

void TMonitorThread::DeleteSelected() {
  TJobList& list = context_.JobList;
  {
    auto lg = list.Guard();
    std::vector<std::shared_ptr<TJob>> jobs;
    for (const auto& h : list.SelectedJobs)
      if (auto j = list.Find(h)) jobs.push_back(std::move(j));
    for (const auto& job : jobs) {
      TJobState state;
      std::string url;
      {
        auto jg = job->Guard();
        state = job->State;
        url = job->FirstURL();
        if (state == TJobState::jsFinished) RemoveJobNode(context_.View, *job);
      }
      if (state == TJobState::jsFinished)
        list.Remove(job->Handle());  // no file is touched
      else if (state == TJobState::jsStopped || state == TJobState::jsError)
        context_.Post.Post(TConfirmDeleteMessage{job->Handle(), url});
    }
    PruneSelection();
    list.PostCounts(context_.Post);
  }
  Save();
}

void TMonitorThread::DeleteJobs(const std::vector<JobHandle>& handles, bool keepFiles) {
  TJobList& list = context_.JobList;
  {
    auto lg = list.Guard();
    for (auto it = handles.rbegin(); it != handles.rend(); ++it) {
      const auto job = list.Find(*it);
      if (!job) continue;
      std::string part, info;
      {
        auto jg = job->Guard();
        // A job that was started after the user chose to delete it stays: its threads
        // work on it.
        if (job->State == TJobState::jsRunning) continue;
        RemoveJobNode(context_.View, *job);
        part = job->PartFileName();
        info = job->InfoFileName();
      }
      list.Remove(job->Handle());
      if (!keepFiles) {
        // The target file itself is never deleted.
        RemoveFile(part);
        RemoveFile(info);
      }
    }
    PruneSelection();
    list.PostCounts(context_.Post);
  }
  Save();
}

void TMonitorThread::RestartJob() {
  TJobList& list = context_.JobList;
  bool restarted = false;
  {
    auto lg = list.Guard();
    const auto job = FocusedJob();
    if (!job) return;
    auto jg = job->Guard();
    using enum TJobState;
    if (job->State != jsStopped && job->State != jsError && job->State != jsFinished) return;
    HideNode(*job);
    job->State = jsQueued;
    ShowNode(*job);
    idleReported_ = false;
    job->FileSize = 0;
    job->FileDate = kNoDate;
    job->Percent = 0;
    job->DoneBytes = 0;
    job->CurrentSpeed = 0;
    job->AverageSpeed = 0;
    job->Elapsed = 0;
    job->Remaining = 0;
    job->Errors = 0;
    job->ResumeState = TResumeState::rsUnknown;
    job->BlockMap.clear();
    job->ClearBlocks();
    for (auto& u : job->URLs) u.ClearRunStatistics();
    RefreshJobNode(context_.View, *job);
    context_.View.ShowJobInfo(JobInfoOf(*job));
    context_.View.LoadBlockMap(job->Handle(), job->BlockMap);
    restarted = true;
  }
  if (!restarted) return;
  PostStartSelected(Id());
  Save();
}

void TMonitorThread::SetPriority(std::intptr_t priority) {
  {
    auto lg = context_.JobList.Guard();
    const auto job = FocusedJob();
    if (!job) return;
    auto jg = job->Guard();
    job->Priority = static_cast<std::uint8_t>(std::clamp<std::intptr_t>(priority, 0, 5));
    nsk::ShowJobPriority(context_.View, *job);
  }
  Save();
}

void TMonitorThread::CopyURL(std::intptr_t index) {
  auto lg = context_.JobList.Guard();
  const auto job = FocusedJob();
  if (!job || index < 0) return;
  std::string url;
  {
    auto jg = job->Guard();
    if (static_cast<std::size_t>(index) >= job->URLs.size()) return;
    url = job->URLs[static_cast<std::size_t>(index)].URL;
  }
  context_.JobList.IgnoreClipboard.store(true);
  context_.View.CopyToClipboard(std::move(url));
}

void TMonitorThread::EditJob() {
  auto lg = context_.JobList.Guard();
  const auto job = FocusedJob();
  if (!job) return;
  auto jg = job->Guard();
  context_.View.ShowEditJobDialog(JobEditOf(*job));
}

void TMonitorThread::JobEdited(const JobHandle& handle, const TJobEdit* edit) {
  TJobList& list = context_.JobList;
  {
    auto lg = list.Guard();
    const auto job = list.Find(handle);
    if (!job) return;
    {
      auto jg = job->Guard();
      // A running job's files and URLs are its threads'; an edit that arrives after the
      // job was started is not applied.
      if (edit && job->State != TJobState::jsRunning) ApplyJobEdit(*job, *edit);
      RefreshJobNode(context_.View, *job);
      if (list.FocusedJob == job->Handle()) context_.View.ShowJobInfo(JobInfoOf(*job));
    }
    RefreshFocusMenus();
  }
  Save();
}

void TMonitorThread::ExploreOrLaunch(bool launch) {
  auto lg = context_.JobList.Guard();
  const auto job = FocusedJob();
  if (!job) return;
  std::string path;
  {
    auto jg = job->Guard();
    if (job->State != TJobState::jsFinished) return;
    path = job->FileName;
  }
  if (launch)
    context_.View.OpenFile(path);
  else
    context_.View.ExploreFolder(FolderOf(path));
}

void TMonitorThread::RunSkimbler() {
  auto lg = context_.JobList.Guard();
  const auto job = FocusedJob();
  if (!job || !context_.JobList.FocusedSkimbler) return;
  auto jg = job->Guard();
  const auto s = job->FindSkimbler(context_.JobList.FocusedSkimbler);
  const auto thread = JobThreadOf(*job);
  if (job->State != TJobState::jsRunning || !s || s->State != TSkimblerState::ssStopped ||
      !thread || !job->Thread)
    return;
  s->State = TSkimblerState::ssIdle;
  UpdateSkimblerNode(context_.View, *job, *s);
  if (!thread->StartWorker(s)) {
    s->State = TSkimblerState::ssStopped;
    UpdateSkimblerNode(context_.View, *job, *s);
  }
}

void TMonitorThread::StopSkimbler() {
  auto lg = context_.JobList.Guard();
  const auto job = FocusedJob();
  if (!job || !context_.JobList.FocusedSkimbler) return;
  auto jg = job->Guard();
  const auto s = job->FindSkimbler(context_.JobList.FocusedSkimbler);
  if (job->State == TJobState::jsRunning && s && s->State != TSkimblerState::ssStopped && s->Thread)
    s->Thread->RequestStop();
}

void TMonitorThread::AddSkimbler() {
  bool added = false;
  {
    auto lg = context_.JobList.Guard();
    const auto job = FocusedJob();
    if (!job) return;
    auto jg = job->Guard();
    const auto thread = JobThreadOf(*job);
    // A job has at most 20 connections.
    if (job->State != TJobState::jsRunning || job->ResumeState != TResumeState::rsResumable ||
        !job->AllStarted || !thread || !job->Thread || job->Skimblers.size() >= 20)
      return;
    auto s = TSkimbler::Create(job->Handle(), thread->NextSkimblerNumber());
    s->State = TSkimblerState::ssIdle;
    // The worker waits for the job's lock, held here, before it touches the record.
    if (!thread->StartWorker(s)) return;
    job->AddSkimbler(s);
    nsk::AddSkimblerNode(context_.View, *job, *s);
    job->SkimblerCount = std::min(job->SkimblerCount + 1, 20);
    context_.View.ShowJobInfo(JobInfoOf(*job));
    added = true;
  }
  if (added) Save();
}

void TMonitorThread::DeleteSkimbler() {
  bool deleted = false;
  {
    auto lg = context_.JobList.Guard();
    const auto job = FocusedJob();
    if (!job || !context_.JobList.FocusedSkimbler) return;
    {
      auto jg = job->Guard();
      const auto s = job->FindSkimbler(context_.JobList.FocusedSkimbler);
      if (job->State != TJobState::jsRunning || !s || s->State != TSkimblerState::ssStopped ||
          job->SkimblerCount <= 1)
        return;
      job->RemoveSkimbler(s->Handle());
      nsk::RemoveSkimblerNode(context_.View, *s);
      job->SkimblerCount -= 1;
      context_.View.ShowJobInfo(JobInfoOf(*job));
    }
    PruneSelection();
    deleted = true;
  }
  if (deleted) Save();
}

void TMonitorThread::ListCommand(TMonitorCode code) {
  TJobList& list = context_.JobList;
  const auto number = static_cast<std::int32_t>(code);
  if (list.CountActive().Sum() > 0) {
    context_.Post.Post(TListFileAnswerMessage{true, number});
    return;
  }
  StartLatch = true;
  if (code == TMonitorCode::mcNewList || code == TMonitorCode::mcOpenList) {
    auto lg = list.Guard();
    const auto jobs = list.Jobs();
    for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
      {
        auto jg = (*it)->Guard();
        RemoveJobNode(context_.View, **it);
      }
      list.Remove((*it)->Handle());
    }
    PruneSelection();
    list.PostCounts(context_.Post);
  }
  context_.Post.Post(TListFileAnswerMessage{false, number});
}

void TMonitorThread::ClearHistoryPage() { ClearHistory(context_.ProgramFolder); }

}  // namespace nsk
