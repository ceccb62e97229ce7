// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>

#include "engine/infofile.h"
#include "engine/joblist.h"
#include "platform/fileops.h"
#include "tests/engine/filebytes.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

using test::TFileBytes;
using test::TJobFields;
using test::TURLFields;

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Bytes(const std::string& path) { return ReadWholeFile(path).value_or("<missing>"); }

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TURLInfo FullURL(const std::string& url, int salt) {
  TURLInfo u;
  u.URL = url;
  u.Auth = salt % 2 == 1;
  u.User = "用户" + std::to_string(salt);
  u.Password = "pw" + std::to_string(salt);
  u.Referer = "http://ref/" + std::to_string(salt);
  u.UserAgent = "Agent/" + std::to_string(salt);
  u.ConnectTimeout = 60 + salt;
  u.DataTimeout = 120 + salt;
  u.ResumeState = TResumeState::rsResumable;
  u.Proxy.Title = "代理 " + std::to_string(salt);
  u.Proxy.Address = "127.0.0.1";
  u.Proxy.Port = "3128";
  u.Proxy.ProxyType = TProxyType::Http;
  u.Proxy.NoCache = 1;
  u.Proxy.PASV = 0;
  u.Proxy.Authenticate = 1;
  u.Proxy.ProxyUser = "proxyuser";
  u.Proxy.ProxyPassword = "proxypass";
  // Run statistics are not stored.
  u.Speed = 999;
  u.Users = 3;
  u.Failed = true;
  u.Uses = 8;
  return u;
}

void ExpectSameRecord(const TJob& a, const TJob& b) {
  EXPECT_EQ(a.AlwaysRetry, b.AlwaysRetry);
  EXPECT_EQ(a.StartCount, b.StartCount);
  EXPECT_EQ(a.AutoSkimblers, b.AutoSkimblers);
  EXPECT_EQ(a.Category, b.Category);
  EXPECT_EQ(a.Comment, b.Comment);
  EXPECT_EQ(a.FileDate, b.FileDate);
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(a.FileSize, b.FileSize);
  EXPECT_EQ(a.MaxErrors, b.MaxErrors);
  EXPECT_EQ(a.SkimblerCount, b.SkimblerCount);
  EXPECT_EQ(a.Priority, b.Priority);
  EXPECT_EQ(a.ResumeState, b.ResumeState);
  EXPECT_EQ(a.RetryDelay, b.RetryDelay);
  EXPECT_EQ(a.FileName, b.FileName);
  EXPECT_EQ(a.BeginTime, b.BeginTime);
  EXPECT_EQ(a.EndTime, b.EndTime);
  ASSERT_EQ(a.URLs.size(), b.URLs.size());
  for (std::size_t i = 0; i < a.URLs.size(); ++i) {
    const TURLInfo &u = a.URLs[i], &v = b.URLs[i];
    EXPECT_EQ(u.URL, v.URL);
    EXPECT_EQ(u.Auth, v.Auth);
    EXPECT_EQ(u.User, v.User);
    EXPECT_EQ(u.Password, v.Password);
    EXPECT_EQ(u.Referer, v.Referer);
    EXPECT_EQ(u.UserAgent, v.UserAgent);
    EXPECT_EQ(u.ConnectTimeout, v.ConnectTimeout);
    EXPECT_EQ(u.DataTimeout, v.DataTimeout);
    EXPECT_EQ(u.ResumeState, v.ResumeState);
    EXPECT_EQ(std::memcmp(&u.Proxy, &v.Proxy, sizeof u.Proxy), 0) << "proxy block of URL " << i;
  }
}

void ExpectNotMeasured(const TJob& job) {
  for (const auto& u : job.URLs) {
    EXPECT_EQ(u.Speed, -1);
    EXPECT_EQ(u.Users, 0);
    EXPECT_FALSE(u.Failed);
    EXPECT_EQ(u.Uses, 0);
  }
}

std::shared_ptr<TJob> FullJob(const std::string& path, int salt) {
  auto j = TJob::Create();
  j->AlwaysRetry = true;
  j->StartCount = 2 + salt;
  j->AutoSkimblers = true;
  j->Category = "软件";
  j->Comment = "备注 " + std::to_string(salt);
  j->FileDate = 45123.25 + salt;
  j->FileName = path;
  j->Name = FileNameOf(path);
  j->MaxErrors = 99;
  j->SkimblerCount = 7;
  j->Priority = 5;
  j->ResumeState = TResumeState::rsNoResume;
  j->RetryDelay = 9;
  j->BeginTime = 45200.5;
  j->EndTime = 45200.75;
  j->URLs = {FullURL("http://127.0.0.1/a" + std::to_string(salt), 1),
             FullURL("ftp://127.0.0.1/b" + std::to_string(salt), 2)};
  return j;
}

