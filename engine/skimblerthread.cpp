// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/skimblerthread.h"

#include <algorithm>
#include <cstdio>
#include <future>
#include <limits>

#include "engine/jobthread.h"
#include "engine/monitorcommands.h"
#include "engine/textutil.h"
#include "engine/viewcalls.h"
#include "engine/viewdata.h"
#include "net/converterror.h"
#include "net/urlparts.h"
#include "net/wynftp.h"
#include "net/wynhttp.h"
#include "platform/fileops.h"

namespace nsk {
namespace {

std::string Numbered(const char* format, std::int64_t n) {
  char buf[96];
  std::snprintf(buf, sizeof buf, format, static_cast<long long>(n));
  return buf;
}

std::int32_t Milliseconds(std::int32_t seconds) {
  const std::int64_t ms = static_cast<std::int64_t>(seconds) * 1000;
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(ms, 0, std::numeric_limits<std::int32_t>::max()));
}

// A proxy port as a number of 1..65535, or 0.
std::int32_t ProxyPortOf(const TProxyInfo& p) {
  try {
    const std::int32_t port = StrToInt(p.Port.View());
    return port >= 1 && port <= 65535 ? port : 0;
  } catch (const EConvertError&) {
    return 0;
  }
}

}  // namespace

TSkimblerThread::TSkimblerThread(TEngineContext& context, std::shared_ptr<TJob> job,
                                 std::shared_ptr<TSkimbler> s, TJobThread& owner)
    : context_(context),
      job_(std::move(job)),
      skimbler_(std::move(s)),
      owner_(owner),
      id_(NewHandleId()) {}

TSkimblerThread::~TSkimblerThread() { Join(); }

void TSkimblerThread::Start() {
  std::promise<void> started;
  auto ready = started.get_future();
  thread_ = std::thread([this, &started] {
    {
      std::lock_guard g(wakeLock_);
      waker_ = TEventLoop::ForThisThread().Waker();
    }
    started.set_value();
    Run();
  });
  ready.wait();
}

void TSkimblerThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TSkimblerThread::RequestStop() {
  stopRequest_.store(true, std::memory_order_release);
  std::lock_guard g(wakeLock_);
  waker_.Wake();
}

bool TSkimblerThread::JobFocused() const {
  return context_.JobList.FocusedJob == job_->Handle();
}

TCellValue TSkimblerThread::PositionValue() const {
  return context_.JobList.FocusedSkimbler == skimbler_->Handle() ? TCellValue::FocusedConnection
                                                                   : TCellValue::OtherConnection;
}

void TSkimblerThread::AbortClient() {
  if (client_) client_->Abort();
}

void TSkimblerThread::Run() {
  TEventLoop& loop = TEventLoop::ForThisThread();
  try {
    Execute(loop);
  } catch (...) {
    // Nothing may leave the thread; the record is still handed back below.
  }
  client_.reset();
  http_ = nullptr;
  ftp_ = nullptr;
  Finish();
}

void TSkimblerThread::Execute(TEventLoop& loop) {
  {
    auto lg = context_.JobList.Guard();
    auto jg = job_->Guard();
    skimbler_->Log.clear();
    if (context_.JobList.FocusedSkimbler == skimbler_->Handle())
      context_.View.ShowSkimblerLog(skimbler_->Handle(), {});
  }
  bool terminated = false;
  while (!terminated) {
    StartAction();
    if (PickWork()) {
      // EndAttempt stores what is still buffered and gives the block back, however the
      // attempt ends.
      try {
        if (ConfigureClient()) RunAttempt();
      } catch (...) {
        EndAttempt();
        throw;
      }
      EndAttempt();
      if (StopRequested()) terminated = true;
    } else {
      AddLog(kTextNoTask, TLogType::ltState);
      terminated = true;
    }
    AddLog(Numbered("-----行动 %lld 结束-----", ActionCount), TLogType::ltState);
    if (!terminated && ShouldStop()) terminated = true;
    if (!terminated) terminated = RetryWait(loop);
  }
}

