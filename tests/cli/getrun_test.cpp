// SPDX-License-Identifier: GPL-2.0-or-later
// netskimbler-cli get and run: real downloads by the built program from nginx on loopback,
// stopped by Ctrl-C and by kill -9 and resumed, with the file-exists answers, duplicates and
// bad arguments.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/joblist.h"
#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "settings/registryinfo.h"
#include "tests/cli/clichild.h"
#include "tests/support/net/nginx.h"
#include "tests/support/process.h"
#include "tests/support/tempdir.h"

extern char** environ;

namespace nsk::test {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMiB = 1024 * 1024;

// Bytes that differ from position to position, so that a byte at a wrong offset shows.
std::string PatternBytes(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (auto& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

// nginx that serves slowly (per connection) while DocRoot()/slow.flag exists, and logs the
// port, Range header, status and body bytes of every request to ranges.log.
TNginxOptions Throttled(const std::string& rate, bool mirror = false) {
  TNginxOptions o;
  o.ExtraHttp = "log_format ranges '$server_port $http_range $status $body_bytes_sent';";
  o.Site.Extra = "set $rate 0; if (-f $document_root/slow.flag) { set $rate " + rate +
                 "; } limit_rate $rate; access_log ranges.log ranges;";
  if (mirror) {
    o.Second = TNginxSite();
    o.Second->Extra = o.Site.Extra;
  }
  return o;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The ranges a job list shows as missing (list --json of a list of one job).
std::vector<std::pair<long, long>> MissingRanges(const std::string& json) {
  std::vector<std::pair<long, long>> out;
  static const std::regex re("\"start\": (\\d+),\\s*\"end\": (\\d+)");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), re); it != std::sregex_iterator();
       ++it)
    out.emplace_back(std::stol((*it)[1]), std::stol((*it)[2]));
  return out;
}

std::string JsonText(const std::string& json, const std::string& key) {
  const std::regex re("\"" + key + "\": \"([^\"]*)\"");
  std::smatch m;
  return std::regex_search(json, m, re) ? m[1].str() : std::string();
}

long JsonNumber(const std::string& json, const std::string& key) {
  const std::regex re("\"" + key + "\": (-?\\d+)");
  std::smatch m;
  return std::regex_search(json, m, re) ? std::stol(m[1]) : -1;
}

// The highest percent of the progress lines printed so far, -1 before the first.
int LastPercent(const std::string& out) {
  int best = -1;
  static const std::regex re(" (\\d+)%  ");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator();
       ++it)
    best = std::max(best, std::stoi((*it)[1]));
  return best;
}

class GetRunTest : public ::testing::Test {
 protected:
  GetRunTest() {
    // No pause between two actions of a connection: the tests stay quick.
    TRegistryInfo s;
    s.RetryDelay = 0;
    s.SaveOptions();
  }

  TProgramResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), NSK_CLI_PATH);
    return RunProgram(args, {"NETSKIMBLER_HOME=" + home.Path()});
  }
  std::unique_ptr<TCliChild> Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), NSK_CLI_PATH);
    const std::vector<std::string> env = {"NETSKIMBLER_HOME=" + home.Path()};
    return std::make_unique<TCliChild>(args, env, logs.Path());
  }
  std::string ListJson(const std::string& file = "") {
    std::vector<std::string> args = {"list", "--json"};
    if (!file.empty()) args.push_back(file);
    const auto r = Cli(args);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return r.Out;
  }
  static std::string Sha256Of(const std::string& path) {
    const auto r = RunProgram({"/usr/bin/sha256sum", path});
    return r.ExitCode == 0 ? r.Out.substr(0, 64) : "sha256sum failed: " + r.Err;
  }
  // Waits until the child shows a progress line of at least minPercent.
  static bool WaitForProgress(TCliChild& child, int minPercent) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (LastPercent(child.Out()) >= minPercent) return true;
      if (child.Wait(0ms)) return false;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  // The ranges.log lines written since the given count of lines.
  static std::vector<std::string> RangeLines(const TNginx& nginx, std::size_t from = 0) {
    auto lines = Lines(ReadWholeFile(nginx.File("ranges.log")).value_or(""));
    if (from >= lines.size()) return {};
    return {lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end()};
  }
  // The bytes the end-state line says this run fetched ("..., 1.5 MiB fetched in this run").
  static double FetchedMiB(const std::string& out) {
    static const std::regex re(", ([\\d.]+) (B|KiB|MiB) fetched in this run");
    std::smatch m;
    if (!std::regex_search(out, m, re)) return -1;
    const double v = std::stod(m[1]);
    return m[2] == "MiB" ? v : m[2] == "KiB" ? v / 1024 : v / kMiB;
  }

  THomeDir home;
  TTempDir downloads;
  TTempDir logs;
};

