// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/frontend.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <variant>
#include <vector>

#include "engine/monitorcommands.h"
#include "platform/fileops.h"
#include "platform/paths.h"

namespace nsk::cli {
namespace {

using namespace std::chrono_literals;

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// Blocked here, before the engine's threads exist, the stop signals reach only the
// descriptor that this thread's loop watches.
int BlockStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  // Without the descriptor the signals keep their default action: the process ends as a
  // kill would end it, which the job files survive.
  if (fd < 0) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  return fd;
}

const char* AnswerText(TRenameAnswer a) {
  switch (a) {
    case TRenameAnswer::Rename: return "rename automatically";
    case TRenameAnswer::Overwrite: return "overwrite";
    case TRenameAnswer::Cancel: return "cancel";
  }
  return "cancel";
}

}  // namespace

TFrontEnd::TFrontEnd(TRegistryInfo engineSettings, TRenameAnswer onExists)
    : signalFd_(BlockStopSignals()),
      loop_(TEventLoop::ForThisThread()),
      queue_(loop_),
      view_(queue_.Id()),
      post_(queue_.Id()),
      settings_(std::move(engineSettings)),
      engine_(TEngineContext{list_, view_, post_, settings_, clock_, launcher_, ProgramFolder()}),
      onExists_(onExists) {
  if (signalFd_ >= 0) {
    signalWatch_ = loop_.Watch(signalFd_, POLLIN, [this](short) {
      signalfd_siginfo info{};
      while (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        OnSignal(static_cast<int>(info.ssi_signo));
    });
  }
}

TFrontEnd::~TFrontEnd() {
  // Normally Stop() has ended the scheduler; on an early way out its end stops the jobs.
  engine_.StopMonitor();
  if (signalWatch_) loop_.Unwatch(signalWatch_);
  if (signalFd_ >= 0) ::close(signalFd_);
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void TFrontEnd::Start() {
  engine_.StartMonitor();
  // The scheduler's first pass applies the view filter.
  ++expected_;
  while (passes_ < expected_) Serve(1s);
}

void TFrontEnd::CommandsPosted() {
  // Commands are handled in order and only a filter pass clears the tree: once the pass
  // asked for now is through, everything posted before it was handled.
  ++expected_;
  PostSetFilter(Monitor(), list_.ViewFilter.load());
}

void TFrontEnd::Run() {
  auto nextDraw = std::chrono::steady_clock::now() + 1s;
  for (;;) {
    Drain();
    if (passes_ >= expected_ && list_.CountActive().Sum() == 0) break;
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextDraw) {
      DrawProgress();
      nextDraw += 1s;
      if (nextDraw <= now) nextDraw = now + 1s;
      continue;
    }
    loop_.RunOnce(nextDraw - now);
  }
  console_.ClearProgress();
}

void TFrontEnd::Stop() {
  if (!engine_.Running()) return;
  // What the scheduler posted to itself at the end of the last job (a deletion of a finished
  // job, the queue's last pass) is handled before it ends.
  CommandsPosted();
  while (passes_ < expected_) Serve(1s);
  engine_.StopMonitor();
  Drain();
}

void TFrontEnd::Serve(std::chrono::steady_clock::duration timeout) {
  loop_.RunOnce(timeout);
  Drain();
}

void TFrontEnd::Drain() {
  while (auto m = queue_.Peek()) {
    switch (static_cast<TFrontMessage>(m->Message)) {
      case TFrontMessage::Window:
        if (const auto* w = m->PayloadAs<TWindowMessage>()) OnWindowMessage(*w);
        break;
      case TFrontMessage::FileExists:
        if (const auto* q = m->PayloadAs<TFileExistsQuestion>()) {
          console_.Notice(MessageLine("file exists: \"" + q->FileName + "\"; answer: " +
                                      AnswerText(onExists_) + " (--on-exists)"));
          PostRenameReply(q->Asker, onExists_);
        }
        break;
      case TFrontMessage::FilterPass:
        ++passes_;
        break;
    }
  }
}

void TFrontEnd::OnWindowMessage(const TWindowMessage& m) {
  if (const auto* d = std::get_if<TDuplicateJobMessage>(&m)) refused_.insert(d->Job.Id());
  if (auto text = NoticeText(m)) {
    console_.Notice(MessageLine(*text));
  } else if (const auto* c = std::get_if<TConfirmDeleteMessage>(&m)) {
    // The command line deletes no job; should the engine ask all the same, nothing is
    // deleted.
    console_.Notice(MessageLine("URL:\"" + c->URL + "\" not deleted"));
  }
  // Counts (3031) and the all-done notice (3033) need no line: progress and the end state
  // are drawn from the job records. The completion actions of 3033 (hang up, shut down,
  // exit) belong to the window and are not taken here.
}

void TFrontEnd::OnSignal(int signal) {
  if (++signals_ > 1) {
    console_.Notice("netskimbler-cli: quitting at once; the jobs resume from their information "
                    "files with \"netskimbler-cli run\"");
    std::_Exit(128 + signal);
  }
  stopSignal_ = signal;
  console_.Notice("netskimbler-cli: stopping every job (Ctrl-C again quits at once)");
  if (engine_.Running()) {
    PostStopAll(Monitor(), false);
    CommandsPosted();
  }
}

void TFrontEnd::DrawProgress() {
  std::vector<std::string> lines;
  std::int32_t queued = 0;
  {
    // The records are read under the list lock, then each job's lock, as the engine's
    // threads take them.
    auto lg = list_.Guard();
    for (const auto& job : list_.Jobs()) {
      auto jg = job->Guard();
      if (job->State == TJobState::jsRunning)
        lines.push_back(ProgressLine(ProgressOf(*job)));
      else if (job->State == TJobState::jsQueued)
        ++queued;
    }
  }
  if (queued > 0) lines.push_back(std::to_string(queued) + " more waiting in the queue");
  if (!lines.empty()) console_.Progress(lines);
}

TRegistryInfo EngineSettings(const TRegistryInfo& user) {
  TRegistryInfo s = user;
  if (s.MaxJobs < 1) s.MaxJobs = 1;
  return s;
}

bool LoadJobList(TJobList& list, const std::string& path, const std::string& command) {
  if (!PathExists(path)) return true;
  const TListLoadResult loaded = list.LoadFromFile(path);
  if (!loaded.Complete) {
    std::fprintf(stderr,
                 "netskimbler-cli %s: \"%s\" is not a complete job list (damaged, of another "
                 "format, or not a file); nothing was changed. Move it away to start with an "
                 "empty list.\n",
                 command.c_str(), path.c_str());
    return false;
  }
  if (loaded.JobsLoaded < loaded.JobsInFile)
    std::fprintf(stderr,
                 "netskimbler-cli %s: \"%s\" breaks off after %d of its %d jobs; the rest are "
                 "lost\n",
                 command.c_str(), path.c_str(), loaded.JobsLoaded, loaded.JobsInFile);
  return true;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> buf(4096);
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) return path;
    buf.resize(buf.size() * 2);
  }
  std::string cwd(buf.data());
  if (path.empty() || path == ".") return cwd;
  return WithSlash(cwd) + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

}  // namespace nsk::cli
