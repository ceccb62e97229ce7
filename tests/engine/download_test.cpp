// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs downloaded for real: the engine's threads against nginx, vsftpd and tinyproxy on
// loopback, and against scripted servers for what real ones will not do.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

#include "engine/monitorcommands.h"
#include "engine/skimblerthread.h"
#include "net/socketerror.h"
#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "platform/utf8.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/filedata.h"
#include "tests/support/net/nginx.h"
#include "tests/support/net/scriptedserver.h"
#include "tests/support/net/tinyproxy.h"
#include "tests/support/net/vsftpd.h"

namespace nsk::test {
namespace {

using namespace std::chrono_literals;
using enum TJobState;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr std::size_t kMiB = 1024 * 1024;

struct TServeOptions {
  std::size_t Cut = 0;        // most body bytes per response (0: all)
  std::size_t Piece = 0;      // sent in pieces of this size ...
  std::chrono::milliseconds Gap{0};  // ... with this pause between them
  std::int64_t Size = -1;     // the size the headers announce (-1: the data's)
};

TServeOptions CutAt(std::size_t cut) {
  TServeOptions o;
  o.Cut = cut;
  return o;
}
TServeOptions Slowly(std::size_t piece, std::chrono::milliseconds gap) {
  TServeOptions o;
  o.Piece = piece;
  o.Gap = gap;
  return o;
}
TServeOptions Announcing(std::int64_t size) {
  TServeOptions o;
  o.Size = size;
  return o;
}

// nginx with one site (and a mirror site when second is given).
TNginxOptions Site(bool noRanges, std::string extra = "",
                   std::vector<TNginxRedirect> redirects = {}) {
  TNginxOptions o;
  o.Site.NoRanges = noRanges;
  o.Site.Extra = std::move(extra);
  o.Site.Redirects = std::move(redirects);
  return o;
}

// A plain HTTP server of one file with byte ranges. A client that closes early (its block
// is complete, it was stopped) ends the response; that is no failure of the server.
TScript Serve(std::shared_ptr<const std::string> data, TServeOptions o = {}) {
  return [data, o](TPeerConnection& c) {
    try {
      const std::string head = c.ReadHead();
      std::size_t start = 0;
      const auto at = UpperAscii(head).find("RANGE: BYTES=");
      if (at != std::string::npos) start = std::stoul(head.substr(at + 13));
      const std::size_t size = o.Size >= 0 ? static_cast<std::size_t>(o.Size) : data->size();
      std::string h = start > 0 ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                      std::to_string(start) + "-" + std::to_string(size - 1) +
                                      "/" + std::to_string(size) + "\r\n"
                                : std::string("HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\n");
      h += "Content-Length: " + std::to_string(size - start) + "\r\nConnection: close\r\n\r\n";
      c.Send(h);
      std::string body = start < data->size() ? data->substr(start) : std::string();
      if (o.Cut && body.size() > o.Cut) body.resize(o.Cut);
      if (o.Piece)
        c.SendPieces(body, o.Piece, o.Gap);
      else
        c.Send(body);
    } catch (const EPeerError&) {
    }
  };
}

class DownloadTest : public TEngineTest {
 protected:
  std::shared_ptr<TJob> Run(std::shared_ptr<TJob> job, TJobState want = jsFinished,
                            std::chrono::milliseconds timeout = 120s) {
    PostAddJob(Monitor(), job);
    EXPECT_TRUE(WaitForState(job, want, timeout)) << "state " << ToInt(StateOf(job));
    return job;
  }
  // Every log line of every connection of the job.
  static std::vector<std::string> Logs(const std::shared_ptr<TJob>& job) {
    auto g = job->Guard();
    std::vector<std::string> lines;
    for (const auto& s : job->Skimblers)
      for (const auto& l : s->Log) lines.push_back(l.Text.substr(20));
    return lines;
  }
  static int CountLines(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
  }
  // The starts of the ranged requests the connections logged.
  static std::set<long> RangeStarts(const std::shared_ptr<TJob>& job) {
    std::set<long> starts;
    for (const auto& l : Logs(job))
      if (l.rfind("Range: bytes=", 0) == 0) starts.insert(std::stol(l.substr(13)));
    return starts;
  }
  void ExpectDone(const std::shared_ptr<TJob>& job, const std::string& data) {
    std::string path;
    {
      auto g = job->Guard();
      path = job->FileName;
      EXPECT_EQ(job->DoneBytes, static_cast<std::int32_t>(data.size()));
      EXPECT_TRUE(job->Blocks.empty());
    }
    const auto got = ReadWholeFile(path);
    ASSERT_TRUE(got) << path;
    EXPECT_EQ(got->size(), data.size());
    EXPECT_TRUE(*got == data) << "the target's bytes differ from the source's";
    EXPECT_FALSE(PathExists(path + ".wyn"));
    EXPECT_FALSE(PathExists(path + ".ji"));
  }
};

TEST_F(DownloadTest, ABigFileWithEightConnectionsFromTwoMirrors) {
  TNginxOptions options;
  options.Second = TNginxSite();
  TNginx nginx(options);
  const std::string data = PatternBytes((kSanitized ? 16 : 64) * kMiB, 3);
  nginx.AddFile("big.bin", data);
  StartEngine();
  auto job = MakeJob({nginx.Url("big.bin"), nginx.Url("big.bin", true)}, "big.bin", jsQueued);
  job->SkimblerCount = 8;
  Run(job);
  ExpectDone(job, data);
  {
    auto g = job->Guard();
    EXPECT_EQ(job->Skimblers.size(), 8u);
    for (const auto& u : job->URLs) EXPECT_GT(u.Uses, 0) << u.URL << " was not used";
  }
  // The file was cut into ranges that the connections fetched from their own offsets.
  EXPECT_GE(RangeStarts(job).size(), 4u);
  const auto history = ReadWholeFile(home.File("history.htm"));
  ASSERT_TRUE(history);
  EXPECT_NE(history->find("<br><b>Save As:</b>" + home.File("big.bin")), std::string::npos);
  EXPECT_NE(history->find(">Finished</font>"), std::string::npos);
  // The speed display's total follows every byte received.
  EXPECT_TRUE(view.WaitUntil([&] { return view.LastTotal() >= static_cast<std::int64_t>(data.size()); }));
  EXPECT_EQ(list.Counter.TotalReceived(), static_cast<std::int64_t>(data.size()));
}

TEST_F(DownloadTest, AMirrorWithoutRangesBesideOneWithRanges) {
  // The first mirror is slowed down so that the others start while it still has work
  // (nginx lets a second's worth through at once).
  TNginxOptions options = Site(false, "limit_rate 500k;");
  options.Second = TNginxSite();
  options.Second->NoRanges = true;
  TNginx nginx(options);
  const std::string data = PatternBytes(2 * kMiB, 4);
  nginx.AddFile("m.bin", data);
  StartEngine();
  auto job = MakeJob({nginx.Url("m.bin"), nginx.Url("m.bin", true)}, "m.bin", jsQueued);
  job->SkimblerCount = 4;
  job->RetryDelay = 0;
  Run(job);
  ExpectDone(job, data);
  // The mirror without ranges was tried for a range and refused it ("不能从这里下载", an
  // error line; the log itself may have been emptied by later actions).
  auto g = job->Guard();
  EXPECT_GE(job->Errors, 1);
  const auto it = std::find_if(job->URLs.begin(), job->URLs.end(),
                               [&](const TURLInfo& u) { return u.URL == nginx.Url("m.bin", true); });
  ASSERT_NE(it, job->URLs.end());
  EXPECT_EQ(it->ResumeState, TResumeState::rsNoResume);
}

TEST_F(DownloadTest, AJobWhoseOnlyMirrorRefusesRangesStartsOverWithOneConnection) {
  TNginx nginx(Site(true));
  const std::string data = PatternBytes(3 * kMiB + 1000, 5);
  nginx.AddFile("n.bin", data);
  StartEngine();
  // A job resumed from an earlier run: half of the file is stored (here: wrong bytes, which
  // the new run must replace).
  auto job = MakeJob({nginx.Url("n.bin")}, "n.bin", jsQueued);
  job->FileSize = static_cast<std::int32_t>(data.size());
  job->Blocks.push_back(std::make_shared<TBlockInfo>(
      TBlockInfo{job->FileSize / 2, job->FileSize, false}));
  job->BuildBlockMap();
  job->SkimblerCount = 4;
  WriteFileAtomically(job->PartFileName(), std::string(data.size(), 'x'));
  Run(job);
  ExpectDone(job, data);
  const auto logs = Logs(job);
  EXPECT_EQ(CountLines(logs, kTextNoRange), 1);
  EXPECT_EQ(CountLines(logs, kTextNoTask), 3) << "the other connections found no work";
  auto g = job->Guard();
  EXPECT_GE(job->Received, job->FileSize) << "every byte was fetched again";
}

TEST_F(DownloadTest, AMirrorOfAnotherSizeFailsAndTheJobFinishesFromTheOther) {
  auto data = std::make_shared<const std::string>(PatternBytes(kMiB, 6));
  // The good mirror sends slowly, so that the second connection starts while there is work.
  TScriptedServer good(Serve(data, Slowly(32 * 1024, 5ms)));
  TScriptedServer other(Serve(data, Announcing(static_cast<std::int64_t>(data->size()) + 1000)));
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:" + std::to_string(good.Port()) + "/s.bin",
                      "http://127.0.0.1:" + std::to_string(other.Port()) + "/s.bin"},
                     "s.bin", jsQueued);
  job->SkimblerCount = 2;
  Run(job);
  ExpectDone(job, *data);
  EXPECT_EQ(CountLines(Logs(job), kTextSizeInvalid), 1);
  auto g = job->Guard();
  ASSERT_EQ(job->URLs.size(), 2u);
  EXPECT_TRUE(job->URLs.back().Failed) << "the failed mirror is ranked last";
  EXPECT_EQ(job->URLs.back().URL.find("127.0.0.1:" + std::to_string(other.Port())), 7u);
}