void TSkimblerThread::StartAction() {
  ++ActionCount;
  settings_ = context_.Settings.Get();
  if (ActionCount % 5 == 0) {
    // A connection's log holds at most five actions.
    auto lg = context_.JobList.Guard();
    auto jg = job_->Guard();
    skimbler_->Log.clear();
    if (context_.JobList.FocusedSkimbler == skimbler_->Handle())
      context_.View.ShowSkimblerLog(skimbler_->Handle(), {});
  }
  AddLog(Numbered("-----行动 %lld-----", ActionCount), TLogType::ltState);
}

bool TSkimblerThread::PickWork() {
  auto lg = context_.JobList.Guard();
  auto jg = job_->Guard();
  TJob& job = *job_;
  TSkimbler& s = *skimbler_;
  if (job.FileSize > 0 && job.Blocks.empty()) {
    // Every byte is stored. Without this test a connection that starts late on a job whose
    // mirrors do not resume would throw the finished file away and fetch it again.
    s.URLIndex = -1;
    UpdateSkimblerNode(context_.View, job, s);
    return false;
  }
  const TAttempt a = job.BeginAttempt(s);
  if (a.GoesAhead() && JobFocused()) {
    if (a.Kind == TAttemptKind::Restart) {
      // Every byte is fetched again: the map starts empty.
      context_.View.LoadBlockMap(job.Handle(), job.BlockMap);
      context_.View.ShowJobInfo(JobInfoOf(job));
    }
    if (s.Block) context_.View.SetBlockCell(ChunkOf(s.Block->StartPos), PositionValue());
  }
  UpdateSkimblerNode(context_.View, job, s);
  return a.GoesAhead();
}

template <class TClient>
void TSkimblerThread::AttachHandlers(TClient& c) {
  c.OnHostResolving = [this](TWynSock&) { SetState(TSkimblerState::ssResolving); };
  c.OnConnecting = [this](TWynSock&) { SetState(TSkimblerState::ssConnecting); };
  c.OnRequest = [this](TWynSock&) { SetState(TSkimblerState::ssRequesting); };
  c.OnResponse = [this](TWynSock&) { SetState(TSkimblerState::ssResponding); };
  c.OnReceive = [this](TWynSock&) {
    SetState(TSkimblerState::ssReceiving);
    AddLog(kTextReceiving, TLogType::ltState);
  };
  c.OnIdle = [this](TWynSock&) { DoIdle(); };
  c.OnLogMessage = [this](TWynSock&, const std::string& text, TLogType type) {
    AddLog(text, type);
  };
  c.OnPacketRecvd = [this](TWynSock& sender, std::int32_t n) { DoPacket(sender, n); };
  c.OnGetResumeState = [this](TWynSock&) { DoResumeState(); };
  c.OnGetFileSize = [this](TWynSock&) { DoFileSize(); };
  c.OnGetFileDate = [this](TWynSock&) { DoFileDate(); };
  c.OnError = [this](TWynSock&) { DoError(); };
  // A stop request wakes the wait, so the client's waits need no periodic turns.
  c.IdleTurn = TEventLoop::kNoTimeout;
}