TEST_F(GetRunTest, GetDownloadsAFileFromTwoMirrors) {
  TNginx nginx(Throttled("384k", true));
  const std::string data = PatternBytes(3 * kMiB, 1);
  nginx.AddFile("data.bin", data);
  nginx.AddFile("slow.flag", "");
  const std::string url = nginx.Url("data.bin"), mirror = nginx.Url("data.bin", true);
  const auto r = Cli({"get", "-n", "4", "-d", downloads.Path(), url, mirror});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  const std::string target = downloads.File("data.bin");
  EXPECT_EQ(Sha256Of(target), Sha256Of(nginx.DocRoot() + "data.bin"));
  EXPECT_FALSE(PathExists(target + ".wyn"));
  EXPECT_FALSE(PathExists(target + ".ji"));

  // Plain progress lines (no terminal), then the end state.
  const auto lines = Lines(r.Out);
  ASSERT_GE(lines.size(), 3u) << r.Out;
  EXPECT_EQ(lines.front(), "get " + url + " -> " + target + " (4 connections, 2 URLs)");
  static const std::regex progress(
      "data\\.bin +\\d+%  [\\d.]+ (B|KiB|MiB) of 3\\.0 MiB  [\\d.]+ (B|KiB|MiB)/s \\(average "
      "[\\d.]+ (B|KiB|MiB)/s\\).*  \\d+ of 4 connections active");
  int progressLines = 0;
  for (const auto& l : lines) progressLines += std::regex_match(l, progress) ? 1 : 0;
  EXPECT_GE(progressLines, 1) << r.Out;
  EXPECT_EQ(r.Out.find('\x1b'), std::string::npos) << "terminal codes in plain output";
  EXPECT_EQ(lines.back().rfind("finished: " + target + " (3.0 MiB, ", 0), 0u) << lines.back();

  // Both mirrors served parts of the file.
  int fromFirst = 0, fromMirror = 0;
  for (const auto& l : RangeLines(nginx)) {
    fromFirst += l.rfind(std::to_string(nginx.Port()) + " ", 0) == 0 ? 1 : 0;
    fromMirror += l.rfind(std::to_string(nginx.SecondPort()) + " ", 0) == 0 ? 1 : 0;
  }
  EXPECT_GE(fromFirst, 1);
  EXPECT_GE(fromMirror, 1);

  const auto history = ReadWholeFile(home.File("history.htm"));
  ASSERT_TRUE(history);
  EXPECT_NE(history->find("<br><b>Save As:</b>" + target), std::string::npos);
  EXPECT_NE(history->find(">Finished</font>"), std::string::npos);

  const std::string json = ListJson();
  EXPECT_EQ(JsonText(json, "state"), "finished");
  EXPECT_EQ(JsonText(json, "target"), target);
  EXPECT_NE(json.find("\"" + url + "\",\n        \"" + mirror + "\""), std::string::npos) << json;
  EXPECT_EQ(JsonNumber(json, "connections"), 4);

  // The URL joined the URL history that the settings keep.
  TRegistryInfo saved;
  saved.LoadOptions();
  ASSERT_FALSE(saved.URLHistory.empty());
  EXPECT_EQ(saved.URLHistory.back(), url);
}