TEST_F(DownloadTest, AServerThatDropsConnectionsIsRetriedUntilEveryByteIsThere) {
  auto data = std::make_shared<const std::string>(PatternBytes(kMiB + 777, 9));
  TScriptedServer server(Serve(data, CutAt(64 * 1024)));
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:" + std::to_string(server.Port()) + "/d.bin"}, "d.bin",
                     jsQueued);
  job->SkimblerCount = 2;
  Run(job);
  ExpectDone(job, *data);
  EXPECT_GE(server.Accepted(), 17);
  // A connection's log holds at most five actions: it starts again at action 5, 10, ...
  auto g = job->Guard();
  for (const auto& s : job->Skimblers) {
    ASSERT_FALSE(s->Log.empty());
    const std::string first = s->Log.front().Text.substr(20);
    ASSERT_EQ(first.rfind("-----行动 ", 0), 0u) << first;
    const int action = std::stoi(first.substr(std::string("-----行动 ").size()));
    EXPECT_TRUE(action == 1 || action % 5 == 0) << first;
    int starts = 0;
    for (const auto& l : s->Log) starts += l.Text.find("-----行动 ") != std::string::npos &&
                                           l.Text.find("结束") == std::string::npos;
    EXPECT_LE(starts, 5);
  }
}

TEST_F(DownloadTest, AServerThatNeverAnswersEndsTheJobInErrorAtTheErrorLimit) {
  TScriptedServer server(TPeerScript().Stall());
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:" + std::to_string(server.Port()) + "/x.bin"}, "x.bin",
                     jsQueued);
  job->URLs[0].DataTimeout = 1;
  job->MaxErrors = 2;
  job->SkimblerCount = 3;
  Run(job, jsError);
  const auto logs = Logs(job);
  EXPECT_EQ(CountLines(logs, kTextTimedOut), 2);
  EXPECT_EQ(CountLines(logs, kTextMaxErrors), 1);
  auto g = job->Guard();
  EXPECT_EQ(job->Errors, 2);
  EXPECT_EQ(job->Skimblers.size(), 1u) << "the others start only once the size is known";
}