bool TSkimblerThread::ConfigureClient() {
  TURLInfo u;
  bool http = false;
  std::int32_t index = -1;
  {
    auto jg = job_->Guard();
    index = skimbler_->URLIndex;
    if (index < 0 || static_cast<std::size_t>(index) >= job_->URLs.size()) return false;
    u = job_->URLs[static_cast<std::size_t>(index)];
    http = job_->UsesHttp(index);
  }
  const TProxyInfo& p = u.Proxy;
  const bool viaProxy =
      http ? p.ProxyType == TProxyType::Http
           : static_cast<int>(p.ProxyType) > static_cast<int>(TProxyType::Http);
  std::int32_t proxyPort = 0;
  if (viaProxy) {
    proxyPort = ProxyPortOf(p);
    if (proxyPort == 0) {
      // A proxy record whose port is no port cannot serve this URL at all.
      {
        auto jg = job_->Guard();
        job_->MarkURLFailed(index);
        RefreshJobNode(context_.View, *job_);
      }
      AddLog(kTextBadProxyPort, TLogType::ltError);
      return false;
    }
  }
  try {
    if (http) {
      auto h = std::make_unique<TWynHttp>();
      AttachHandlers(*h);
      h->OnRedirect = [this](TWynSock&) { DoRedirect(); };
      if (u.Auth) {
        h->User = u.User;
        h->Password = u.Password;
      }
      if (viaProxy) {
        h->Proxy = p.Address.Str();
        h->ProxyPort = proxyPort;
        h->NoCache = p.NoCache != 0;
        if (p.Authenticate) {
          h->ProxyUser = p.ProxyUser.Str();
          h->ProxyPassword = p.ProxyPassword.Str();
        }
      }
      h->Referer = u.Referer;
      h->UserAgent = u.UserAgent;
      http_ = h.get();
      client_ = std::move(h);
    } else {
      auto f = std::make_unique<TWynFtp>();
      AttachHandlers(*f);
      if (viaProxy) {
        f->Proxy = p.Address.Str();
        f->ProxyPort = proxyPort;
        if (p.Authenticate) {
          f->ProxyUser = p.ProxyUser.Str();
          f->ProxyPassword = p.ProxyPassword.Str();
        }
      }
      f->Passive = p.PASV != 0;
      f->User = u.User;
      f->Password = u.Password;
      ftp_ = f.get();
      client_ = std::move(f);
    }
  } catch (const std::exception&) {
    // No socket could be made.
    AddLog(kTextSocketError, TLogType::ltError);
    return false;
  }
  client_->ConnectTimeOut = Milliseconds(u.ConnectTimeout);
  client_->DataTimeOut = Milliseconds(u.DataTimeout);
  return true;
}

void TSkimblerThread::RunAttempt() {
  ActionBytes = 0;
  ActionStart = std::chrono::steady_clock::now();
  abortLogged_ = false;
  std::string url;
  std::int32_t start = 0;
  {
    auto jg = job_->Guard();
    const auto i = static_cast<std::size_t>(skimbler_->URLIndex);
    if (i >= job_->URLs.size()) return;
    url = job_->URLs[i].URL;
    start = skimbler_->Block ? skimbler_->Block->StartPos : 0;
    pending_.Reset(start);
    blockLeft_ = skimbler_->Block ? skimbler_->Block->Length() : 0;
  }
  try {
    if (http_)
      http_->Get(url, start);
    else if (ftp_)
      ftp_->Get(url, start);
  } catch (const EConvertError&) {
    // A port that is no number: the clients raise it without a log line, and an action that
    // fails silently would be retried for ever.
    AddLog(kTextBadPort, TLogType::ltError);
  } catch (...) {
    // The clients and the handlers have logged what there is to log.
  }
  // Bytes that arrived before the end, the abort or the failure are valid data.
  StoreAll();
  auto jg = job_->Guard();
  const auto i = static_cast<std::size_t>(skimbler_->URLIndex);
  if (i < job_->URLs.size() && job_->URLs[i].URL == url) UpdateSpeed();
}

void TSkimblerThread::EndAttempt() {
  // Buffered bytes are stored before the block is given back: a range the job lists as
  // stored is in the partial file.
  StoreAll();
  {
    auto lg = context_.JobList.Guard();
    auto jg = job_->Guard();
    const auto released = job_->EndAttempt(*skimbler_);
    if (released && JobFocused())
      context_.View.SetBlockCell(ChunkOf(*released), TCellValue::Missing);
    UpdateSkimblerNode(context_.View, *job_, *skimbler_);
  }
  client_.reset();
  http_ = nullptr;
  ftp_ = nullptr;
}

bool TSkimblerThread::ShouldStop() {
  {
    auto jg = job_->Guard();
    if (job_->ChooseURL() == -1) return true;
    // A block made here stays free in Blocks for the next action.
    if (job_->FileSize >= 1 && !job_->NextBlock()) return true;
    if (job_->AlwaysRetry) return false;
    if (job_->Errors < job_->MaxErrors) return false;
  }
  AddLog(kTextMaxErrors, TLogType::ltState);
  return true;
}