TEST_F(GetRunTest, AKilledGetResumesWithRun) {
  TNginx nginx(Throttled("256k"));
  const std::string data = PatternBytes(6 * kMiB, 2);
  nginx.AddFile("big.bin", data);
  nginx.AddFile("slow.flag", "");
  const std::string target = downloads.File("big.bin");
  {
    auto child = Spawn({"get", "-n", "4", "-d", downloads.Path(), nginx.Url("big.bin")});
    ASSERT_TRUE(WaitForProgress(*child, 10)) << child->Out() << child->Err();
    child->Signal(SIGKILL);
    ASSERT_EQ(child->Wait(10s), 128 + SIGKILL);
  }
  ASSERT_TRUE(PathExists(target + ".wyn"));
  ASSERT_TRUE(PathExists(target + ".ji"));
  const std::string json = ListJson();
  EXPECT_EQ(JsonText(json, "state"), "stopped");
  const auto missing = MissingRanges(json);
  ASSERT_FALSE(missing.empty()) << json;
  EXPECT_LT(JsonNumber(json, "missingBytes"), static_cast<long>(data.size()));

  RemoveFile(nginx.DocRoot() + "slow.flag");
  const std::size_t before = RangeLines(nginx).size();
  const auto r = Cli({"run"});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(Sha256Of(target), Sha256Of(nginx.DocRoot() + "big.bin"));
  EXPECT_FALSE(PathExists(target + ".wyn"));
  EXPECT_FALSE(PathExists(target + ".ji"));
  EXPECT_NE(r.Out.find("finished: " + target), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("1 of 1 jobs finished"), std::string::npos) << r.Out;

  // The second run asked only for missing bytes: every request starts inside a range that
  // the job files called missing ...
  const auto second = RangeLines(nginx, before);
  ASSERT_FALSE(second.empty());
  for (const auto& line : second) {
    std::istringstream fields(line);
    std::string port, range;
    fields >> port >> range;
    ASSERT_EQ(range.rfind("bytes=", 0), 0u) << "a request without a range: " << line;
    const long start = std::stol(range.substr(6));
    EXPECT_TRUE(std::any_of(missing.begin(), missing.end(),
                            [&](const auto& m) { return m.first <= start && start < m.second; }))
        << line;
  }
  // ... and the engine received fewer bytes than the file holds.
  const double fetched = FetchedMiB(r.Out);
  EXPECT_GT(fetched, 0) << r.Out;
  EXPECT_LT(fetched * kMiB, static_cast<double>(data.size())) << r.Out;
}

TEST_F(GetRunTest, CtrlCStopsTheJobAndRunCompletesIt) {
  TNginx nginx(Throttled("256k"));
  const std::string data = PatternBytes(6 * kMiB, 3);
  nginx.AddFile("big.bin", data);
  nginx.AddFile("slow.flag", "");
  const std::string target = downloads.File("big.bin");
  auto child = Spawn({"get", "-n", "4", "-d", downloads.Path(), nginx.Url("big.bin")});
  ASSERT_TRUE(WaitForProgress(*child, 10)) << child->Out() << child->Err();

  // Meanwhile a second command on the same job list is refused: it would overwrite the
  // first one's list.
  const auto other = Cli({"get", "-d", downloads.Path(), nginx.Url("other.bin")});
  EXPECT_EQ(other.ExitCode, 1);
  EXPECT_NE(other.Err.find("in use by another netskimbler-cli"), std::string::npos) << other.Err;

  child->Signal(SIGINT);
  const auto status = child->Wait(30s);
  ASSERT_TRUE(status) << "still running after Ctrl-C";
  EXPECT_EQ(*status, 128 + SIGINT);
  EXPECT_NE(child->Err().find("stopping every job"), std::string::npos) << child->Err();
  EXPECT_NE(child->Out().find("stopped: " + target + " ("), std::string::npos) << child->Out();
  EXPECT_NE(child->Err().find("\"netskimbler-cli run\" resumes the job"), std::string::npos);

  const std::string json = ListJson();
  EXPECT_EQ(JsonText(json, "state"), "stopped");
  EXPECT_NE(json.find("\"resumesFromInfoFile\": true"), std::string::npos) << json;
  EXPECT_GT(JsonNumber(json, "missingBytes"), 0);
  EXPECT_LT(JsonNumber(json, "missingBytes"), static_cast<long>(data.size()));
  EXPECT_TRUE(PathExists(target + ".wyn"));

  RemoveFile(nginx.DocRoot() + "slow.flag");
  const auto r = Cli({"run"});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(Sha256Of(target), Sha256Of(nginx.DocRoot() + "big.bin"));
  EXPECT_FALSE(PathExists(target + ".wyn"));
  EXPECT_FALSE(PathExists(target + ".ji"));
  EXPECT_EQ(JsonText(ListJson(), "state"), "finished");
}