TEST(JobListFile, AFinishedAndAStoppedJobComeBackAsTheyWere) {
  test::TTempDir dir;
  TJobList list;
  auto finished = FullJob(dir.File("done.zip"), 1);
  finished->State = TJobState::jsFinished;
  finished->FileSize = 5000;
  WriteBytes(finished->InfoFileName(), "stale");  // a finished job keeps no information file
  auto stopped = FullJob(dir.File("part.iso"), 2);
  stopped->FileSize = 100000;
  stopped->Blocks = {std::make_shared<TBlockInfo>(TBlockInfo{10000, 20000, true}),
                     std::make_shared<TBlockInfo>(TBlockInfo{50000, 60000, false})};
  auto running = FullJob(dir.File("run.bin"), 3);
  running->State = TJobState::jsRunning;
  list.Add(finished);
  list.Add(stopped);
  list.Add(running);
  const std::string path = dir.File("list.mjl");
  ASSERT_TRUE(list.SaveToFile(path));
  EXPECT_FALSE(PathExists(finished->InfoFileName()));
  EXPECT_TRUE(PathExists(stopped->InfoFileName()));
  EXPECT_FALSE(PathExists(running->InfoFileName()));  // size unknown: nothing to resume
  EXPECT_EQ(FileLength(path), 5 + 4 + 3 * (1065 + 1 + 4 + 2 * 2324));
  EXPECT_EQ(Bytes(path).substr(0, 5), std::string("\x01\x01\x01\x00\x00", 5));

  TJobList back;
  const TListLoadResult r = back.LoadFromFile(path);
  EXPECT_TRUE(r.Complete);
  EXPECT_EQ(r.JobsLoaded, 3);
  EXPECT_EQ(r.Title, "Lumo下载 1.10 - list.mjl");
  ASSERT_EQ(back.Count(), 3);
  const auto& jobs = back.Jobs();
  ExpectSameRecord(*jobs[0], *finished);
  ExpectSameRecord(*jobs[1], *stopped);
  ExpectSameRecord(*jobs[2], *running);
  for (const auto& j : jobs) ExpectNotMeasured(*j);

  EXPECT_EQ(jobs[0]->State, TJobState::jsFinished);
  EXPECT_EQ(jobs[0]->Percent, 100);
  EXPECT_EQ(jobs[0]->DoneBytes, 5000);
  EXPECT_EQ(jobs[0]->BlockMap, std::vector<std::uint8_t>(3, 1));

  EXPECT_EQ(jobs[1]->State, TJobState::jsStopped);
  ASSERT_EQ(jobs[1]->Blocks.size(), 2u);
  EXPECT_EQ(jobs[1]->Blocks[0]->StartPos, 10000);
  EXPECT_EQ(jobs[1]->Blocks[0]->EndPos, 20000);
  EXPECT_EQ(jobs[1]->Blocks[1]->StartPos, 50000);
  EXPECT_EQ(jobs[1]->Blocks[1]->EndPos, 60000);
  EXPECT_FALSE(jobs[1]->Blocks[0]->Busy);
  EXPECT_FALSE(jobs[1]->Blocks[1]->Busy);
  EXPECT_EQ(jobs[1]->DoneBytes, 100000 - 10000 - 10000);
  EXPECT_EQ(jobs[1]->Percent, 80);

  EXPECT_EQ(jobs[2]->State, TJobState::jsStopped);
  EXPECT_NE(jobs[0]->Handle(), finished->Handle());
}

TEST(JobListFile, AMissingFileLeavesTheListEmptyButNamesTheTitle) {
  test::TTempDir dir;
  TJobList list;
  const TListLoadResult r = list.LoadFromFile(dir.File("Untitled.mjl"));
  EXPECT_EQ(r.Title, "Lumo下载 1.10 - Untitled.mjl");
  EXPECT_FALSE(r.Complete);
  EXPECT_EQ(list.Count(), 0);
}