bool TSkimblerThread::RetryWait(TEventLoop& loop) {
  std::int32_t delay = 0;
  {
    auto jg = job_->Guard();
    delay = job_->RetryDelay;
  }
  AddLog(Numbered("请等待 %lld 秒...", delay), TLogType::ltState);
  if (delay <= 0) return false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(delay);
  // A stop request wakes the loop, so it is seen at once.
  for (;;) {
    if (StopRequested()) {
      AddLog(kTextAborted, TLogType::ltState);
      return true;
    }
    const auto now = Clock::now();
    if (now >= deadline) return false;
    loop.RunOnce(deadline - now);
  }
}

void TSkimblerThread::Finish() {
  {
    auto lg = context_.JobList.Guard();
    {
      auto jg = job_->Guard();
      skimbler_->State = TSkimblerState::ssStopped;
      skimbler_->URLIndex = -1;
      UpdateSkimblerNode(context_.View, *job_, *skimbler_);
      skimbler_->Thread.reset();
    }
    context_.JobList.UpdateActionFlags();
  }
  // The last act: the job thread joins this thread once it has the report.
  TThreadQueue::Post(owner_.Id(), TM_JOB_COMMAND, StopRequested() ? 1 : 0,
                     static_cast<std::intptr_t>(TJobCode::jcSkimblerEnded), MakePayload(id_));
}

void TSkimblerThread::AddLog(std::string_view text, TLogType level) {
  auto lg = context_.JobList.Guard();
  auto jg = job_->Guard();
  const TLogLine& line = skimbler_->AddLog(text, level, context_.Clock.Now());
  LogLine = line.Text;
  LogLevel = level;
  if (context_.JobList.FocusedSkimbler == skimbler_->Handle())
    context_.View.AppendLogLine(skimbler_->Handle(), line);
  if (level == TLogType::ltError) {
    // Every error line of every connection counts toward the job's error limit.
    ++job_->Errors;
    if (JobFocused()) context_.View.ShowJobInfo(JobInfoOf(*job_));
  }
}

void TSkimblerThread::SetState(TSkimblerState state) {
  auto jg = job_->Guard();
  skimbler_->State = state;
  UpdateSkimblerNode(context_.View, *job_, *skimbler_);
}

void TSkimblerThread::DoIdle() {
  if (!StopRequested()) return;
  AbortClient();
  if (!abortLogged_) {
    abortLogged_ = true;
    AddLog(kTextAborted, TLogType::ltState);
  }
}

void TSkimblerThread::DoPacket(TWynSock& sender, std::int32_t byteCount) {
  if (byteCount <= 0) return;
  // The packet waits with the ones before it; they are stored together in one write.
  pending_.Append(sender.Buffer, static_cast<std::size_t>(byteCount));
  if (const std::size_t due = pending_.Due(blockLeft_)) StoreBuffered(due);
}

void TSkimblerThread::StoreAll() {
  if (!pending_.Empty()) StoreBuffered(pending_.Size());
}