TEST_F(DownloadTest, ARedirectOfTheFirstURLRenamesTheTarget) {
  StartEngine();
  for (const bool taken : {false, true}) {
    SCOPED_TRACE(taken ? "new name taken" : "new name free");
    TNginx nginx(Site(false, "", {{"/old.bin", "http://127.0.0.1:$server_port/new.bin", 302}}));
    const std::string data = PatternBytes(200000, taken ? 10 : 22);
    nginx.AddFile("new.bin", data);
    if (taken) WriteFileAtomically(home.File("new.bin"), "another file");
    auto job = Run(MakeJob({nginx.Url("old.bin")}, "old.bin", jsQueued));
    const std::string want = home.File(taken ? "new(1).bin" : "new.bin");
    {
      auto g = job->Guard();
      EXPECT_EQ(job->FileName, want);
      EXPECT_EQ(job->Name, FileNameOf(want));
      EXPECT_EQ(job->URLs[0].URL, nginx.Url("new.bin"));
    }
    ExpectDone(job, data);
    EXPECT_FALSE(PathExists(home.File("old.bin")));
    if (taken) {
      EXPECT_EQ(ReadWholeFile(home.File("new.bin")), "another file");
    }
  }
}

TEST_F(DownloadTest, ARedirectAfterThePartialFileWasOpenedTakesItAlong) {
  TNginx nginx;
  auto data = std::make_shared<const std::string>(PatternBytes(kMiB, 11));
  nginx.AddFile("moved.bin", *data);
  // The first connection gets the file, slowly; every later one is sent elsewhere.
  const std::string location = nginx.Url("moved.bin");
  TScriptedServer server(std::vector<TScript>{
      Serve(data, Slowly(32 * 1024, 10ms)),
      TPeerScript().ReadHead().Send("HTTP/1.1 302 Found\r\nLocation: " + location +
                                    "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")});
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:" + std::to_string(server.Port()) + "/first.bin"},
                     "first.bin", jsQueued);
  job->SkimblerCount = 2;
  Run(job);
  {
    auto g = job->Guard();
    EXPECT_EQ(job->FileName, home.File("moved.bin"));
  }
  ExpectDone(job, *data);
  EXPECT_FALSE(PathExists(home.File("first.bin.wyn")));
  EXPECT_FALSE(PathExists(home.File("first.bin")));
}

