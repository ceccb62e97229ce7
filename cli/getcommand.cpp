// SPDX-License-Identifier: GPL-2.0-or-later
// `netskimbler-cli get`: one new job built as the program builds a job for a URL that comes
// without a dialog, added to the current job list and downloaded now by the engine.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/frontend.h"
#include "cli/listlock.h"
#include "engine/monitorcommands.h"
#include "engine/textutil.h"
#include "engine/urlintake.h"
#include "platform/fileops.h"
#include "platform/paths.h"
#include "platform/utf8.h"
#include "settings/registryinfo.h"

namespace nsk::cli {
namespace {

const char kUsage[] =
    "usage: netskimbler-cli get [-n CONNECTIONS] [-d DIR] [-o NAME] [-p PRIORITY]\n"
    "                           [--on-exists rename|overwrite|cancel] URL [MIRROR ...]\n";

const char kHelp[] =
    "\n"
    "Adds a job for URL to the current job list and downloads it now, whatever the setting\n"
    "for new jobs (download at once or not) says; other jobs of the list are not started.\n"
    "MIRROR URLs are further sources of the same file. The job is built from the settings'\n"
    "defaults (category folder, connections, login, proxy, time-outs, retries).\n"
    "\n"
    "  -n CONNECTIONS  connections for the file, 1 to 20 (default: the settings')\n"
    "  -d DIR          save into DIR (default: the current category's folder)\n"
    "  -o NAME         save as NAME (default: the file name of URL)\n"
    "  -p PRIORITY     the job's priority, 1 to 5 (default 3)\n"
    "  --on-exists A   when the target or its partial file exists already: rename (save as\n"
    "                  NAME(1).EXT, the default), overwrite, or cancel (the job stays stopped)\n"
    "\n"
    "A progress line per running job once a second. Ctrl-C stops the job and exits once it\n"
    "has ended; it stays in the list and \"netskimbler-cli run\" resumes it. A second Ctrl-C\n"
    "quits at once. Exit status: 0 when the file was downloaded, 1 when the job did not\n"
    "finish or was refused (the list has a job of this URL already), 2 for bad arguments,\n"
    "128 + the signal number when stopped by a signal.\n";

struct TGetOptions {
  std::optional<std::int32_t> Connections;
  std::optional<std::string> Dir;
  std::optional<std::string> Name;
  std::uint8_t Priority = 3;
  TRenameAnswer OnExists = TRenameAnswer::Rename;
  std::vector<std::string> URLs;  // the first one, then the mirrors
  bool Help = false;
};

bool ParseSmallNumber(const std::string& text, int& out) {
  if (text.empty() || text.size() > 3) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

// Why the text is no URL that a job can be made of; empty when it is one.
std::string URLProblem(const std::string& url) {
  if (!FileNameFromURL(url).empty()) return {};
  const std::string upper = UpperAscii(url.substr(0, 7));
  if (upper.rfind("HTTP://", 0) != 0 && upper.rfind("FTP://", 0) != 0)
    return "\"" + url + "\" is not an http:// or ftp:// URL";
  return "\"" + url + "\" names no file (nothing follows its last \"/\")";
}

std::optional<TRenameAnswer> ParseAnswer(const std::string& text) {
  if (text == "rename") return TRenameAnswer::Rename;
  if (text == "overwrite") return TRenameAnswer::Overwrite;
  if (text == "cancel") return TRenameAnswer::Cancel;
  return std::nullopt;
}

// Fills o from the arguments; on a mistake returns what is wrong.
std::string ParseArgs(const TArgs& args, TGetOptions& o) {
  bool optionsEnd = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnd || a.empty() || a[0] != '-' || a == "-") {
      o.URLs.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnd = true;
      continue;
    }
    if (a == "-h" || a == "--help") {
      o.Help = true;
      continue;
    }
    // The option's name and its value: "-n 8", "-n8", "--on-exists=cancel", "--on-exists X".
    std::string name = a, value;
    bool attached = false;
    if (a.rfind("--", 0) == 0) {
      if (const auto eq = a.find('='); eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        attached = true;
      }
    } else if (a.size() > 2) {
      name = a.substr(0, 2);
      value = a.substr(2);
      attached = true;
    }
    static const char* const kKnown[] = {"-n", "--connections", "-d", "--dir",
                                         "-o", "--output", "-p", "--priority", "--on-exists"};
    bool known = false;
    for (const char* k : kKnown) known = known || name == k;
    if (!known) return "unknown option \"" + a + "\"";
    if (!attached) {
      if (i + 1 >= args.size()) return "option " + name + " needs a value";
      value = args[++i];
    }
    if (name == "-n" || name == "--connections") {
      int n = 0;
      if (!ParseSmallNumber(value, n) || n < 1 || n > 20)
        return "the number of connections must be 1 to 20, not \"" + value + "\"";
      o.Connections = n;
    } else if (name == "-d" || name == "--dir") {
      if (value.empty()) return "the folder given with " + name + " is empty";
      o.Dir = value;
    } else if (name == "-o" || name == "--output") {
      if (value.empty() || value == "." || value == ".." || value.find('/') != std::string::npos)
        return "the name given with " + name + " must be a file name without \"/\", not \"" +
               value + "\"";
      o.Name = value;
    } else if (name == "-p" || name == "--priority") {
      int p = 0;
      if (!ParseSmallNumber(value, p) || p > 5)
        return "the priority must be 1 to 5, not \"" + value + "\"";
      if (p == 0)
        return "a job of priority 0 is never started by the queue: give a priority of 1 to 5";
      o.Priority = static_cast<std::uint8_t>(p);
    } else {
      const auto answer = ParseAnswer(value);
      if (!answer) return "--on-exists takes rename, overwrite or cancel, not \"" + value + "\"";
      o.OnExists = *answer;
    }
  }
  if (o.Help) return {};
  if (o.URLs.empty()) return "no URL given";
  for (const auto& url : o.URLs)
    if (auto problem = URLProblem(url); !problem.empty()) return problem;
  return {};
}

int Refuse(const std::string& problem) {
  std::fprintf(stderr, "netskimbler-cli get: %s\n%s(netskimbler-cli get --help tells more)\n",
               problem.c_str(), kUsage);
  return 2;
}

}  // namespace