TEST(JobListFile, ReadsAFileBuiltFromTheLayout) {
  test::TTempDir dir;
  TFileBytes b;
  b.Header().Int(2);
  TJobFields a;
  a.AlwaysRetry = 1;
  a.StartCount = 4;
  a.AutoSkimblers = 1;
  a.Category = "Music";
  a.Comment = "a comment";
  a.FileDate = 44000.5;
  a.Name = "song.mp3";
  a.FileSize = 4097;
  a.MaxErrors = 20;
  a.SkimblerCount = 5;
  a.Priority = 4;
  a.ResumeState = 1;
  a.RetryDelay = 7;
  a.FileName = dir.File("song.mp3");
  a.BeginTime = 44001.25;
  a.EndTime = 44001.5;
  AppendJob(b, a);
  b.Byte(4).Int(1);
  TURLFields u;
  u.URL = "ftp://127.0.0.1/pub/song.mp3";
  u.Auth = 1;
  u.User = "anonymous";
  u.Password = "guest@";
  u.Referer = "http://ref/";
  u.UserAgent = "UA";
  u.ConnectTimeout = 30;
  u.DataTimeout = 45;
  u.ResumeState = 2;
  u.Proxy = test::ProxyBlock("Squid", "127.0.0.1", "3128", 1, 1, 1, 1, "pu", "pp");
  AppendURL(b, u);
  TJobFields c;
  c.Name = "new.bin";
  c.FileName = dir.File("new.bin");
  AppendJob(b, c);
  b.Byte(2).Int(2);
  TURLFields u1, u2;
  u1.URL = "http://127.0.0.1/new.bin";
  u2.URL = "http://127.0.0.2/new.bin";
  AppendURL(b, u1);
  AppendURL(b, u2);
  ASSERT_EQ(b.Size(), 5u + 4 + 2 * (1065 + 1 + 4) + 3 * 2324);
  WriteBytes(dir.File("l.mjl"), b.Str());

  TJobList list;
  ASSERT_EQ(list.LoadFromFile(dir.File("l.mjl")).JobsLoaded, 2);
  const TJob& j = *list.Jobs()[0];
  EXPECT_TRUE(j.AlwaysRetry);
  EXPECT_EQ(j.StartCount, 4);
  EXPECT_TRUE(j.AutoSkimblers);
  EXPECT_EQ(j.Category, "Music");
  EXPECT_EQ(j.Comment, "a comment");
  EXPECT_EQ(j.FileDate, 44000.5);
  EXPECT_EQ(j.Name, "song.mp3");
  EXPECT_EQ(j.FileSize, 4097);
  EXPECT_EQ(j.MaxErrors, 20);
  EXPECT_EQ(j.SkimblerCount, 5);
  EXPECT_EQ(j.Priority, 4);
  EXPECT_EQ(j.ResumeState, TResumeState::rsResumable);
  EXPECT_EQ(j.RetryDelay, 7);
  EXPECT_EQ(j.FileName, dir.File("song.mp3"));
  EXPECT_EQ(j.BeginTime, 44001.25);
  EXPECT_EQ(j.EndTime, 44001.5);
  EXPECT_EQ(j.State, TJobState::jsFinished);
  EXPECT_EQ(j.BlockMap, std::vector<std::uint8_t>(3, 1));
  ASSERT_EQ(j.URLs.size(), 1u);
  const TURLInfo& v = j.URLs[0];
  EXPECT_EQ(v.URL, "ftp://127.0.0.1/pub/song.mp3");
  EXPECT_TRUE(v.Auth);
  EXPECT_EQ(v.User, "anonymous");
  EXPECT_EQ(v.Password, "guest@");
  EXPECT_EQ(v.Referer, "http://ref/");
  EXPECT_EQ(v.UserAgent, "UA");
  EXPECT_EQ(v.ConnectTimeout, 30);
  EXPECT_EQ(v.DataTimeout, 45);
  EXPECT_EQ(v.ResumeState, TResumeState::rsNoResume);
  EXPECT_EQ(v.Proxy.Title.Str(), "Squid");
  EXPECT_EQ(v.Proxy.Address.Str(), "127.0.0.1");
  EXPECT_EQ(v.Proxy.Port.Str(), "3128");
  EXPECT_EQ(v.Proxy.ProxyType, TProxyType::Http);
  EXPECT_EQ(v.Proxy.NoCache, 1);
  EXPECT_EQ(v.Proxy.PASV, 1);
  EXPECT_EQ(v.Proxy.Authenticate, 1);
  EXPECT_EQ(v.Proxy.ProxyUser.Str(), "pu");
  EXPECT_EQ(v.Proxy.ProxyPassword.Str(), "pp");
  ExpectNotMeasured(j);

  const TJob& k = *list.Jobs()[1];
  EXPECT_EQ(k.State, TJobState::jsStopped);
  EXPECT_EQ(k.FileSize, 0);
  EXPECT_EQ(k.FileDate, -1.0);
  ASSERT_EQ(k.URLs.size(), 2u);
  EXPECT_EQ(k.URLs[1].URL, "http://127.0.0.2/new.bin");
  EXPECT_TRUE(k.BlockMap.empty());
}

// A list of one stopped job of 30000 bytes and its information file, both built by hand.
struct TResumable {
  std::string list, info;
  std::size_t infoRecordEnd = 0, infoURLsEnd = 0;
};