TEST_F(DownloadTest, ARelativeRedirectIsRefused) {
  TNginx nginx(Site(false, "absolute_redirect off;", {{"/rel.bin", "/other.bin", 302}}));
  nginx.AddFile("other.bin", "x");
  StartEngine();
  auto job = MakeJob({nginx.Url("rel.bin")}, "rel.bin", jsQueued);
  Run(job, jsError);
  EXPECT_EQ(CountLines(Logs(job), kTextBadRedirect), 1);
  auto g = job->Guard();
  EXPECT_TRUE(job->URLs[0].Failed);
  EXPECT_EQ(job->FileName, home.File("rel.bin"));
}

TEST_F(DownloadTest, AServerThatGivesNoSizeCannotBeUsed) {
  TScriptedServer server(TPeerScript().ReadHead().Send(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
      "5\r\nhello\r\n0\r\n\r\n"));
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:" + std::to_string(server.Port()) + "/u.bin"}, "u.bin",
                     jsQueued);
  Run(job, jsError);
  EXPECT_EQ(CountLines(Logs(job), kTextSizeUnknown), 1);
  EXPECT_FALSE(PathExists(home.File("u.bin.wyn")));
}

TEST_F(DownloadTest, FtpWithFourConnectionsPassiveAndActive) {
  TVsftpd ftp;
  const std::string data = PatternBytes((kSanitized ? 2 : 6) * kMiB + 123, 12);
  StartEngine();
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    const std::string name = passive ? "pasv.bin" : "port.bin";
    ftp.AddFile(name, data);
    auto job = MakeJob({ftp.Url(name)}, name, jsQueued);
    job->URLs[0].Proxy.PASV = passive ? 1 : 0;
    job->SkimblerCount = 4;
    Run(job);
    ExpectDone(job, data);
    const auto logs = Logs(job);
    const auto begins = [&](const std::string& head) {
      return std::count_if(logs.begin(), logs.end(),
                           [&](const std::string& l) { return l.rfind(head, 0) == 0; });
    };
    EXPECT_GE(begins(passive ? "PASV" : "PORT "), 4);
    EXPECT_EQ(begins(passive ? "PORT " : "PASV"), 0);
    // Every connection but the first restarted the transfer at its range.
    EXPECT_GE(std::count_if(logs.begin(), logs.end(),
                            [](const std::string& l) {
                              return l.rfind("REST ", 0) == 0 && l != "REST 100" && l != "REST 0";
                            }),
              3);
  }
}

