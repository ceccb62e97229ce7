// SPDX-License-Identifier: GPL-2.0-or-later
// `netskimbler-cli run`: starts every job of a job list with the engine and runs until none
// runs or waits any more.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/frontend.h"
#include "cli/listlock.h"
#include "engine/monitorcommands.h"
#include "platform/fileops.h"
#include "settings/registryinfo.h"

namespace nsk::cli {
namespace {

const char kUsage[] =
    "usage: netskimbler-cli run [--on-exists rename|overwrite|cancel] [FILE.mjl]\n";

const char kHelp[] =
    "\n"
    "Starts every stopped or failed job of the job list FILE.mjl (default: the current job\n"
    "list of the settings) and runs until none runs or waits any more, at most as many at\n"
    "once as the settings allow, highest priority first. Unfinished jobs resume where they\n"
    "stopped. Jobs of priority 0 are not started. The engine saves the list to the file it\n"
    "was loaded from; the current job list of the settings stays what it was.\n"
    "\n"
    "  --on-exists A   when a job's target or partial file exists and the job has nothing\n"
    "                  stored yet: rename (the default), overwrite, or cancel\n"
    "\n"
    "A progress line per running job once a second. Ctrl-C stops every job and exits once\n"
    "they have ended; a second Ctrl-C quits at once. Exit status: 0 when every job started\n"
    "finished, 1 when one did not, 2 for bad arguments, 128 + the signal number when stopped\n"
    "by a signal.\n";

int Refuse(const std::string& problem) {
  std::fprintf(stderr, "netskimbler-cli run: %s\n%s(netskimbler-cli run --help tells more)\n",
               problem.c_str(), kUsage);
  return 2;
}

// What the start of all jobs starts: stopped and failed jobs of a priority above 0.
bool StartsWithAll(const TJob& job) {
  return (job.State == TJobState::jsStopped || job.State == TJobState::jsError) &&
         job.Priority > 0;
}

}  // namespace

int RunRun(const TArgs& args) {
  std::optional<std::string> file;
  TRenameAnswer onExists = TRenameAnswer::Rename;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (a == "--on-exists" || a.rfind("--on-exists=", 0) == 0) {
      std::string value;
      if (a.size() > 11) {
        value = a.substr(12);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return Refuse("option --on-exists needs a value");
      }
      if (value == "rename") onExists = TRenameAnswer::Rename;
      else if (value == "overwrite") onExists = TRenameAnswer::Overwrite;
      else if (value == "cancel") onExists = TRenameAnswer::Cancel;
      else return Refuse("--on-exists takes rename, overwrite or cancel, not \"" + value + "\"");
      continue;
    }
    if (!a.empty() && a[0] == '-') return Refuse("unknown option \"" + a + "\"");
    if (file) return Refuse("only one job list file may be given");
    file = a;
  }

  TRegistryInfo settings;
  settings.LoadOptions();
  const std::string listFile = file ? AbsolutePath(*file) : settings.CurListFile;
  if (file && !IsRegularFile(listFile)) {
    std::fprintf(stderr, "netskimbler-cli run: \"%s\" is no job list file\n", file->c_str());
    return 1;
  }

  TListLock lock(listFile);
  if (!lock.Held()) {
    std::fprintf(stderr, "netskimbler-cli run: %s\n", lock.Problem().c_str());
    return 1;
  }
  // The engine keeps the given file saved; the settings' current list is left as it was.
  TRegistryInfo engineSettings = EngineSettings(settings);
  engineSettings.CurListFile = listFile;
  TFrontEnd front(std::move(engineSettings), onExists);
  if (!LoadJobList(front.JobList(), listFile, "run")) return 1;

  std::vector<std::shared_ptr<TJob>> started;
  int finishedBefore = 0, priorityZero = 0;
  for (const auto& job : front.JobList().Jobs()) {
    auto jg = job->Guard();
    if (StartsWithAll(*job)) started.push_back(job);
    else if (job->State == TJobState::jsFinished) ++finishedBefore;
    else if (job->Priority == 0) ++priorityZero;
  }
  const std::int32_t count = front.JobList().Count();
  std::string summary = listFile + ": " + std::to_string(count) +
                        (count == 1 ? " job, " : " jobs, ") + std::to_string(started.size()) +
                        " to start";
  if (finishedBefore > 0) summary += ", " + std::to_string(finishedBefore) + " finished before";
  if (priorityZero > 0)
    summary += ", " + std::to_string(priorityZero) + " of priority 0 (not started)";
  front.Console().Say(summary);
  if (started.empty()) return 0;

  front.Start();
  if (!front.StopSignal()) {
    PostStartAll(front.Monitor());
    front.CommandsPosted();
  }
  front.Run();
  front.Stop();
  settings.SaveOptions();

  int finished = 0;
  for (const auto& job : started) {
    TJobProgress end;
    {
      auto lg = front.JobList().Guard();
      auto jg = job->Guard();
      end = ProgressOf(*job);
    }
    if (end.State == TJobState::jsFinished) ++finished;
    front.Console().Say(EndStateLine(end));
  }
  front.Console().Say(std::to_string(finished) + " of " + std::to_string(started.size()) +
                      " jobs finished");
  if (finished == static_cast<int>(started.size())) return 0;
  return front.StopSignal() ? 128 + front.StopSignal() : 1;
}

}  // namespace nsk::cli