TResumable ResumableFiles(const std::string& target) {
  TResumable r;
  TJobFields f;
  f.FileName = target;
  f.Name = FileNameOf(target);
  f.FileSize = 30000;
  f.Comment = "from the list";
  TFileBytes l;
  l.Header().Int(1);
  AppendJob(l, f);
  l.Byte(2).Int(1);
  TURLFields u;
  u.URL = "http://127.0.0.1/x.bin";
  AppendURL(l, u);
  r.list = l.Str();

  f.Comment = "from the information file";
  f.StartCount = 6;
  TFileBytes i;
  i.Header();
  AppendJob(i, f);
  r.infoRecordEnd = i.Size();
  i.Int(2);
  TURLFields m1, m2;
  m1.URL = "http://127.0.0.1/mirror1/x.bin";
  m2.URL = "http://127.0.0.1/mirror2/x.bin";
  AppendURL(i, m1);
  AppendURL(i, m2);
  r.infoURLsEnd = i.Size();
  i.Int(2).Int(0).Int(100).Int(20000).Int(30000);
  r.info = i.Str();
  return r;
}

TEST(JobInformationFile, SuppliesTheMissingRangesAndReplacesTheRecord) {
  test::TTempDir dir;
  const std::string target = dir.File("x.bin");
  const TResumable files = ResumableFiles(target);
  WriteBytes(dir.File("l.mjl"), files.list);
  WriteBytes(target + ".ji", files.info);
  TJobList list;
  ASSERT_EQ(list.LoadFromFile(dir.File("l.mjl")).JobsLoaded, 1);
  const TJob& j = *list.Jobs()[0];
  EXPECT_EQ(j.Comment, "from the information file");
  EXPECT_EQ(j.StartCount, 6);
  ASSERT_EQ(j.URLs.size(), 1u);  // the list's URLs; the file's are skipped
  EXPECT_EQ(j.URLs[0].URL, "http://127.0.0.1/x.bin");
  ASSERT_EQ(j.Blocks.size(), 2u);
  EXPECT_EQ(j.Blocks[0]->StartPos, 0);
  EXPECT_EQ(j.Blocks[0]->EndPos, 100);
  EXPECT_EQ(j.Blocks[1]->StartPos, 20000);
  EXPECT_EQ(j.Blocks[1]->EndPos, 30000);
  EXPECT_EQ(j.DoneBytes, 30000 - 100 - 10000);
  EXPECT_EQ(j.Percent, 66);
  std::vector<std::uint8_t> map(15, 1);
  map[0] = 0;
  for (int c = 9; c < 15; ++c) map[static_cast<std::size_t>(c)] = 0;
  EXPECT_EQ(j.BlockMap, map);
}

TEST(JobInformationFile, ADamagedFileMakesTheJobStartOver) {
  struct Case {
    const char* what;
    std::function<void(std::string&, const TResumable&)> damage;  // nullptr: no file at all
  };
  const auto setInt = [](std::string& s, std::size_t at, std::int32_t v) {
    TFileBytes b;
    b.Int(v);
    s.replace(at, 4, b.Str());
  };
  const Case cases[] = {
      {"no information file", nullptr},
      {"not completely written", [](std::string& s, const TResumable&) { s[0] = 0; }},
      {"other format bytes", [](std::string& s, const TResumable&) { s[4] = 1; }},
      {"cut inside the header", [](std::string& s, const TResumable&) { s.resize(3); }},
      {"cut inside the job record", [](std::string& s, const TResumable& f) { s.resize(f.infoRecordEnd - 10); }},
      {"cut inside the URL records", [](std::string& s, const TResumable& f) { s.resize(f.infoURLsEnd - 1); }},
      {"cut inside the block list", [](std::string& s, const TResumable&) { s.resize(s.size() - 3); }},
      {"cut before the block count", [](std::string& s, const TResumable& f) { s.resize(f.infoURLsEnd); }},
      {"an absurd block count",
       [=](std::string& s, const TResumable& f) { setInt(s, f.infoURLsEnd, 1000000000); }},
      {"a negative block count", [=](std::string& s, const TResumable& f) { setInt(s, f.infoURLsEnd, -1); }},
      {"a negative URL count", [=](std::string& s, const TResumable& f) { setInt(s, f.infoRecordEnd, -5); }},
      {"an absurd URL count",
       [=](std::string& s, const TResumable& f) { setInt(s, f.infoRecordEnd, 2000000000); }},
      {"an empty file", [](std::string& s, const TResumable&) { s.clear(); }},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    const std::string target = dir.File("x.bin");
    const TResumable files = ResumableFiles(target);
    WriteBytes(dir.File("l.mjl"), files.list);
    if (c.damage) {
      std::string info = files.info;
      c.damage(info, files);
      WriteBytes(target + ".ji", info);
    }
    TJobList list;
    ASSERT_EQ(list.LoadFromFile(dir.File("l.mjl")).JobsLoaded, 1) << c.what;
    const TJob& j = *list.Jobs()[0];
    EXPECT_EQ(j.FileSize, 0) << c.what;
    EXPECT_TRUE(j.Blocks.empty()) << c.what;
    EXPECT_EQ(j.DoneBytes, 0) << c.what;
    EXPECT_EQ(j.Percent, 0) << c.what;
    EXPECT_TRUE(j.BlockMap.empty()) << c.what;
    EXPECT_EQ(j.Comment, "from the list") << c.what;
    EXPECT_EQ(j.URLs.size(), 1u) << c.what;
  }
}