TEST_F(DownloadTest, ThroughAnHttpProxy) {
  TNginx nginx;
  TTinyproxy proxy;
  const std::string data = PatternBytes(300000, 13);
  nginx.AddFile("p.bin", data);
  StartEngine();
  auto job = MakeJob({nginx.Url("p.bin")}, "p.bin", jsQueued);
  job->URLs[0].Proxy.ProxyType = TProxyType::Http;
  job->URLs[0].Proxy.Address = "127.0.0.1";
  job->URLs[0].Proxy.Port = std::to_string(proxy.Port());
  job->SkimblerCount = 2;
  Run(job);
  ExpectDone(job, data);
  const auto requests = proxy.RequestLines();
  EXPECT_FALSE(requests.empty());
  for (const auto& r : requests) EXPECT_EQ(r.rfind("GET " + nginx.Url("p.bin"), 0), 0u) << r;
}

TEST_F(DownloadTest, AProxyPortThatIsNoNumberFailsTheActionWithAnErrorLine) {
  for (const char* port : {"abc", "", "70000", "0"}) {
    SCOPED_TRACE(port);
    if (!engine) StartEngine();
    auto job = MakeJob({std::string("http://127.0.0.1:9/proxied-") + port}, "pp.bin", jsQueued);
    job->FileName = home.File(std::string("pp-") + port);
    job->URLs[0].Proxy.ProxyType = TProxyType::Http;
    job->URLs[0].Proxy.Address = "127.0.0.1";
    job->URLs[0].Proxy.Port = port;
    Run(job, jsError);
    EXPECT_EQ(CountLines(Logs(job), kTextBadProxyPort), 1);
    auto g = job->Guard();
    EXPECT_TRUE(job->URLs[0].Failed);
    EXPECT_EQ(job->Errors, 1);
  }
}

TEST_F(DownloadTest, AutomaticConnectionCountFollowsTheSize) {
  TNginx nginx;
  const std::string data = PatternBytes(kMiB, 14);
  nginx.AddFile("auto.bin", data);
  settings.Update([](TRegistryInfo& s) { s.EverySkimbler = 200; });
  StartEngine();
  auto job = MakeJob({nginx.Url("auto.bin")}, "auto.bin", jsQueued);
  job->AutoSkimblers = true;
  job->SkimblerCount = 1;
  Run(job);
  ExpectDone(job, data);
  auto g = job->Guard();
  EXPECT_EQ(job->SkimblerCount, 5);
  EXPECT_EQ(job->Skimblers.size(), 5u);
}

