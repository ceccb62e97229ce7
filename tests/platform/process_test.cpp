// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/atomicfile.h"
#include "platform/fileops.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

// The file's content once the program wrote it (it runs on its own, so the test waits).
std::optional<std::string> WaitForFile(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (const auto text = ReadWholeFile(path); text && !text->empty() && text->back() == '\n')
      return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

TEST(StartDetached, RunsTheProgramWithEachArgumentWholeAndLeavesNoChild) {
  test::TTempDir dir;
  const std::string out = dir.File("out.txt");
  // The script writes the arguments after its first one, one per line.
  const std::string script = dir.File("show.sh");
  WriteFileAtomically(script,
                      "#!/bin/sh\nout=\"$1\"; shift\nfor a in \"$@\"; do echo \"[$a]\"; done > \"$out.tmp\"\n"
                      "mv \"$out.tmp\" \"$out\"\n",
                      0755);
  ASSERT_EQ(StartDetached(script, {out, dir.File("a file with blanks.bin"), "-x", ""}), 0);
  // The intermediate child is reaped already and the program is not a child of this process.
  int status = 0;
  errno = 0;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  const auto text = WaitForFile(out);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "[" + dir.File("a file with blanks.bin") + "]\n[-x]\n[]\n");
}

TEST(StartDetached, FindsProgramsInThePathAndReportsWhatCannotRun) {
  test::TTempDir dir;
  EXPECT_FALSE(FindInPath("sh").empty());
  EXPECT_EQ(StartDetached("sh", {"-c", "exit 0"}), 0);
  EXPECT_EQ(StartDetached("no-such-program-of-netskimbler", {}), ENOENT);
  EXPECT_EQ(StartDetached(dir.File("missing"), {}), ENOENT);
  const std::string plain = dir.File("plain.txt");
  WriteFileAtomically(plain, "not a program", 0644);
  EXPECT_EQ(StartDetached(plain, {}), EACCES);
  EXPECT_EQ(StartDetached("", {}), ENOENT);
}

}  // namespace
}  // namespace nsk