TEST(JobInformationFile, RangesOutsideTheFileOrOverlappingAreRepaired) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::int32_t, std::int32_t>> stored, read;
  };
  const Case cases[] = {
      {"before the start and beyond the end", {{-100, 500}, {29000, 40000}}, {{0, 500}, {29000, 30000}}},
      {"overlapping ranges join", {{100, 1000}, {400, 2000}, {1500, 1800}}, {{100, 2000}}},
      {"empty and inverted ranges go", {{5000, 5000}, {7000, 6000}, {8000, 9000}}, {{8000, 9000}}},
      {"unsorted ranges are sorted", {{20000, 21000}, {0, 10}}, {{0, 10}, {20000, 21000}}},
      {"touching ranges stay apart", {{0, 10}, {10, 20}}, {{0, 10}, {10, 20}}},
      {"entirely outside", {{30000, 31000}, {-9, -1}}, {}},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    const std::string target = dir.File("x.bin");
    TResumable files = ResumableFiles(target);
    std::string info = files.info.substr(0, files.infoURLsEnd);
    TFileBytes blocks;
    blocks.Int(static_cast<std::int32_t>(c.stored.size()));
    for (const auto& [s, e] : c.stored) blocks.Int(s).Int(e);
    WriteBytes(dir.File("l.mjl"), files.list);
    WriteBytes(target + ".ji", info + blocks.Str());
    TJobList list;
    ASSERT_EQ(list.LoadFromFile(dir.File("l.mjl")).JobsLoaded, 1) << c.what;
    const TJob& j = *list.Jobs()[0];
    EXPECT_EQ(j.FileSize, 30000) << c.what;
    std::vector<std::pair<std::int32_t, std::int32_t>> read;
    std::int32_t missing = 0;
    for (const auto& b : j.Blocks) {
      read.emplace_back(b->StartPos, b->EndPos);
      missing += b->Length();
    }
    EXPECT_EQ(read, c.read) << c.what;
    EXPECT_EQ(j.DoneBytes, 30000 - missing) << c.what;
  }
}

// A list of two jobs with one URL each, built by hand, and the offsets where things end.
struct TTwoJobs {
  std::string bytes;
  std::size_t firstEnd = 0, secondRecordEnd = 0;
};

TTwoJobs TwoJobList(const std::string& folder) {
  TTwoJobs t;
  TFileBytes b;
  b.Header().Int(2);
  for (int i = 0; i < 2; ++i) {
    TJobFields f;
    f.Name = "j" + std::to_string(i);
    f.FileName = folder + f.Name;
    AppendJob(b, f);
    if (i == 1) t.secondRecordEnd = b.Size();
    b.Byte(4).Int(1);
    TURLFields u;
    u.URL = "http://127.0.0.1/" + f.Name;
    AppendURL(b, u);
    if (i == 0) t.firstEnd = b.Size();
  }
  t.bytes = b.Str();
  return t;
}

TEST(JobListFile, IncompleteOrForeignFiles) {
  struct Case {
    const char* what;
    std::function<void(std::string&, const TTwoJobs&)> change;
    std::int32_t jobs;
    std::int32_t stated = 2;  // the count the header states
  };
  const auto setCount = [](std::string& s, std::int32_t v) {
    TFileBytes b;
    b.Int(v);
    s.replace(5, 4, b.Str());
  };
  const Case cases[] = {
      {"complete", [](std::string&, const TTwoJobs&) {}, 2},
      {"not completely written", [](std::string& s, const TTwoJobs&) { s[0] = 0; }, 0, 0},
      {"a marker other than 1", [](std::string& s, const TTwoJobs&) { s[0] = 2; }, 0, 0},
      {"other format bytes", [](std::string& s, const TTwoJobs&) { s[1] = 2; }, 0, 0},
      {"other last format byte", [](std::string& s, const TTwoJobs&) { s[4] = 1; }, 0, 0},
      {"cut inside the header", [](std::string& s, const TTwoJobs&) { s.resize(3); }, 0, 0},
      {"cut inside the count", [](std::string& s, const TTwoJobs&) { s.resize(7); }, 0, 0},
      {"cut inside the second job record",
       [](std::string& s, const TTwoJobs& t) { s.resize(t.firstEnd + 500); }, 1},
      {"cut at the second job's state",
       [](std::string& s, const TTwoJobs& t) { s.resize(t.secondRecordEnd); }, 1},
      {"cut inside the second job's URL record",
       [](std::string& s, const TTwoJobs&) { s.resize(s.size() - 1); }, 1},
      {"a count beyond the jobs present", [=](std::string& s, const TTwoJobs&) { setCount(s, 3); }, 2, 3},
      {"a negative count", [=](std::string& s, const TTwoJobs&) { setCount(s, -1); }, 0, -1},
      {"an absurd URL count in the second job",
       [](std::string& s, const TTwoJobs& t) {
         TFileBytes b;
         b.Int(100000000);
         s.replace(t.secondRecordEnd + 1, 4, b.Str());
       },
       1},
      {"an empty file", [](std::string& s, const TTwoJobs&) { s.clear(); }, 0, 0},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    TTwoJobs t = TwoJobList(dir.Path());
    std::string bytes = t.bytes;
    c.change(bytes, t);
    WriteBytes(dir.File("l.mjl"), bytes);
    TJobList list;
    const TListLoadResult r = list.LoadFromFile(dir.File("l.mjl"));
    EXPECT_EQ(list.Count(), c.jobs) << c.what;
    EXPECT_EQ(r.JobsLoaded, c.jobs) << c.what;
    EXPECT_EQ(r.JobsInFile, c.stated) << c.what;
    if (c.jobs > 0) {
      EXPECT_EQ(list.Jobs()[0]->Name, "j0") << c.what;
    }
  }
}