TEST_F(DownloadTest, AFinishedJobIsScannedRecordedAndDeletedFromTheListWhenSet) {
  TNginx nginx;
  const std::string data = PatternBytes(100000, 15);
  nginx.AddFile("v.bin", data);
  settings.Update([](TRegistryInfo& s) {
    s.VirusCheck = true;
    s.VirusScanner = "/opt/scanner/scan";
    s.ScannerArgs = " --quiet  -r ";
    s.DeleteComplete = true;
  });
  StartEngine();
  auto job = MakeJob({nginx.Url("v.bin")}, "v.bin", jsQueued);
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(WaitForState(job, jsFinished));
  ASSERT_TRUE(post.WaitUntil([&] { return list.Count() == 0; }));
  Settle();
  EXPECT_TRUE(ReadWholeFile(home.File("v.bin")) == data) << "deleting a finished job keeps its file";
  const auto calls = launcher.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Program, "/opt/scanner/scan");
  EXPECT_EQ(calls[0].Args, (std::vector<std::string>{home.File("v.bin"), "--quiet", "-r"}));
  const auto history = ReadWholeFile(home.File("history.htm"));
  ASSERT_TRUE(history);
  EXPECT_NE(history->find(home.File("v.bin")), std::string::npos);
  TJobList saved;
  saved.LoadFromFile(settings.Get()->CurListFile);
  EXPECT_EQ(saved.Count(), 0);
}

TEST_F(DownloadTest, AFailedMoveToTheTargetKeepsTheDataAndIsRetriedAtTheNextStart) {
  TNginx nginx;
  const std::string data = PatternBytes(150000, 16);
  nginx.AddFile("mv.bin", data);
  // A folder where the target should go: the partial file cannot take its name.
  MakeFolders(home.File("mv.bin/inside"));
  view.SetFileExistsAnswer(TRenameAnswer::Overwrite);
  StartEngine();
  auto job = MakeJob({nginx.Url("mv.bin")}, "mv.bin", jsQueued);
  Run(job, jsError);
  const auto problems = post.All<TFileErrorMessage>();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Problem, TFileProblem::MoveFailed);
  EXPECT_EQ(NoticeText(problems[0]), "文件:\"" + home.File("mv.bin") + "\" 移动失败!");
  EXPECT_TRUE(ReadWholeFile(home.File("mv.bin.wyn")) == data) << "the data stays";
  EXPECT_TRUE(PathExists(home.File("mv.bin.ji")));
  EXPECT_TRUE(IsDirectory(home.File("mv.bin")));
  EXPECT_TRUE(launcher.Calls().empty());

  // Once the obstacle is gone, starting the job again finds every byte and moves the file.
  ::rmdir(home.File("mv.bin/inside").c_str());
  ::rmdir(home.File("mv.bin").c_str());
  PostStartAll(Monitor());
  ASSERT_TRUE(WaitForState(job, jsFinished));
  ExpectDone(job, data);
  auto g = job->Guard();
  EXPECT_EQ(job->Received, 0) << "nothing was fetched again";
}

TEST_F(DownloadTest, AStoppedJobResumesWhereItStopped) {
  auto data = std::make_shared<const std::string>(PatternBytes(3 * kMiB, 17));
  TScriptedServer server(Serve(data, Slowly(16 * 1024, 5ms)));
  settings.Update([](TRegistryInfo& s) {
    s.AutoSave = true;
    s.EveryBytes = 64;
  });
  StartEngine();
  auto job = MakeJob({"http://127.0.0.1:" + std::to_string(server.Port()) + "/res.bin"},
                     "res.bin", jsQueued);
  job->SkimblerCount = 2;
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(view.WaitUntil([&] {
    auto g = job->Guard();
    return job->DoneBytes > 512 * 1024;
  }));
  // While it runs the information file names what is missing.
  ASSERT_TRUE(view.WaitUntil([&] { return PathExists(home.File("res.bin.ji")); }));
  PostStopAll(Monitor(), false);
  ASSERT_TRUE(WaitForState(job, jsStopped));
  std::int32_t stored = 0;
  {
    auto g = job->Guard();
    stored = job->DoneBytes;
  }
  auto reloaded = TJob::Create();
  reloaded->FileName = home.File("res.bin");
  reloaded->FileSize = static_cast<std::int32_t>(data->size());
  ASSERT_TRUE(reloaded->LoadInfoFile(false));
  reloaded->BuildBlockMap();
  EXPECT_EQ(reloaded->DoneBytes, stored) << "the information file of the stopped job is current";

  PostStartAll(Monitor());
  ASSERT_TRUE(WaitForState(job, jsRunning));
  ASSERT_TRUE(WaitForState(job, jsFinished));
  ExpectDone(job, *data);
  auto g = job->Guard();
  EXPECT_EQ(job->Received, static_cast<std::int32_t>(data->size()) - stored)
      << "the second run fetched only what was missing";
}

