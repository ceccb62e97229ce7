// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/jobthread.h"

#include <algorithm>

#include "engine/skimblerthread.h"
#include "engine/textutil.h"
#include "engine/viewcalls.h"
#include "engine/viewdata.h"
#include "platform/fileops.h"

namespace nsk {

std::int32_t AutoSkimblerCount(std::int32_t fileSize, std::int32_t everySkimbler) {
  const std::int32_t every = std::max(everySkimbler, 1);
  return std::clamp((std::max(fileSize, 0) / 1024) / every, 1, 20);
}

TJobState EndStateOf(const TJob& job, bool userStopped) {
  const bool complete = job.FileSize != 0 && job.FileSize == job.DoneBytes;
  if (job.Errors < job.MaxErrors || complete || userStopped) {
    if (job.AllURLsFailed()) return TJobState::jsError;
    return complete ? TJobState::jsFinished : TJobState::jsStopped;
  }
  return TJobState::jsError;
}

TJobThread::TJobThread(TEngineContext& context, std::shared_ptr<TJob> job, TThreadId monitor)
    : context_(context), job_(std::move(job)), handle_(job_->Handle()), monitor_(monitor) {
  thread_.Start([this](TThreadQueue& queue, TEventLoop& loop) {
    Run(queue, loop);
  });
}

TJobThread::~TJobThread() { Join(); }

void TJobThread::Join() {
  thread_.Join();
}

void TJobThread::RequestStop() {
  stopRequest_.store(true);
  thread_.Wake();
}

bool TJobThread::IsFocused() const { return context_.JobList.FocusedJob == handle_; }

bool TJobThread::TakeAutoSaveTurn(std::chrono::steady_clock::time_point now) {
  if (autoSaved_ && now - lastAutoSave_ < context_.Timing.AutoSaveFloor) return false;
  autoSaved_ = true;
  lastAutoSave_ = now;
  return true;
}

void TJobThread::Run(TThreadQueue& queue, TEventLoop& loop) {
  if (CheckFiles(queue, loop)) {
    BeginRun();
    ArmTick(loop);
    StartFirst();
    while (!terminated_) {
      if (auto m = queue.Peek()) {
        Handle(*m);
      } else if (!stopRequest_.load()) {
        // Sleeps until a message, the tick or a stop request arrives.
        loop.RunOnce(TEventLoop::kNoTimeout);
      }
      if (stopRequest_.exchange(false))
        TThreadQueue::Post(Id(), TM_JOB_COMMAND, 0, static_cast<std::intptr_t>(TJobCode::jcStopAll));
    }
    if (tick_) loop.CancelTimer(tick_);
    tick_ = 0;
  }
  FinishRun();
}

bool TJobThread::CheckFiles(TThreadQueue& queue, TEventLoop& loop) {
  bool ask = false;
  std::string fileName;
  {
    auto jg = job_->Guard();
    fileName = job_->FileName;
    if (job_->FileSize <= 0) {
      // Nothing of this job was stored yet: whatever file is there belongs to somebody else.
      ask = PathExists(job_->FileName) || PathExists(job_->PartFileName());
    } else if (const auto length = FileLength(job_->PartFileName())) {
      if (*length != job_->FileSize || !job_->OpenPartFile()) {
        context_.Post.Post(TFileErrorMessage{TFileProblem::Invalid, fileName});
        endState_ = TJobState::jsError;
        return false;
      }
    } else {
      context_.Post.Post(TFileErrorMessage{TFileProblem::Missing, fileName});
      endState_ = TJobState::jsError;
      return false;
    }
  }
  if (!ask) return true;

  context_.View.AskFileExists(fileName, Id());
  auto answer = TRenameAnswer::Cancel;
  for (;;) {
    // A stop request while the question is open cancels the start.
    if (stopRequest_.exchange(false)) break;
    auto m = queue.Peek();
    if (!m) {
      loop.RunOnce(TEventLoop::kNoTimeout);
      continue;
    }
    if (m->Message == TM_JOB_COMMAND &&
        m->LParam == static_cast<std::intptr_t>(TJobCode::jcRenameReply)) {
      if (m->WParam == 1) answer = TRenameAnswer::Rename;
      else if (m->WParam == 2) answer = TRenameAnswer::Overwrite;
      break;
    }
  }
  switch (answer) {
    case TRenameAnswer::Cancel:
      endState_ = TJobState::jsStopped;
      return false;
    case TRenameAnswer::Rename: {
      auto lg = context_.JobList.Guard();
      auto jg = job_->Guard();
      job_->FileName = UniqueFileName(job_->FileName);
      job_->Name = FileNameOf(job_->FileName);
      RefreshJobNode(context_.View, *job_);
      if (IsFocused()) context_.View.ShowJobInfo(JobInfoOf(*job_));
      PostSaveList(monitor_);
      return true;
    }
    case TRenameAnswer::Overwrite:
      // The partial file is made anew; the old target is replaced when the job finishes.
      return true;
  }
  return true;
}

void TJobThread::BeginRun() {
  auto lg = context_.JobList.Guard();
  {
    auto jg = job_->Guard();
    skimblerCounter_ = 0;
    job_->ResetForStart(context_.Clock.Now());
    RefreshJobNode(context_.View, *job_);
    if (IsFocused()) context_.View.ShowJobInfo(JobInfoOf(*job_));
  }
  context_.JobList.UpdateActionFlags();
}

void TJobThread::AddConnection() {
  auto s = TSkimbler::Create(handle_, NextSkimblerNumber());
  s->State = TSkimblerState::ssIdle;
  job_->AddSkimbler(s);
  AddSkimblerNode(context_.View, *job_, *s);
  if (!StartWorker(s)) {
    // No worker: the record stands stopped, and the end check runs as if it had ended.
    s->State = TSkimblerState::ssStopped;
    UpdateSkimblerNode(context_.View, *job_, *s);
    TThreadQueue::Post(Id(), TM_JOB_COMMAND, 0,
                       static_cast<std::intptr_t>(TJobCode::jcSkimblerEnded));
  }
}

void TJobThread::StartFirst() {
  auto jg = job_->Guard();
  job_->Probing = true;
  AddConnection();
}

bool TJobThread::StartWorker(const std::shared_ptr<TSkimbler>& s) {
  if (stopping_ || closing_) return false;
  auto worker = std::make_shared<TSkimblerThread>(context_, job_, s, *this);
  {
    // Registered before it runs, so that its end report always finds it.
    std::lock_guard g(workersLock_);
    workers_.emplace(worker->Id(), worker);
  }
  s->Thread = worker;
  try {
    worker->Start();
  } catch (const std::system_error&) {
    s->Thread.reset();
    std::lock_guard g(workersLock_);
    workers_.erase(worker->Id());
    return false;
  }
  return true;
}

void TJobThread::Handle(const TThreadMessage& m) {
  if (m.Message != TM_JOB_COMMAND) return;
  switch (static_cast<TJobCode>(m.LParam)) {
    case TJobCode::jcStartOthers:
      StartOthers();
      break;
    case TJobCode::jcSkimblerEnded: {
      const auto* id = m.PayloadAs<std::uint64_t>();
      SkimblerEnded(m.WParam != 0, id ? *id : 0);
      break;
    }
    case TJobCode::jcRenameReply:  // an answer that came after the question was settled
      break;
    case TJobCode::jcStopAll:
      StopAll();
      break;
  }
}

void TJobThread::StartOthers() {
  const auto settings = context_.Settings.Get();
  auto lg = context_.JobList.Guard();
  {
    auto jg = job_->Guard();
    if (!stopping_ && !closing_) {
      if (job_->AutoSkimblers) {
        job_->SkimblerCount = AutoSkimblerCount(job_->FileSize, settings->EverySkimbler);
        if (IsFocused()) context_.View.ShowJobInfo(JobInfoOf(*job_));
      }
      for (std::int32_t i = 1; i < job_->SkimblerCount; ++i) AddConnection();
    }
    job_->AllStarted = true;
  }
  context_.JobList.UpdateActionFlags();
}

void TJobThread::SkimblerEnded(bool stopped, std::uint64_t workerId) {
  userStopped_ = userStopped_ || stopped;
  bool end = false;
  {
    auto jg = job_->Guard();
    const bool allStopped =
        std::all_of(job_->Skimblers.begin(), job_->Skimblers.end(),
                    [](const auto& s) { return s->State == TSkimblerState::ssStopped; });
    if (allStopped) {
      endState_ = EndStateOf(*job_, userStopped_);
      closing_ = true;
      end = true;
    }
  }
  if (workerId) JoinWorker(workerId);
  if (end) terminated_ = true;
}

void TJobThread::StopAll() {
  auto jg = job_->Guard();
  stopping_ = true;
  for (const auto& s : job_->Skimblers)
    if (s->State != TSkimblerState::ssStopped && s->Thread) s->Thread->RequestStop();
}

void TJobThread::ArmTick(TEventLoop& loop) {
  tick_ = loop.StartTimer(context_.Timing.Tick, [this, &loop] {
    Tick();
    ArmTick(loop);
  });
}

void TJobThread::Tick() {
  const TDateTime now = context_.Clock.Now();
  auto lg = context_.JobList.Guard();
  auto jg = job_->Guard();
  job_->Elapsed = job_->BeginTime >= 0 ? now - job_->BeginTime : 0;
  job_->UpdateRates();
  if (IsFocused()) context_.View.ShowJobInfo(JobInfoOf(*job_));
}

void TJobThread::JoinWorker(std::uint64_t workerId) {
  std::shared_ptr<TSkimblerThread> worker;
  {
    std::lock_guard g(workersLock_);
    const auto it = workers_.find(workerId);
    if (it == workers_.end()) return;
    worker = std::move(it->second);
    workers_.erase(it);
  }
  worker->Join();
}

void TJobThread::JoinAllWorkers() {
  std::map<std::uint64_t, std::shared_ptr<TSkimblerThread>> rest;
  {
    std::lock_guard g(workersLock_);
    rest.swap(workers_);
  }
  for (auto& [id, worker] : rest) worker->Join();
}

void TJobThread::FinishRun() {
  {
    auto lg = context_.JobList.Guard();
    auto jg = job_->Guard();
    closing_ = true;
    job_->CurrentSpeed = 0;
    job_->EndTime = context_.Clock.Now();
    job_->RankURLs();
    if (IsFocused()) context_.View.ShowJobInfo(JobInfoOf(*job_));
    job_->Thread.reset();
    // Closed so that the scheduler can move the partial file to the target.
    job_->PartFile.Close();
  }
  // Every connection has stopped by now; their threads are at their very end.
  JoinAllWorkers();
  // The last act: the scheduler joins this thread once it has handled the report.
  TThreadQueue::Post(monitor_, TM_JOB_ENDED, static_cast<std::intptr_t>(handle_.Id()),
                     static_cast<std::intptr_t>(endState_), MakePayload(handle_));
}

}  // namespace nsk
