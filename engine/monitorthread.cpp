// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/monitorthread.h"

#include <cmath>

#include "engine/history.h"
#include "engine/jobthread.h"
#include "engine/viewcalls.h"
#include "platform/fileops.h"

namespace nsk {
namespace {

constexpr double kScheduleWindow = 20.0 / 86400.0;  // 20 seconds as a date-time

// The scanner's arguments: the file, then the words of the settings' text.
std::vector<std::string> ScannerArguments(const std::string& fileName, const std::string& args) {
  std::vector<std::string> out{fileName};
  std::string word;
  for (char c : args) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) out.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) out.push_back(std::move(word));
  return out;
}

}  // namespace

TMonitorThread::TMonitorThread(TEngineContext& context) : context_(context) {
  thread_.Start([this](TThreadQueue& queue, TEventLoop& loop) {
    Run(queue, loop);
  });
}

TMonitorThread::~TMonitorThread() { Terminate(); }

void TMonitorThread::Terminate() {
  terminate_.store(true);
  thread_.Wake();
  thread_.Join();
}

void TMonitorThread::RequestRefresh() {
  PendingRefresh.store(true);
  thread_.Wake();
}

void TMonitorThread::Run(TThreadQueue& queue, TEventLoop& loop) {
  TickCount = 0;
  StartLatch = StopLatch = false;
  ArmTick(loop);
  while (!terminate_.load()) {
    auto m = queue.Peek();
    if (!m && !PendingRefresh.load() && !PendingAutoStart.load()) {
      // Sleeps until a command, the tick or the end arrives.
      loop.RunOnce(TEventLoop::kNoTimeout);
      m = queue.Peek();
    }
    if (m) Handle(*m);
    if (PendingRefresh.exchange(false)) {
      PostSetFilter(Id(), context_.JobList.ViewFilter.load());
      context_.JobList.PostCounts(context_.Post);
    }
    if (PendingAutoStart.exchange(false) && context_.Settings.Get()->StartRunning)
      PostStartAll(Id());
  }
  if (timer_) loop.CancelTimer(timer_);
  timer_ = 0;
  StopJobThreads(queue, loop);
}

void TMonitorThread::StopJobThreads(TThreadQueue& queue, TEventLoop& loop) {
  if (jobThreads_.empty()) return;
  for (auto& [id, thread] : jobThreads_) thread->RequestStop();
  while (!jobThreads_.empty()) {
    auto m = queue.Peek();
    if (!m) {
      loop.RunOnce(TEventLoop::kNoTimeout);
      continue;
    }
    if (m->Message == TM_JOB_ENDED) Handle(*m);
  }
}

void TMonitorThread::Handle(TThreadMessage& m) {
  if (m.Message == TM_MONITOR_COMMAND) {
    Command(MonitorCodeOf(m.LParam), m.WParam, MonitorSecondOf(m.LParam), m);
  } else if (m.Message == TM_JOB_ENDED) {
    const auto state = static_cast<TJobState>(static_cast<std::uint32_t>(m.LParam) & 0xFF);
    if (const auto* h = m.PayloadAs<JobHandle>()) JobEnded(*h, state);
  }
}

void TMonitorThread::ArmTick(TEventLoop& loop) {
  timer_ = loop.StartTimer(context_.Timing.Tick, [this, &loop] {
    Tick();
    ArmTick(loop);
  });
}

void TMonitorThread::Tick() {
  const TByteCounter::TTick t = context_.JobList.Counter.TakeTick();
  context_.View.ShowTransferRate(t.Delta, t.Total);
  if (TickCount == 4) {
    TickCount = 0;
    ScheduleCheck();
  } else {
    ++TickCount;
  }
  context_.JobList.RebuildRunningHints();
}

void TMonitorThread::ScheduleCheck() {
  const auto settings = context_.Settings.Get();
  const TDateTime now = context_.Clock.Now();
  const TDateTime today = std::floor(now);
  // Fires once within the 20 seconds after the time of day; the latch opens again after.
  const auto check = [&](double timeOfDay, bool& latch) {
    const TDateTime d = now - (today + (timeOfDay - std::floor(timeOfDay)));
    if (d < 0) return false;
    if (d >= kScheduleWindow) {
      latch = false;
      return false;
    }
    if (latch) return false;
    latch = true;
    return true;
  };
  if (settings->StartSchedule && check(settings->StartTime, StartLatch)) PostStartAll(Id());
  if (settings->StopSchedule && check(settings->StopTime, StopLatch) &&
      context_.JobList.CountActive().Sum() > 0)
    PostStopAll(Id(), false);
}