TEST_F(DownloadTest, AStopEndsATransferAtOnce) {
  TNginx nginx(Site(false, "limit_rate 100k;"));
  nginx.AddFile("slow.bin", PatternBytes(4 * kMiB, 18));
  StartEngine();
  auto job = MakeJob({nginx.Url("slow.bin")}, "slow.bin", jsQueued);
  job->SkimblerCount = 2;
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(view.WaitUntil([&] {
    auto g = job->Guard();
    return job->AllStarted && job->DoneBytes > 150 * 1024;
  }));
  // The basket's hint names the running job with its progress.
  ASSERT_TRUE(view.WaitUntil([&] {
    const auto hints = list.RunningHints();
    return hints.size() == 1 && hints[0].rfind("slow.bin-->[", 0) == 0;
  }));
  const auto asked = std::chrono::steady_clock::now();
  PostStopAll(Monitor(), false);
  ASSERT_TRUE(WaitForState(job, jsStopped));
  const auto took = std::chrono::steady_clock::now() - asked;
  EXPECT_LT(took, kSanitized ? 3s : 1s);
  auto g = job->Guard();
  for (const auto& s : job->Skimblers) {
    ASSERT_GE(s->Log.size(), 2u);
    const auto& lines = s->Log;
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const TLogLine& l) { return l.Text.substr(20) == kTextAborted; }))
        << "#" << s->Number;
    EXPECT_NE(lines.back().Text.find("结束-----"), std::string::npos) << lines.back().Text;
    EXPECT_EQ(s->State, TSkimblerState::ssStopped);
  }
}

TEST_F(DownloadTest, ConnectionsAddedStoppedRunAgainAndDeleted) {
  TNginx nginx(Site(false, "limit_rate 300k;"));
  const std::string data = PatternBytes(2 * kMiB, 19);
  nginx.AddFile("c.bin", data);
  StartEngine();
  auto job = MakeJob({nginx.Url("c.bin")}, "c.bin", jsQueued);
  job->SkimblerCount = 2;
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(view.WaitUntil([&] {
    auto g = job->Guard();
    return job->AllStarted && job->ResumeState == TResumeState::rsResumable;
  }));
  TTreeSelection sel;
  sel.Jobs.push_back(job->Handle());
  PostSelectionChanged(Monitor(), sel);
  PostAddSkimbler(Monitor());
  Settle();
  std::shared_ptr<TSkimbler> third;
  {
    auto g = job->Guard();
    ASSERT_EQ(job->Skimblers.size(), 3u);
    EXPECT_EQ(job->SkimblerCount, 3);
    third = job->Skimblers.back();
    EXPECT_EQ(third->Number, 3);
  }
  // Stop the new connection, run it again, stop it again and delete it.
  TTreeSelection one;
  one.Skimblers.push_back(third->Handle());
  PostSelectionChanged(Monitor(), one);
  const auto stopped = [&] {
    auto g = job->Guard();
    return third->State == TSkimblerState::ssStopped;
  };
  PostStopSkimbler(Monitor());
  ASSERT_TRUE(view.WaitUntil(stopped));
  PostRunSkimbler(Monitor());
  ASSERT_TRUE(view.WaitUntil([&] { return !stopped(); }));
  PostStopSkimbler(Monitor());
  ASSERT_TRUE(view.WaitUntil(stopped));
  PostDeleteSkimbler(Monitor());
  Settle();
  {
    auto g = job->Guard();
    EXPECT_EQ(job->Skimblers.size(), 2u);
    EXPECT_EQ(job->SkimblerCount, 2);
  }
  EXPECT_FALSE(list.FocusedSkimbler);
  ASSERT_TRUE(WaitForState(job, jsFinished));
  ExpectDone(job, data);
}

