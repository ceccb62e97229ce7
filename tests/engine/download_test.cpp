// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs downloaded for real: the engine's threads against nginx and vsftpd on loopback.
#include <gtest/gtest.h>

#include "engine/monitorcommands.h"
#include "platform/fileops.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/filedata.h"
#include "tests/support/net/nginx.h"

namespace nsk::test {
namespace {

class DownloadTest : public TEngineTest {};

TEST_F(DownloadTest, SmallFileFromNginx) {
  TNginx nginx;
  const std::string data = PatternBytes(300000);
  nginx.AddFile("a.bin", data);
  StartEngine();
  auto job = MakeJob({nginx.Url("a.bin")}, "a.bin", TJobState::jsQueued);
  job->SkimblerCount = 3;
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(WaitForState(job, TJobState::jsFinished));
  EXPECT_EQ(ReadWholeFile(home.File("a.bin")), data);
  EXPECT_FALSE(PathExists(home.File("a.bin.wyn")));
}

}  // namespace
}  // namespace nsk::test
