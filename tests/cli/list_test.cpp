// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "engine/joblist.h"
#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "tests/support/process.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

test::TProgramResult List(const std::vector<std::string>& args, const std::string& home) {
  std::vector<std::string> argv = {NSK_CLI_PATH, "list"};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::RunProgram(argv, {"NETSKIMBLER_HOME=" + home});
}

std::shared_ptr<TJob> MakeJob(const std::string& folder, const std::string& name,
                              TJobState state, std::int32_t size) {
  auto job = TJob::Create();
  job->FileName = folder + name;
  job->Name = name;
  job->State = state;
  job->FileSize = size;
  job->Priority = 4;
  job->SkimblerCount = 8;
  TURLInfo url;
  url.URL = "http://127.0.0.1:8080/" + name;
  job->URLs.push_back(url);
  url.URL = "ftp://127.0.0.1/pub/" + name;
  job->URLs.push_back(url);
  return job;
}

// A finished job and a stopped one with two missing ranges, saved as the program saves.
std::string SaveSampleList(const test::TTempDir& dir) {
  TJobList list;
  list.Add(MakeJob(dir.Path(), "done.iso", TJobState::jsFinished, 10000));
  auto stopped = MakeJob(dir.Path(), "half \"zip\".zip", TJobState::jsStopped, 100000);
  stopped->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{2048, 4096, false}));
  stopped->Blocks.push_back(std::make_shared<TBlockInfo>(TBlockInfo{90000, 100000, false}));
  list.Add(stopped);
  const std::string path = dir.File("sample.mjl");
  EXPECT_TRUE(list.SaveToFile(path));
  return path;
}

TEST(ListCommand, JsonShowsJobsAndTheirMissingRanges) {
  test::TTempDir dir;
  const std::string path = SaveSampleList(dir);
  const auto r = List({"--json", path}, dir.Path());
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const std::string folder = dir.Path();
  const std::string want =
      "{\n"
      "  \"file\": \"" + path + "\",\n"
      "  \"complete\": true,\n"
      "  \"jobs\": [\n"
      "    {\n"
      "      \"state\": \"finished\",\n"
      "      \"name\": \"done.iso\",\n"
      "      \"target\": \"" + folder + "done.iso\",\n"
      "      \"category\": \"\",\n"
      "      \"comment\": \"\",\n"
      "      \"size\": 10000,\n"
      "      \"doneBytes\": 10000,\n"
      "      \"percent\": 100,\n"
      "      \"priority\": 4,\n"
      "      \"connections\": 8,\n"
      "      \"autoConnections\": false,\n"
      "      \"resume\": \"unknown\",\n"
      "      \"startCount\": 0,\n"
      "      \"fileDate\": null,\n"
      "      \"urls\": [\n"
      "        \"http://127.0.0.1:8080/done.iso\",\n"
      "        \"ftp://127.0.0.1/pub/done.iso\"\n"
      "      ],\n"
      "      \"resumesFromInfoFile\": false,\n"
      "      \"missing\": [],\n"
      "      \"missingBytes\": 0\n"
      "    },\n"
      "    {\n"
      "      \"state\": \"stopped\",\n"
      "      \"name\": \"half \\\"zip\\\".zip\",\n"
      "      \"target\": \"" + folder + "half \\\"zip\\\".zip\",\n"
      "      \"category\": \"\",\n"
      "      \"comment\": \"\",\n"
      "      \"size\": 100000,\n"
      "      \"doneBytes\": 87952,\n"
      "      \"percent\": 88,\n"
      "      \"priority\": 4,\n"
      "      \"connections\": 8,\n"
      "      \"autoConnections\": false,\n"
      "      \"resume\": \"unknown\",\n"
      "      \"startCount\": 0,\n"
      "      \"fileDate\": null,\n"
      "      \"urls\": [\n"
      "        \"http://127.0.0.1:8080/half \\\"zip\\\".zip\",\n"
      "        \"ftp://127.0.0.1/pub/half \\\"zip\\\".zip\"\n"
      "      ],\n"
      "      \"resumesFromInfoFile\": true,\n"
      "      \"missing\": [\n"
      "        {\n"
      "          \"start\": 2048,\n"
      "          \"end\": 4096\n"
      "        },\n"
      "        {\n"
      "          \"start\": 90000,\n"
      "          \"end\": 100000\n"
      "        }\n"
      "      ],\n"
      "      \"missingBytes\": 12048\n"
      "    }\n"
      "  ]\n"
      "}\n";
  EXPECT_EQ(r.Out, want);
}