TEST_F(DownloadTest, NoConnectionIsAddedToAJobWhoseServerDoesNotResume) {
  TNginx nginx(Site(true, "limit_rate 500k;"));
  nginx.AddFile("nr.bin", PatternBytes(2 * kMiB, 20));
  StartEngine();
  auto job = MakeJob({nginx.Url("nr.bin")}, "nr.bin", jsQueued);
  job->SkimblerCount = 1;
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(view.WaitUntil([&] {
    auto g = job->Guard();
    return job->AllStarted && job->DoneBytes > 0;
  }));
  {
    auto g = job->Guard();
    EXPECT_NE(job->ResumeState, TResumeState::rsResumable);
  }
  TTreeSelection sel;
  sel.Jobs.push_back(job->Handle());
  PostSelectionChanged(Monitor(), sel);
  PostAddSkimbler(Monitor());
  Settle();
  auto g = job->Guard();
  EXPECT_EQ(job->Skimblers.size(), 1u);
}

TEST_F(DownloadTest, TheFocusedJobShowsItsProgressAndItsConnectionsLog) {
  TNginx nginx(Site(false, "limit_rate 1m;"));
  const std::string data = PatternBytes(kMiB + 5000, 21);
  nginx.AddFile("f.bin", data);
  StartEngine();
  auto job = MakeJob({nginx.Url("f.bin")}, "f.bin", jsQueued);
  job->SkimblerCount = 2;
  list.Add(job);
  {
    TTreeSelection sel;
    sel.Jobs.push_back(job->Handle());
    PostSelectionChanged(Monitor(), sel);
  }
  PostStartAll(Monitor());
  ASSERT_TRUE(view.WaitUntil([&] {
    auto g = job->Guard();
    return !job->Skimblers.empty();
  }));
  std::shared_ptr<TSkimbler> first;
  {
    auto g = job->Guard();
    first = job->Skimblers.front();
  }
  ASSERT_TRUE(WaitForState(job, jsFinished));
  EXPECT_EQ(view.LastInfo().Values[6], std::to_string(data.size()));  // bytes received
  const auto map = view.BlockMap();
  ASSERT_EQ(map.size(), static_cast<std::size_t>(ChunkCount(static_cast<std::int32_t>(data.size()))));
  EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](std::uint8_t c) { return c == 1; }));

  // Focus on a connection: its log shows, and lines it writes are appended.
  TTreeSelection one;
  one.Skimblers.push_back(first->Handle());
  PostSelectionChanged(Monitor(), one);
  Settle();
  std::vector<TLogLine> kept;
  {
    auto g = job->Guard();
    kept = first->Log;
  }
  EXPECT_EQ(view.LogList(), kept);
  EXPECT_TRUE(view.OnLogPage());
}

TEST_F(DownloadTest, AStalledTransferCostsNoCpuWhileItWaits) {
  TScriptedServer server(TPeerScript().Stall());
  StartEngine(std::chrono::milliseconds(1000));
  auto job = MakeJob({"http://127.0.0.1:" + std::to_string(server.Port()) + "/st.bin"},
                     "st.bin", jsQueued);
  job->URLs[0].DataTimeout = 0;
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(server.WaitForConnections(1));
  ASSERT_TRUE(view.WaitUntil([&] {
    auto g = job->Guard();
    return !job->Skimblers.empty() && job->Skimblers[0]->State == TSkimblerState::ssResponding;
  }));
  const auto cpu = [] {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
  };
  const double before = cpu();
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(2s);  // the quantity measured is what the engine costs meanwhile
  const double used = cpu() - before;
  const double wall = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  RecordProperty("StalledCpuPercent", std::to_string(100.0 * used / wall));
  std::printf("CPU while stalled: %.3f %% of one core\n", 100.0 * used / wall);
  // Turns of 2 ms would cost about 1 %; sleeping until woken costs next to nothing.
  EXPECT_LT(used / wall, 0.005) << "CPU share while the transfer stalls";
}

}  // namespace
}  // namespace nsk::test