TEST_F(GetRunTest, AnExistingTargetIsRenamedOverwrittenOrKeptAsAsked) {
  struct TCase {
    std::vector<std::string> option;
    int exit;
    bool replaced;   // the old target holds the download afterwards
    bool renamed;    // NAME(1).EXT holds the download
    const char* answer;
  };
  const TCase cases[] = {
      {{}, 0, false, true, "rename automatically"},
      {{"--on-exists", "rename"}, 0, false, true, "rename automatically"},
      {{"--on-exists=overwrite"}, 0, true, false, "overwrite"},
      {{"--on-exists", "cancel"}, 1, false, false, "cancel"},
  };
  TNginx nginx;
  int n = 0;
  for (const auto& c : cases) {
    const std::string name = "case" + std::to_string(++n);
    SCOPED_TRACE(name + " " + c.answer);
    const std::string data = PatternBytes(256 * 1024 + 77, 10 + n);
    nginx.AddFile(name + ".bin", data);
    const std::string target = downloads.File(name + ".bin");
    const std::string renamed = downloads.File(name + "(1).bin");
    ASSERT_TRUE(WriteFileAtomically(target, "old contents"));
    std::vector<std::string> args = {"get", "-d", downloads.Path()};
    args.insert(args.end(), c.option.begin(), c.option.end());
    args.push_back(nginx.Url(name + ".bin"));
    const auto r = Cli(args);
    EXPECT_EQ(r.ExitCode, c.exit) << r.Out << r.Err;
    EXPECT_NE(r.Err.find("file exists: \"" + target + "\"; answer: " + c.answer),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(ReadWholeFile(target).value_or("") == data, c.replaced);
    if (!c.replaced) {
      EXPECT_EQ(ReadWholeFile(target).value_or(""), "old contents");
    }
    EXPECT_EQ(PathExists(renamed), c.renamed);
    if (c.renamed) {
      EXPECT_TRUE(ReadWholeFile(renamed).value_or("") == data);
      EXPECT_NE(r.Out.find("finished: " + renamed), std::string::npos) << r.Out;
    }
    if (c.exit != 0) {
      EXPECT_NE(r.Out.find("stopped: " + target), std::string::npos) << r.Out;
    }
    EXPECT_FALSE(PathExists(target + ".wyn"));
  }
}

TEST_F(GetRunTest, ADuplicateURLIsRefusedWithItsMessageLine) {
  TNginx nginx;
  nginx.AddFile("dup.bin", PatternBytes(100 * 1024, 4));
  const std::string url = nginx.Url("dup.bin");
  ASSERT_EQ(Cli({"get", "-d", downloads.Path(), url}).ExitCode, 0);
  TTempDir elsewhere;
  const auto r = Cli({"get", "-d", elsewhere.Path(), url});
  EXPECT_EQ(r.ExitCode, 1);
  static const std::regex stamp("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
  bool found = false;
  for (const auto& l : Lines(r.Err))
    found = found || (l.size() > 20 && std::regex_match(l.substr(0, 19), stamp) && l[19] == ' ' &&
                      l.substr(20) == "URL:\"" + url + "\" 存在!");
  EXPECT_TRUE(found) << r.Err;
  EXPECT_NE(r.Err.find("netskimbler-cli run"), std::string::npos) << r.Err;
  EXPECT_FALSE(PathExists(elsewhere.File("dup.bin")));
  const std::string json = ListJson();
  EXPECT_EQ(std::count(json.begin(), json.end(), '{'), 2) << "one job in the list:\n" << json;
}

TEST_F(GetRunTest, BadArgumentsAreRefusedClearly) {
  const std::string url = "http://127.0.0.1:9/file.bin";
  struct TCase {
    std::vector<std::string> args;
    std::string says;
    int exit = 2;
  };
  const TCase cases[] = {
      {{"get", "--bogus", url}, "unknown option \"--bogus\""},
      {{"get", "-x", url}, "unknown option \"-x\""},
      {{"get", "-n", "0", url}, "connections must be 1 to 20, not \"0\""},
      {{"get", "-n", "21", url}, "connections must be 1 to 20, not \"21\""},
      {{"get", "-n", "four", url}, "connections must be 1 to 20, not \"four\""},
      {{"get", "-n"}, "option -n needs a value"},
      {{"get", "-p", "9", url}, "priority must be 1 to 5, not \"9\""},
      {{"get", "-p0", url}, "priority 0 is never started by the queue"},
      {{"get"}, "no URL given"},
      {{"get", "-n", "4"}, "no URL given"},
      {{"get", "http://127.0.0.1:9/"}, "\"http://127.0.0.1:9/\" names no file"},
      {{"get", "http://127.0.0.1:9"}, "names no file"},
      {{"get", "https://127.0.0.1:9/a.bin"}, "is not an http:// or ftp:// URL"},
      {{"get", url, "mirror.bin"}, "\"mirror.bin\" is not an http:// or ftp:// URL"},
      {{"get", "--on-exists", "maybe", url}, "--on-exists takes rename, overwrite or cancel"},
      {{"get", "-o", "a/b", url}, "must be a file name without \"/\""},
      {{"get", "-d", downloads.File("none"), url}, "does not exist"},
      {{"run", "--bogus"}, "unknown option \"--bogus\""},
      {{"run", "a.mjl", "b.mjl"}, "only one job list file may be given"},
      {{"run", "--on-exists"}, "option --on-exists needs a value"},
      {{"run", downloads.File("none.mjl")}, "is no job list file", 1},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    const auto r = Cli(c.args);
    EXPECT_EQ(r.ExitCode, c.exit) << r.Err;
    EXPECT_NE(r.Err.find(c.says), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
  EXPECT_FALSE(PathExists(home.File("skimbler.mjl"))) << "a refused command wrote the job list";
}

TEST_F(GetRunTest, ADamagedJobListIsLeftAlone) {
  TNginx nginx;
  nginx.AddFile("a.bin", "data");
  const std::string list = home.File("skimbler.mjl");
  ASSERT_TRUE(WriteFileAtomically(list, "no job list"));
  const std::vector<std::vector<std::string>> commands = {
      {"get", "-d", downloads.Path(), nginx.Url("a.bin")}, {"run"}};
  for (const auto& args : commands) {
    const auto r = Cli(args);
    EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
    EXPECT_NE(r.Err.find("is not a complete job list"), std::string::npos) << r.Err;
    EXPECT_EQ(ReadWholeFile(list).value_or(""), "no job list");
  }
  EXPECT_FALSE(PathExists(downloads.File("a.bin")));
}

TEST_F(GetRunTest, RunStartsEveryJobOfTheGivenListAndSavesItThere) {
  TNginx nginx;
  const std::string good = PatternBytes(1 * kMiB + 5, 6);
  nginx.AddFile("good.bin", good);
  nginx.AddFile("zero.bin", "never fetched");
  const auto makeJob = [&](const std::string& name, const std::string& path, int priority) {
    auto job = TJob::Create();
    job->FileName = downloads.File(name);
    job->Name = name;
    job->State = TJobState::jsStopped;
    job->Priority = static_cast<std::uint8_t>(priority);
    job->SkimblerCount = 3;
    job->RetryDelay = 0;
    job->MaxErrors = 2;
    TURLInfo u;
    u.URL = nginx.Url(path);
    u.UserAgent = "Skimbler/1.0";
    u.ConnectTimeout = 10;
    u.DataTimeout = 10;
    job->URLs.push_back(u);
    return job;
  };
  TJobList jobs;
  jobs.Add(makeJob("good.bin", "good.bin", 3));
  jobs.Add(makeJob("gone.bin", "gone.bin", 5));  // 404
  jobs.Add(makeJob("zero.bin", "zero.bin", 0));
  const std::string file = logs.File("other.mjl");
  ASSERT_TRUE(jobs.SaveToFile(file));

  const auto r = Cli({"run", file});
  EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
  EXPECT_NE(r.Out.find(file + ": 3 jobs, 2 to start, 1 of priority 0 (not started)"),
            std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("finished: " + downloads.File("good.bin")), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("error: " + downloads.File("gone.bin")), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("1 of 2 jobs finished"), std::string::npos) << r.Out;
  EXPECT_TRUE(ReadWholeFile(downloads.File("good.bin")).value_or("") == good);
  EXPECT_FALSE(PathExists(downloads.File("zero.bin")));

  // The engine saved the given list; the current list of the settings stayed what it was.
  const std::string json = ListJson(file);
  EXPECT_NE(json.find("\"state\": \"finished\",\n      \"name\": \"good.bin\""), std::string::npos)
      << json;
  EXPECT_FALSE(PathExists(home.File("skimbler.mjl")));
  TRegistryInfo saved;
  saved.LoadOptions();
  EXPECT_EQ(saved.CurListFile, home.File("skimbler.mjl"));
}

TEST_F(GetRunTest, APartialFileThatIsWrongOrGoneGivesItsMessageLine) {
  struct TCase {
    const char* name;
    const char* partial;  // the partial file's bytes; null: no partial file
    const char* says;
  };
  const TCase cases[] = {
      {"short.bin", "ten bytes.", "\" 无效!"},
      {"gone.bin", nullptr, "\" 不存在!"},
  };
  static const std::regex stamp("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A stopped job with half of its 1 MiB stored, as its information file says.
    auto job = TJob::Create();
    job->FileName = downloads.File(c.name);
    job->Name = c.name;
    job->FileSize = static_cast<std::int32_t>(kMiB);
    job->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{0, 512 * 1024, false}));
    TURLInfo u;
    u.URL = std::string("http://127.0.0.1:9/") + c.name;
    job->URLs.push_back(u);
    TJobList jobs;
    jobs.Add(job);
    const std::string file = logs.File(std::string(c.name) + ".mjl");
    ASSERT_TRUE(jobs.SaveToFile(file));
    ASSERT_TRUE(PathExists(job->InfoFileName()));
    if (c.partial) {
      ASSERT_TRUE(WriteFileAtomically(job->PartFileName(), c.partial));
    }

    const auto r = Cli({"run", file});
    EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
    bool found = false;
    for (const auto& l : Lines(r.Err))
      found = found || (l.size() > 20 && std::regex_match(l.substr(0, 19), stamp) &&
                        l.substr(19) == " 文件:\"" + job->FileName + c.says);
    EXPECT_TRUE(found) << r.Err;
    EXPECT_NE(r.Out.find("error: " + job->FileName), std::string::npos) << r.Out;
    // Nothing of the job's files was thrown away.
    EXPECT_TRUE(PathExists(job->InfoFileName()));
    if (c.partial) {
      EXPECT_EQ(ReadWholeFile(job->PartFileName()).value_or(""), c.partial);
    }
  }
}

// Runs the program with its standard output on a pseudo terminal and returns what it wrote.
std::string RunOnTerminal(const std::vector<std::string>& argv, int& exitCode) {
  int master = -1, slave = -1;
  winsize ws{};
  ws.ws_col = 120;
  ws.ws_row = 40;
  if (::openpty(&master, &slave, nullptr, nullptr, &ws) != 0) return "openpty failed";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, slave, 1);
  posix_spawn_file_actions_addclose(&actions, master);
  std::vector<std::string> copy = argv;
  std::vector<char*> args;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(slave);
  if (rc != 0) {
    ::close(master);
    return "spawn failed";
  }
  std::string out;
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 60000) <= 0) break;
    char buf[4096];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return out;
}

TEST_F(GetRunTest, OnATerminalTheProgressIsRedrawnInPlace) {
  TNginx nginx(Throttled("384k"));
  nginx.AddFile("tty.bin", PatternBytes(3 * kMiB, 7));
  nginx.AddFile("slow.flag", "");
  int exitCode = -1;
  const std::string out = RunOnTerminal(
      {NSK_CLI_PATH, "get", "-n", "4", "-d", downloads.Path(), nginx.Url("tty.bin")}, exitCode);
  EXPECT_EQ(exitCode, 0) << out;
  // Every redraw goes back over the one line drawn before and clears to the end.
  EXPECT_NE(out.find("\r\x1b[1A\r\x1b[J"), std::string::npos) << out;
  EXPECT_NE(out.find("tty.bin "), std::string::npos);
  EXPECT_NE(out.find("finished: " + downloads.File("tty.bin")), std::string::npos) << out;
}

}  // namespace
}  // namespace nsk::test