void TSkimblerThread::StoreBuffered(std::size_t n) {
  bool abort = false;
  bool writeFailed = false;
  std::int32_t stored = 0;
  {
    auto lg = context_.JobList.Guard();
    auto jg = job_->Guard();
    TJob& job = *job_;
    const TCommitResult r =
        job.CommitData(*skimbler_, pending_.Data(), static_cast<std::int32_t>(n), nullptr);
    switch (r.Outcome) {
      case TCommitResult::TOutcome::NoBlock:
        abort = true;  // bytes nobody asked for: end the transfer
        pending_.Clear();
        blockLeft_ = 0;
        break;
      case TCommitResult::TOutcome::WriteFailed:
        writeFailed = true;
        pending_.Clear();
        break;
      case TCommitResult::TOutcome::Stored:
      case TCommitResult::TOutcome::BlockDone: {
        stored = r.Bytes;
        if (r.Outcome == TCommitResult::TOutcome::BlockDone) {
          // A finished block ends the transfer: the server would go on past its end. What
          // lay beyond the block's end belongs to another connection's range.
          abort = true;
          pending_.Clear();
          blockLeft_ = 0;
        } else {
          pending_.Consume(n);
          blockLeft_ = skimbler_->Block ? skimbler_->Block->Length() : 0;
        }
        const bool focused = JobFocused();
        if (focused && r.MarkTo > r.MarkFrom)
          context_.View.SetBlockCells(r.MarkFrom, r.MarkTo, TCellValue::Stored);
        UnsavedBytes += stored;
        const std::int64_t every = static_cast<std::int64_t>(std::max(settings_->EveryBytes, 0)) * 1024;
        if (UnsavedBytes >= every) {
          // One write may hold several periods' worth; one save covers them all.
          UnsavedBytes = every > 0 ? UnsavedBytes % every : 0;
          if (settings_->AutoSave && owner_.TakeAutoSaveTurn(std::chrono::steady_clock::now()))
            job.SaveInfoFile();
        }
        if (focused) {
          context_.View.ShowJobInfo(JobInfoOf(job));
          if (skimbler_->Block)
            context_.View.SetBlockCell(ChunkOf(skimbler_->Block->StartPos), PositionValue());
        }
        ActionBytes += stored;
        UpdateSpeed();
        break;
      }
    }
  }
  if (abort || writeFailed) AbortClient();
  if (writeFailed) {
    AddLog(kTextWriteError, TLogType::ltError);
    return;
  }
  if (stored > 0) context_.JobList.Counter.Add(stored);
}

void TSkimblerThread::UpdateSpeed() {
  // The action's duration read as a time of day: whole seconds within a day, 0 counted as 1.
  const auto elapsed = std::chrono::steady_clock::now() - ActionStart;
  std::int64_t seconds =
      std::chrono::duration_cast<std::chrono::seconds>(elapsed).count() % 86400;
  if (seconds < 0) return;
  if (seconds == 0) seconds = 1;
  const std::int64_t s = ActionBytes / seconds;
  const auto i = static_cast<std::size_t>(skimbler_->URLIndex);
  if (i >= job_->URLs.size()) return;
  TURLInfo& u = job_->URLs[i];
  const std::int64_t next = u.Speed == -1 ? s : static_cast<std::int64_t>(u.Speed) * 3 / 4 + s / 4;
  u.Speed = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(next, 0, std::numeric_limits<std::int32_t>::max()));
}

void TSkimblerThread::DoResumeState() {
  const bool r = http_ ? http_->Resume() : ftp_ ? ftp_->Resume() : false;
  bool report = false;
  {
    auto jg = job_->Guard();
    const auto i = static_cast<std::size_t>(skimbler_->URLIndex);
    if (i >= job_->URLs.size()) return;
    TURLInfo& u = job_->URLs[i];
    switch (u.ResumeState) {
      case TResumeState::rsUnknown:
        u.ResumeState = r ? TResumeState::rsResumable : TResumeState::rsNoResume;
        report = !r && skimbler_->Block && skimbler_->Block->StartPos > 0;
        break;
      case TResumeState::rsNoResume:
        if (r) u.ResumeState = TResumeState::rsResumable;
        break;
      case TResumeState::rsResumable:
        if (!r) {
          u.ResumeState = TResumeState::rsNoResume;
          report = true;
        }
        break;
    }
    if (report) AbortClient();
    job_->UpdateResumeState();
    RefreshJobNode(context_.View, *job_);
  }
  // A mirror that does not resume can only serve an action that starts at byte 0.
  if (report) AddLog(kTextNoRange, TLogType::ltError);
}