TEST(JobListFile, StringFieldsKeepAtMost254BytesAndWholeCharacters) {
  std::string zhCrossing = "a";
  for (int i = 0; i < 100; ++i) zhCrossing += "中";  // 301 bytes; byte 254 is inside a character
  std::string zhExact = "ab";
  for (int i = 0; i < 84; ++i) zhExact += "文";  // exactly 254 bytes
  struct Case {
    const char* what;
    std::string comment, read;
  };
  const Case cases[] = {
      {"254 bytes", std::string(254, 'x'), std::string(254, 'x')},
      {"300 bytes", std::string(300, 'y'), std::string(254, 'y')},
      {"a character across byte 254", zhCrossing, zhCrossing.substr(0, 1 + 84 * 3)},
      {"254 bytes of whole characters", zhExact, zhExact},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    TJobList list;
    auto j = TJob::Create();
    j->FileName = dir.File("f");
    j->Comment = c.comment;
    list.Add(j);
    ASSERT_TRUE(list.SaveToFile(dir.File("l.mjl"))) << c.what;
    const std::string raw = Bytes(dir.File("l.mjl"));
    // The comment field starts after header, count, AlwaysRetry, StartCount, AutoSkimblers
    // and Category.
    constexpr std::size_t kCommentAt = 5 + 4 + 1 + 4 + 1 + 255;
    EXPECT_EQ(static_cast<std::uint8_t>(raw[kCommentAt]), c.read.size()) << c.what;
    TJobList back;
    ASSERT_EQ(back.LoadFromFile(dir.File("l.mjl")).JobsLoaded, 1) << c.what;
    EXPECT_EQ(back.Jobs()[0]->Comment, c.read) << c.what;
  }
}

TEST(JobListFile, TextWrittenInTheChineseWindowsCodePageIsReadAsUtf8) {
  test::TTempDir dir;
  TFileBytes b;
  b.Header().Int(1);
  TJobFields f;
  f.Comment = "\xD6\xD0\xCE\xC4";                        // GBK
  f.Name = "\xCF\xC2\xD4\xD8.zip";                       // GBK
  f.Category = "\xE8\xBD\xAF\xE4\xBB\xB6";               // already UTF-8
  AppendJob(b, f);
  b.Byte(2).Int(1);
  TURLFields u;
  u.URL = "http://127.0.0.1/a";
  u.User = "\xD3\xC3\xBB\xA7";                           // GBK
  AppendURL(b, u);
  WriteBytes(dir.File("l.mjl"), b.Str());
  TJobList list;
  ASSERT_EQ(list.LoadFromFile(dir.File("l.mjl")).JobsLoaded, 1);
  const TJob& j = *list.Jobs()[0];
  EXPECT_EQ(j.Comment, "中文");
  EXPECT_EQ(j.Name, "下载.zip");
  EXPECT_EQ(j.Category, "软件");
  EXPECT_EQ(j.URLs[0].User, "用户");
}

TEST(JobListFile, ALengthByteOf255ReadsTheFieldsText) {
  test::TTempDir dir;
  TFileBytes b;
  b.Header().Int(1);
  TJobFields f;
  AppendJob(b, f);
  b.Byte(2).Int(0);
  std::string bytes = b.Str();
  constexpr std::size_t kCommentAt = 5 + 4 + 1 + 4 + 1 + 255;
  bytes[kCommentAt] = static_cast<char>(255);
  bytes.replace(kCommentAt + 1, 254, std::string(254, 'c'));
  WriteBytes(dir.File("l.mjl"), bytes);
  TJobList list;
  ASSERT_EQ(list.LoadFromFile(dir.File("l.mjl")).JobsLoaded, 1);
  EXPECT_EQ(list.Jobs()[0]->Comment, std::string(254, 'c'));
  EXPECT_EQ(list.Jobs()[0]->Name, "");  // the next field is read where it belongs
}