void TMonitorThread::Save() {
  const auto settings = context_.Settings.Get();
  // A failed save is silent; the previous file stays as it was.
  if (!settings->CurListFile.empty()) context_.JobList.SaveToFile(settings->CurListFile);
}

void TMonitorThread::StartNext(bool reportAllDone) {
  const auto settings = context_.Settings.Get();
  TJobList& list = context_.JobList;
  bool more = false;
  {
    auto lg = list.Guard();
    const TNextJob next = list.PickNextJob(settings->MaxJobs);
    if (const auto job = next.Job ? list.Find(next.Job) : nullptr) {
      more = next.More;
      bool focusLost = false;
      {
        auto jg = job->Guard();
        RemoveSkimblerNodes(context_.View, *job);
        // The connection records of the last run go.
        for (const auto& s : job->Skimblers)
          focusLost = focusLost || s->Handle() == list.FocusedSkimbler;
        job->Skimblers.clear();
        HideNode(*job);
        job->State = TJobState::jsRunning;
        ShowNode(*job);
        try {
          auto thread = std::make_shared<TJobThread>(context_, job, Id());
          job->Thread = thread;
          jobThreads_[job->Handle().Id()] = std::move(thread);
        } catch (const std::system_error&) {
          // No thread could be made: the job waits for the next pass.
          HideNode(*job);
          job->State = TJobState::jsQueued;
          ShowNode(*job);
          more = false;
        }
      }
      if (focusLost) PruneSelection();
      list.PostCounts(context_.Post);
      list.UpdateActionFlags();
    }
  }
  const bool active = list.CountActive().Sum() > 0;
  context_.View.ShowActivity(active);
  list.RebuildRunningHints();
  if (more) PostStartNext(Id(), false);
  if (active) {
    idleReported_ = false;
  } else if (!idleReported_ && (ExitWhenIdle || reportAllDone)) {
    // Jobs that end together each post a check; the window hears of the idle list once.
    idleReported_ = true;
    if (ExitWhenIdle)
      context_.Post.Post(TCloseProgramMessage{});
    else
      context_.Post.Post(TAllDoneMessage{});
  }
}

void TMonitorThread::JobEnded(const JobHandle& handle, TJobState state) {
  TJobList& list = context_.JobList;
  const auto settings = context_.Settings.Get();
  bool finished = false;
  std::string scanFile;
  if (const auto job = list.Find(handle)) {
    auto lg = list.Guard();
    auto jg = job->Guard();
    if (state == TJobState::jsFinished) {
      // rename replaces an old target in one step (a copy across file systems replaces it
      // only once complete), so nothing is deleted before the data is in place. When the move
      // fails the partial and information files stay and the job ends in error: starting it
      // again finds every byte there and tries the move once more.
      if (MoveFile(job->PartFileName(), job->FileName)) {
        finished = true;
      } else {
        state = TJobState::jsError;
        context_.Post.Post(TFileErrorMessage{TFileProblem::MoveFailed, job->FileName});
      }
    }
    HideNode(*job);
    job->State = state;
    ShowNode(*job);
    if (finished) {
      if (settings->VirusCheck && !settings->VirusScanner.empty()) scanFile = job->FileName;
      if (settings->DeleteComplete) PostDeleteJob(Id(), handle, false);
    }
    job->SaveInfoFile();
    AppendHistory(*job, context_.ProgramFolder);
  }
  if (!scanFile.empty())
    context_.Launcher.Launch(settings->VirusScanner, ScannerArguments(scanFile, settings->ScannerArgs));
  if (finished) Save();
  list.PostCounts(context_.Post);
  list.UpdateActionFlags();
  PostStartNext(Id(), true);
  // The job thread's last act was its report: this join returns at once.
  if (const auto it = jobThreads_.find(handle.Id()); it != jobThreads_.end()) {
    const auto thread = std::move(it->second);
    jobThreads_.erase(it);
    thread->Join();
  }
}

std::shared_ptr<TJobThread> TMonitorThread::JobThreadOf(const TJob& job) const {
  const auto it = jobThreads_.find(job.Handle().Id());
  return it == jobThreads_.end() ? nullptr : it->second;
}

}  // namespace nsk