int RunGet(const TArgs& args) {
  TGetOptions o;
  if (const std::string problem = ParseArgs(args, o); !problem.empty()) return Refuse(problem);
  if (o.Help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return 0;
  }
  std::string dir;
  if (o.Dir) {
    dir = WithSlash(AbsolutePath(*o.Dir));
    if (!IsDirectory(dir)) return Refuse("the folder \"" + *o.Dir + "\" does not exist");
  }

  TRegistryInfo settings;
  settings.LoadOptions();
  const std::string listFile = settings.CurListFile;

  // Built as the URL intake builds a job; the URL joins the URL history.
  auto job = BuildURLJob(settings, o.URLs[0], "", "");
  if (!job) return Refuse(URLProblem(o.URLs[0]));
  for (std::size_t i = 1; i < o.URLs.size(); ++i)
    job->URLs.push_back(DefaultURLInfo(settings, o.URLs[i], ""));
  if (o.Name) job->Name = *o.Name;
  if (!o.Dir) dir = FolderOf(job->FileName);
  job->FileName = dir + job->Name;
  if (o.Connections) {
    job->AutoSkimblers = false;
    job->SkimblerCount = *o.Connections;
  }
  job->Priority = o.Priority;
  job->State = TJobState::jsQueued;
  if (!IsDirectory(dir)) {
    // The default download folder of a new account may not exist yet.
    if (!MakeFolders(dir.substr(0, dir.size() - 1))) {
      std::fprintf(stderr, "netskimbler-cli get: cannot make the folder \"%s\"\n", dir.c_str());
      return 1;
    }
    std::fprintf(stderr, "netskimbler-cli get: made the folder \"%s\"\n", dir.c_str());
  }

  TListLock lock(listFile);
  if (!lock.Held()) {
    std::fprintf(stderr, "netskimbler-cli get: %s\n", lock.Problem().c_str());
    return 1;
  }

  // This command downloads one job: neither the start-up nor the scheduled start of all jobs
  // applies to it.
  TRegistryInfo engineSettings = EngineSettings(settings);
  engineSettings.StartRunning = false;
  engineSettings.StartSchedule = false;
  TFrontEnd front(std::move(engineSettings), o.OnExists);
  if (!LoadJobList(front.JobList(), listFile, "get")) return 1;

  std::int32_t connections = 0;
  std::string target;
  {
    auto jg = job->Guard();
    connections = job->SkimblerCount;
    target = job->FileName;
  }
  front.Console().Say("get " + o.URLs[0] + " -> " + target + " (" +
                      (o.Connections || !job->AutoSkimblers
                           ? std::to_string(connections) + " connections"
                           : std::string("connections from the size")) +
                      (o.URLs.size() > 1 ? ", " + std::to_string(o.URLs.size()) + " URLs" : "") +
                      ")");
  front.Start();
  if (!front.StopSignal()) {
    PostAddJob(front.Monitor(), job);
    front.CommandsPosted();
  }
  front.Run();
  front.Stop();
  // As the program does at its end: the URL history and every other setting are saved.
  settings.SaveOptions();

  if (front.Refused(job->Handle())) {
    std::fprintf(stderr,
                 "netskimbler-cli get: the job list \"%s\" has a job of this URL already; "
                 "\"netskimbler-cli list\" shows it, \"netskimbler-cli run\" resumes the "
                 "unfinished jobs of the list\n",
                 listFile.c_str());
    return 1;
  }
  TJobProgress end;
  {
    auto lg = front.JobList().Guard();
    auto jg = job->Guard();
    end = ProgressOf(*job);
  }
  front.Console().Say(EndStateLine(end));
  if (end.State == TJobState::jsFinished) return 0;
  if (end.State == TJobState::jsStopped && end.FileSize > 0)
    std::fprintf(stderr, "netskimbler-cli get: \"netskimbler-cli run\" resumes the job\n");
  return front.StopSignal() ? 128 + front.StopSignal() : 1;
}

}  // namespace nsk::cli