TEST(ListCommand, TextNamesStateSizeURLsAndRanges) {
  test::TTempDir dir;
  const auto r = List({SaveSampleList(dir)}, dir.Path());
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  for (const char* part :
       {"2 jobs", "[finished] done.iso", "[stopped] half \"zip\".zip", "100000 bytes, 87952 done (88%)",
        "priority:    4   connections: 8", "URL[1]:      ftp://127.0.0.1/pub/done.iso",
        "2 ranges, 12048 bytes", "[2048, 4096)  2048 bytes", "[90000, 100000)  10000 bytes"})
    EXPECT_NE(r.Out.find(part), std::string::npos) << part << "\n" << r.Out;
}

TEST(ListCommand, MissingInformationFileMeansStartingOver) {
  test::TTempDir dir;
  const std::string path = SaveSampleList(dir);
  ASSERT_TRUE(RemoveFile(dir.File("half \"zip\".zip.ji")));
  const auto r = List({path}, dir.Path());
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("missing:     everything"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("size:        unknown"), std::string::npos) << r.Out;
}

TEST(ListCommand, DefaultIsTheCurrentListOfTheSettings) {
  test::TTempDir dir;
  const std::string saved = SaveSampleList(dir);
  ASSERT_TRUE(MoveFile(saved, dir.File("skimbler.mjl")));
  const auto r = List({"--json"}, dir.Path());
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("\"file\": \"" + dir.File("skimbler.mjl") + "\""), std::string::npos);
  EXPECT_NE(r.Out.find("\"name\": \"done.iso\""), std::string::npos);

  test::TTempDir empty;
  const auto first = List({"--json"}, empty.Path());
  EXPECT_EQ(first.ExitCode, 0);
  EXPECT_NE(first.Out.find("\"jobs\": []"), std::string::npos) << first.Out;
}

TEST(ListCommand, BadInputGivesAMessageAndFailure) {
  test::TTempDir dir;
  const std::string good = *ReadWholeFile(SaveSampleList(dir));
  std::string marker0 = good;
  marker0[0] = '\0';
  std::string format = good;
  format[3] = '\x07';
  struct Case { const char* name; std::string bytes; const char* message; int exit; };
  const Case cases[] = {
      {"marker0.mjl", marker0, "not a complete job list", 1},
      {"format.mjl", format, "not a complete job list", 1},
      {"short.mjl", good.substr(0, 3), "not a complete job list", 1},
      {"empty.mjl", "", "not a complete job list", 1},
      {"cut.mjl", good.substr(0, 9 + 1065 + 1 + 4 + 2 * 2324 + 500), "breaks off after 1 of its 2",
       1},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteFileAtomically(dir.File(c.name), c.bytes));
    const auto r = List({dir.File(c.name)}, dir.Path());
    EXPECT_EQ(r.ExitCode, c.exit) << c.name;
    EXPECT_NE(r.Err.find(c.message), std::string::npos) << c.name << ": " << r.Err;
  }
  const auto cut = List({dir.File("cut.mjl")}, dir.Path());
  EXPECT_NE(cut.Out.find("[finished] done.iso"), std::string::npos) << cut.Out;

  const auto missing = List({dir.File("nothing.mjl")}, dir.Path());
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_NE(missing.Err.find("does not exist"), std::string::npos) << missing.Err;
  const auto folder = List({dir.Path()}, dir.Path());
  EXPECT_EQ(folder.ExitCode, 1);
  EXPECT_NE(folder.Err.find("is a folder"), std::string::npos) << folder.Err;
  const auto usage = List({"--bogus"}, dir.Path());
  EXPECT_EQ(usage.ExitCode, 2);
}

}  // namespace
}  // namespace nsk
