// SPDX-License-Identifier: GPL-2.0-or-later
// `netskimbler-cli list`: loads a job list the way the program does at start-up and shows
// every job with its missing ranges.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/json.h"
#include "engine/joblist.h"
#include "platform/datetime.h"
#include "platform/fileops.h"
#include "settings/registryinfo.h"

namespace nsk::cli {
namespace {

const char* StateName(TJobState s) {
  switch (s) {
    case TJobState::jsRunning: return "running";
    case TJobState::jsQueued: return "queued";
    case TJobState::jsStopped: return "stopped";
    case TJobState::jsError: return "error";
    case TJobState::jsFinished: return "finished";
  }
  return "unknown";
}

const char* ResumeName(TResumeState s) {
  switch (s) {
    case TResumeState::rsUnknown: return "unknown";
    case TResumeState::rsResumable: return "resumable";
    case TResumeState::rsNoResume: return "no-resume";
  }
  return "unknown";
}

std::int64_t MissingBytes(const TJob& job) {
  std::int64_t n = 0;
  for (const auto& b : job.Blocks) n += b->Length();
  return n;
}

// Unfinished jobs resume from their information file; without one they start over.
bool ResumesFromInfoFile(const TJob& job) {
  return job.State != TJobState::jsFinished && job.FileSize > 0;
}

void PrintText(const std::string& path, const TJobList& list) {
  std::printf("%s: %d job%s\n", path.c_str(), list.Count(), list.Count() == 1 ? "" : "s");
  int n = 0;
  for (const auto& job : list.Jobs()) {
    auto g = job->Guard();
    std::printf("\n%d. [%s] %s\n", ++n, StateName(job->State), job->Name.c_str());
    std::printf("   target:      %s\n", job->FileName.c_str());
    if (job->FileSize > 0)
      std::printf("   size:        %d bytes, %d done (%d%%)\n", job->FileSize, job->DoneBytes,
                  job->Percent);
    else
      std::printf("   size:        unknown\n");
    std::printf("   priority:    %d   connections: %d%s   resume: %s\n", job->Priority,
                job->SkimblerCount, job->AutoSkimblers ? " (from size)" : "",
                ResumeName(job->ResumeState));
    if (!job->Comment.empty()) std::printf("   comment:     %s\n", job->Comment.c_str());
    for (std::size_t i = 0; i < job->URLs.size(); ++i)
      std::printf("   URL[%zu]:      %s\n", i, job->URLs[i].URL.c_str());
    if (job->State == TJobState::jsFinished) continue;
    if (!ResumesFromInfoFile(*job)) {
      std::printf("   missing:     everything (no usable information file; starts over)\n");
      continue;
    }
    std::printf("   missing:     %zu range%s, %lld bytes\n", job->Blocks.size(),
                job->Blocks.size() == 1 ? "" : "s",
                static_cast<long long>(MissingBytes(*job)));
    for (const auto& b : job->Blocks)
      std::printf("                [%d, %d)  %d bytes\n", b->StartPos, b->EndPos, b->Length());
  }
}

void PrintJson(const std::string& path, const TJobList& list, bool complete) {
  TJsonWriter w;
  w.BeginObject().Key("file").String(path).Key("complete").Bool(complete).Key("jobs").BeginArray();
  for (const auto& job : list.Jobs()) {
    auto g = job->Guard();
    w.BeginObject();
    w.Key("state").String(StateName(job->State));
    w.Key("name").String(job->Name);
    w.Key("target").String(job->FileName);
    w.Key("category").String(job->Category);
    w.Key("comment").String(job->Comment);
    w.Key("size").Number(job->FileSize);
    w.Key("doneBytes").Number(job->DoneBytes);
    w.Key("percent").Number(job->Percent);
    w.Key("priority").Number(job->Priority);
    w.Key("connections").Number(job->SkimblerCount);
    w.Key("autoConnections").Bool(job->AutoSkimblers);
    w.Key("resume").String(ResumeName(job->ResumeState));
    w.Key("startCount").Number(job->StartCount);
    w.Key("fileDate");
    job->FileDate < 0 ? w.Null() : w.String(FormatDateTime(job->FileDate));
    w.Key("urls").BeginArray();
    for (const auto& u : job->URLs) w.String(u.URL);
    w.EndArray();
    w.Key("resumesFromInfoFile").Bool(ResumesFromInfoFile(*job));
    w.Key("missing").BeginArray();
    for (const auto& b : job->Blocks)
      w.BeginObject().Key("start").Number(b->StartPos).Key("end").Number(b->EndPos).EndObject();
    w.EndArray();
    w.Key("missingBytes").Number(MissingBytes(*job));
    w.EndObject();
  }
  w.EndArray().EndObject();
  std::fputs(w.Text().c_str(), stdout);
}

void Usage() {
  std::fputs("usage: netskimbler-cli list [--json] [FILE.mjl]\n", stderr);
}

}  // namespace

int RunList(const TArgs& args) {
  bool json = false;
  std::string path;
  for (const auto& a : args) {
    if (a == "--json") {
      json = true;
    } else if (a == "-h" || a == "--help") {
      Usage();
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "netskimbler-cli list: unknown option \"%s\"\n", a.c_str());
      Usage();
      return 2;
    } else if (path.empty()) {
      path = a;
    } else {
      std::fputs("netskimbler-cli list: only one job list file may be given\n", stderr);
      Usage();
      return 2;
    }
  }
  const bool explicitPath = !path.empty();
  if (!explicitPath) {
    TRegistryInfo settings;
    settings.LoadOptions();
    path = settings.CurListFile;
  }

  TJobList list;
  if (!PathExists(path)) {
    if (explicitPath) {
      std::fprintf(stderr, "netskimbler-cli list: \"%s\" does not exist\n", path.c_str());
      return 1;
    }
    // The current list of a first start: nothing has been saved yet.
    std::fprintf(stderr, "netskimbler-cli list: the current job list \"%s\" has no jobs yet\n",
                 path.c_str());
    json ? PrintJson(path, list, true) : PrintText(path, list);
    return 0;
  }
  if (IsDirectory(path)) {
    std::fprintf(stderr, "netskimbler-cli list: \"%s\" is a folder, not a job list\n",
                 path.c_str());
    return 1;
  }
  if (!ReadWholeFile(path)) {
    std::fprintf(stderr, "netskimbler-cli list: cannot read \"%s\"\n", path.c_str());
    return 1;
  }
  const TListLoadResult loaded = list.LoadFromFile(path);
  if (!loaded.Complete) {
    std::fprintf(stderr,
                 "netskimbler-cli list: \"%s\" is not a complete job list (damaged, of another "
                 "format, or its writing was interrupted); the program starts with an empty "
                 "list from it\n",
                 path.c_str());
    return 1;
  }
  const bool cutOff = loaded.JobsLoaded < loaded.JobsInFile;
  json ? PrintJson(path, list, !cutOff) : PrintText(path, list);
  if (cutOff) {
    std::fprintf(stderr,
                 "netskimbler-cli list: \"%s\" is damaged: it breaks off after %d of its %d "
                 "jobs\n",
                 path.c_str(), loaded.JobsLoaded, loaded.JobsInFile);
    return 1;
  }
  return 0;
}

}  // namespace nsk::cli