TEST(JobListFile, ValuesTheEngineCannotUseAreBroughtIntoRange) {
  struct Case {
    const char* what;
    TJobFields fields;
    unsigned state;
    std::function<void(const TJob&)> check;
  };
  const auto base = [] {
    TJobFields f;
    f.Name = "n";
    return f;
  };
  auto negativeSize = base();
  negativeSize.FileSize = -5;
  auto manySkimblers = base();
  manySkimblers.SkimblerCount = 100000;
  auto noSkimblers = base();
  noSkimblers.SkimblerCount = 0;
  auto highPriority = base();
  highPriority.Priority = 200;
  auto badResume = base();
  badResume.ResumeState = 9;
  auto badDates = base();
  badDates.FileDate = std::numeric_limits<double>::quiet_NaN();
  badDates.BeginTime = 1e300;
  badDates.EndTime = -1e300;
  const Case cases[] = {
      {"a negative size", negativeSize, 2, [](const TJob& j) { EXPECT_EQ(j.FileSize, 0); }},
      {"thousands of connections", manySkimblers, 2, [](const TJob& j) { EXPECT_EQ(j.SkimblerCount, 20); }},
      {"no connection", noSkimblers, 2, [](const TJob& j) { EXPECT_EQ(j.SkimblerCount, 1); }},
      {"a priority beyond 5", highPriority, 2, [](const TJob& j) { EXPECT_EQ(j.Priority, 5); }},
      {"an unknown resume state", badResume, 2,
       [](const TJob& j) { EXPECT_EQ(j.ResumeState, TResumeState::rsUnknown); }},
      {"dates that are no dates", badDates, 2,
       [](const TJob& j) {
         EXPECT_EQ(j.FileDate, -1.0);
         EXPECT_EQ(j.BeginTime, -1.0);
         EXPECT_EQ(j.EndTime, -1.0);
       }},
      {"a running state", base(), 0, [](const TJob& j) { EXPECT_EQ(j.State, TJobState::jsStopped); }},
      {"a queued state", base(), 1, [](const TJob& j) { EXPECT_EQ(j.State, TJobState::jsStopped); }},
      {"an unknown state", base(), 77, [](const TJob& j) { EXPECT_EQ(j.State, TJobState::jsStopped); }},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    TFileBytes b;
    b.Header().Int(1);
    AppendJob(b, c.fields);
    b.Byte(c.state).Int(0);
    WriteBytes(dir.File("l.mjl"), b.Str());
    TJobList list;
    ASSERT_EQ(list.LoadFromFile(dir.File("l.mjl")).JobsLoaded, 1) << c.what;
    SCOPED_TRACE(c.what);
    c.check(*list.Jobs()[0]);
  }
}

TEST(JobListFile, TimeOutsAreKeptWithinWhatMillisecondsCanHold) {
  struct Case {
    std::int32_t stored, read;
  };
  const Case cases[] = {{60, 60}, {0, 0}, {-5, 0}, {2147483, 2147483}, {2147484, 2147483},
                        {2147483647, 2147483}};
  for (const auto& c : cases) {
    test::TTempDir dir;
    TFileBytes b;
    b.Header().Int(1);
    AppendJob(b, TJobFields{});
    b.Byte(2).Int(1);
    TURLFields u;
    u.URL = "http://127.0.0.1/a";
    u.ConnectTimeout = c.stored;
    u.DataTimeout = c.stored;
    AppendURL(b, u);
    WriteBytes(dir.File("l.mjl"), b.Str());
    TJobList list;
    ASSERT_EQ(list.LoadFromFile(dir.File("l.mjl")).JobsLoaded, 1);
    EXPECT_EQ(list.Jobs()[0]->URLs[0].ConnectTimeout, c.read) << c.stored;
    EXPECT_EQ(list.Jobs()[0]->URLs[0].DataTimeout, c.read) << c.stored;
  }
}

TEST(JobInformationFile, IsWrittenInTheLayoutWithTheLiveRanges) {
  test::TTempDir dir;
  auto j = FullJob(dir.File("v.bin"), 4);
  j->FileSize = 50000;
  j->Blocks = {std::make_shared<TBlockInfo>(TBlockInfo{100, 200, true}),
               std::make_shared<TBlockInfo>(TBlockInfo{300, 300, false}),
               std::make_shared<TBlockInfo>(TBlockInfo{40000, 50000, false})};
  ASSERT_TRUE(j->SaveInfoFile());
  const std::string raw = Bytes(j->InfoFileName());
  ASSERT_EQ(raw.size(), 5u + 1065 + 4 + 2 * 2324 + 4 + 2 * 8);
  EXPECT_EQ(raw.substr(0, 5), std::string("\x01\x01\x01\x00\x00", 5));
  TFileBytes tail;
  tail.Int(2).Int(100).Int(200).Int(40000).Int(50000);  // the empty range is left out
  EXPECT_EQ(raw.substr(raw.size() - tail.Size()), tail.Str());
  TFileBytes urlCount;
  urlCount.Int(2);
  EXPECT_EQ(raw.substr(5 + 1065, 4), urlCount.Str());
  EXPECT_EQ(raw.substr(5 + 1065 + 4 + 255, 1), "\x01");  // Auth of the first URL
  EXPECT_EQ(j->Blocks.size(), 3u);
}