void TSkimblerThread::DoFileSize() {
  const std::int32_t size = http_ ? http_->Size() : ftp_ ? ftp_->Size() : 0;
  const char* failure = nullptr;
  if (size == 0) {
    AbortClient();
    auto jg = job_->Guard();
    job_->MarkURLFailed(skimbler_->URLIndex);
    RefreshJobNode(context_.View, *job_);
    failure = kTextSizeUnknown;
  } else {
    auto lg = context_.JobList.Guard();
    auto jg = job_->Guard();
    TJob& job = *job_;
    if (job.FileSize != 0 && size == job.FileSize) {
      if (job.Probing) {
        TThreadQueue::Post(owner_.Id(), TM_JOB_COMMAND, 0,
                           static_cast<std::intptr_t>(TJobCode::jcStartOthers));
        job.Probing = false;
      }
    } else if (job.FileSize != 0) {
      AbortClient();
      job.MarkURLFailed(skimbler_->URLIndex);
      RefreshJobNode(context_.View, job);
      failure = kTextSizeInvalid;
    } else {
      job.FileSize = size;
      if (job.OpenPartFile()) {
        const bool focused = JobFocused();
        if (focused) context_.View.ShowJobInfo(JobInfoOf(job));
        // The first block covers the whole file and is this connection's.
        skimbler_->Block = job.ResetBlocks();
        pending_.Reset(0);
        blockLeft_ = skimbler_->Block->Length();
        job.DoneBytes = 0;
        job.Percent = 0;
        if (focused) {
          context_.View.LoadBlockMap(job.Handle(), job.BlockMap);
          context_.View.SetBlockCell(0, PositionValue());
        }
        if (job.Probing) {
          TThreadQueue::Post(owner_.Id(), TM_JOB_COMMAND, 0,
                             static_cast<std::intptr_t>(TJobCode::jcStartOthers));
          PostSaveList(owner_.MonitorId());
          job.Probing = false;
        }
      } else {
        job.FileSize = 0;
        AbortClient();
        failure = kTextCreateFileError;
      }
    }
  }
  if (failure) AddLog(failure, TLogType::ltError);
}

void TSkimblerThread::DoFileDate() {
  const TDateTime date = http_ ? http_->FileDate() : ftp_ ? ftp_->FileDate() : kNoDate;
  auto lg = context_.JobList.Guard();
  auto jg = job_->Guard();
  if (job_->FileDate < 0) {
    job_->FileDate = date;
    if (JobFocused()) context_.View.ShowJobInfo(JobInfoOf(*job_));
  }
}

void TSkimblerThread::DoError() {
  auto jg = job_->Guard();
  job_->MarkURLFailed(skimbler_->URLIndex);
  RefreshJobNode(context_.View, *job_);
}

void TSkimblerThread::DoRedirect() {
  if (!http_) return;
  const std::string location = http_->Location();
  const std::string name = FileNameFromURL(location);
  {
    auto jg = job_->Guard();
    TJob& job = *job_;
    const std::int32_t index = skimbler_->URLIndex;
    if (index < 0 || static_cast<std::size_t>(index) >= job.URLs.size()) return;
    if (name.empty()) {
      job.MarkURLFailed(index);
      RefreshJobNode(context_.View, job);
    } else {
      TURLInfo& u = job.URLs[static_cast<std::size_t>(index)];
      u.URL = location;
      if (index == 0) {
        // The target follows the first URL's new name.
        std::string path = FolderOf(job.FileName) + name;
        if (path != job.FileName && (PathExists(path) || PathExists(path + ".wyn")))
          path = UniqueFileName(path);
        bool follow = true;
        if (path != job.FileName && job.PartFile.IsOpen()) {
          // The open partial file (and its information file) take the new name too; the
          // descriptor stays valid. When that fails the job keeps its old name.
          follow = std::rename(job.PartFileName().c_str(), (path + ".wyn").c_str()) == 0;
          if (follow && PathExists(job.InfoFileName()))
            std::rename(job.InfoFileName().c_str(), (path + ".ji").c_str());
        }
        if (follow) {
          job.FileName = path;
          job.Name = FileNameOf(path);
        }
      }
      u.ResumeState = TResumeState::rsUnknown;
      u.Speed = -1;
      u.Failed = false;
      u.Uses = 0;
      job.UpdateResumeState();
      RefreshJobNode(context_.View, job);
    }
  }
  if (name.empty()) {
    AddLog(kTextBadRedirect, TLogType::ltError);
    return;
  }
  PostSaveList(owner_.MonitorId());
}

}  // namespace nsk