TEST(JobInformationFile, NothingForAnUnknownSizeAndNoneForAFinishedJob) {
  test::TTempDir dir;
  auto j = FullJob(dir.File("w.bin"), 5);
  ASSERT_TRUE(j->SaveInfoFile());
  EXPECT_FALSE(PathExists(j->InfoFileName()));
  j->FileSize = 10;
  ASSERT_TRUE(j->SaveInfoFile());
  EXPECT_TRUE(PathExists(j->InfoFileName()));
  j->State = TJobState::jsFinished;
  ASSERT_TRUE(j->SaveInfoFile());
  EXPECT_FALSE(PathExists(j->InfoFileName()));
}

TEST(ImportJob, TakesTheJobOfAnInformationFile) {
  test::TTempDir dir;
  const std::string target = dir.File("x.bin");
  const TResumable files = ResumableFiles(target);
  WriteBytes(dir.File("picked.ji"), files.info);
  const auto job = ImportJob(dir.File("picked.ji"));
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(job->FileName, target);  // the path stored in the file
  EXPECT_EQ(job->State, TJobState::jsStopped);
  EXPECT_EQ(job->Comment, "from the information file");
  ASSERT_EQ(job->URLs.size(), 2u);
  EXPECT_EQ(job->URLs[1].URL, "http://127.0.0.1/mirror2/x.bin");
  ExpectNotMeasured(*job);
  EXPECT_EQ(job->Blocks.size(), 2u);
  EXPECT_EQ(job->DoneBytes, 19900);
  EXPECT_EQ(job->BlockMap.size(), 15u);
}

TEST(ImportJob, RefusesWhatIsNoJob) {
  test::TTempDir dir;
  const TResumable files = ResumableFiles(dir.File("x.bin"));
  std::string unfinished = files.info;
  unfinished[0] = 0;
  TFileBytes noURL;
  noURL.Header();
  TJobFields f;
  f.FileSize = 10;
  AppendJob(noURL, f);
  noURL.Int(0).Int(0);
  WriteBytes(dir.File("unfinished.ji"), unfinished);
  WriteBytes(dir.File("nourl.ji"), noURL.Str());
  WriteBytes(dir.File("j"), files.info.substr(0, 100));
  for (const char* name : {"missing.ji", "unfinished.ji", "nourl.ji", "j"})
    EXPECT_EQ(ImportJob(dir.File(name)), nullptr) << name;
}

// A file-size limit makes the next write fail part-way, like a full disk.
class TWriteLimit final {
 public:
  explicit TWriteLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TWriteLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  TWriteLimit(const TWriteLimit&) = delete;
  TWriteLimit& operator=(const TWriteLimit&) = delete;

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST(JobFiles, AFailedSaveKeepsThePreviousFiles) {
  test::TTempDir dir;
  TJobList list;
  auto a = FullJob(dir.File("a.bin"), 1);
  a->FileSize = 9000;
  a->Blocks = {std::make_shared<TBlockInfo>(TBlockInfo{0, 9000, false})};
  list.Add(a);
  const std::string path = dir.File("l.mjl");
  ASSERT_TRUE(list.SaveToFile(path));
  const std::string oldList = Bytes(path), oldInfo = Bytes(a->InfoFileName());
  const auto entries = FolderEntries(dir.Path());

  list.Add(FullJob(dir.File("b.bin"), 2));
  a->Blocks = {std::make_shared<TBlockInfo>(TBlockInfo{0, 10, false})};
  a->URLs.push_back(FullURL("http://127.0.0.1/c", 3));
  {
    TWriteLimit limit(oldList.size() + 100);
    EXPECT_FALSE(list.SaveToFile(path));
    EXPECT_FALSE(a->SaveInfoFile());
  }
  EXPECT_EQ(Bytes(path), oldList);
  EXPECT_EQ(Bytes(a->InfoFileName()), oldInfo);
  EXPECT_EQ(FolderEntries(dir.Path()), entries);  // no temporary file left behind
  TJobList back;
  EXPECT_EQ(back.LoadFromFile(path).JobsLoaded, 1);

  ASSERT_TRUE(list.SaveToFile(path));
  EXPECT_EQ(back.LoadFromFile(path).JobsLoaded, 2);  // appended to the one already there
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::none);
}

}  // namespace
}  // namespace nsk
