// SPDX-License-Identifier: GPL-2.0-or-later
// netskimbler-cli fetch, the built program, against nginx and tinyproxy on loopback.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/net/nginx.h"
#include "tests/support/net/squid.h"
#include "tests/support/net/tinyproxy.h"
#include "tests/support/net/vsftpd.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct TRun {
  int status = -1;
  std::string out, err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs netskimbler-cli with args; standard output and error are collected in dir.
TRun RunCli(const test::TTempDir& dir, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {NSK_CLI_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargs;
  for (auto& a : argv) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  const std::string out = dir.File("stdout"), err = dir.File("stderr");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::execv(cargs[0], cargs.data());
    ::_exit(127);
  }
  TRun r;
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

std::string RandomBytes(std::size_t n) {
  std::mt19937 gen(5);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

class FetchCommand : public ::testing::Test {
 protected:
  static test::TNginxOptions Options() {
    test::TNginxOptions o;
    o.Second = test::TNginxSite{};
    o.Second->NoRanges = true;
    return o;
  }
  void SetUp() override {
    nginx_.AddFile("file.bin", data_);
    const std::string path = nginx_.DocRoot() + "file.bin";
    const timespec times[2] = {{1614834367, 0}, {1614834367, 0}};  // 2021-03-04 05:06:07 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  const std::string data_ = RandomBytes(2 * 1024 * 1024 + 99);
  test::TNginx nginx_{Options()};
  test::TTempDir dir_;
};

TEST_F(FetchCommand, AWholeFileWithWhatWasLearnt) {
  const std::string target = dir_.File("whole.bin");
  WriteFile(target, std::string(5 * 1024 * 1024, 'x'));  // an older, longer file is replaced
  const TRun r = RunCli(dir_, {"fetch", nginx_.Url("file.bin"), target});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFile(target) == data_);
  EXPECT_THAT(r.out, HasSubstr("Size: " + std::to_string(data_.size()) + "\n"));
  EXPECT_THAT(r.out, HasSubstr("Resume: yes\n"));
  EXPECT_THAT(r.out, HasSubstr("FileDate: 2021-03-04 05:06:07\n"));
  EXPECT_THAT(r.err, HasSubstr("[state] 主机连接完毕\n"));
  EXPECT_THAT(r.err, HasSubstr("[command] GET /file.bin HTTP/1.1\n"));
  EXPECT_THAT(r.err, HasSubstr("[server] HTTP/1.1 200 OK\n"));
}

TEST_F(FetchCommand, TheBodyOfARangedFetchGoesToItsOffset) {
  const std::size_t from = 1000001;
  struct Case {
    bool mirror;  // ignores ranges: the whole file comes and goes to byte 0
    const char* resume;
  };
  for (const Case c : {Case{false, "Resume: yes\n"}, Case{true, "Resume: no\n"}}) {
    SCOPED_TRACE(c.mirror);
    const std::string target = dir_.File("part.bin");
    WriteFile(target, data_.substr(0, from));
    const TRun r = RunCli(dir_, {"fetch", "--from", std::to_string(from),
                                 nginx_.Url("file.bin", c.mirror), target});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(target) == data_);
    EXPECT_THAT(r.out, HasSubstr(c.resume));
    EXPECT_THAT(r.err, HasSubstr("[command] Range: bytes=" + std::to_string(from) + "-\n"));
    EXPECT_THAT(r.out, HasSubstr("Received: " + std::to_string(c.mirror ? data_.size()
                                                                         : data_.size() - from)));
  }
}

TEST_F(FetchCommand, StandardOutputGetsTheBodyAndStandardErrorTheRest) {
  const TRun r = RunCli(dir_, {"fetch", "--from", "10", nginx_.Url("file.bin"), "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == data_.substr(10));
  EXPECT_THAT(r.err, HasSubstr("Size: " + std::to_string(data_.size()) + "\n"));
}

TEST_F(FetchCommand, AFailedGetExitsWithItsText) {
  const TRun r = RunCli(dir_, {"fetch", nginx_.Url("missing.bin"), dir_.File("missing.bin")});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("[error] 客户或服务器端错误\n"));
  EXPECT_THAT(r.err, HasSubstr("fetch failed: 下载失败\n"));
}

TEST_F(FetchCommand, ThroughAnHttpProxy) {
  test::TTinyproxy proxy;
  const std::string target = dir_.File("proxied.bin");
  const TRun r = RunCli(dir_, {"fetch", "--proxy", "127.0.0.1:" + std::to_string(proxy.Port()),
                               nginx_.Url("file.bin"), target});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFile(target) == data_);
  EXPECT_THAT(r.err, HasSubstr("[command] GET " + nginx_.Url("file.bin") + " HTTP/1.1\n"));
  EXPECT_THAT(r.err, HasSubstr("[state] 代理服务器连接完毕\n"));
}

TEST_F(FetchCommand, BadArgumentsAreExplained) {
  const std::string url = nginx_.Url("file.bin");
  const std::string file = dir_.File("never.bin");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"fetch"}, "fetch wants a URL and a FILE"},
      {{"fetch", url}, "fetch wants a URL and a FILE"},
      {{"fetch", url, file, "extra"}, "fetch wants a URL and a FILE"},
      {{"fetch", "--from", "x", url, file}, "--from wants a byte offset"},
      {{"fetch", "--from", "-1", url, file}, "--from wants a byte offset"},
      {{"fetch", "--from", "2147483648", url, file}, "--from wants a byte offset"},
      {{"fetch", url, file, "--from"}, "--from needs a number"},
      {{"fetch", "--proxy", "nohost", url, file}, "--proxy wants HOST:PORT"},
      {{"fetch", "--proxy", "127.0.0.1:0", url, file}, "--proxy wants HOST:PORT"},
      {{"fetch", "--proxy", "127.0.0.1:65536", url, file}, "--proxy wants HOST:PORT"},
      {{"fetch", "--password", "p", url, file}, "--password needs --user"},
      {{"fetch", "--passive", "--active", url, file}, "exclude each other"},
      {{"fetch", "--verbose", url, file}, "unknown option \"--verbose\""},
      {{"fetch", "file:///etc/passwd", file}, "only http:// and ftp:// URLs"},
  };
  for (const auto& [args, message] : cases) {
    const TRun r = RunCli(dir_, args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_THAT(r.err, HasSubstr(message));
    EXPECT_THAT(r.err, HasSubstr("usage: netskimbler-cli fetch"));
  }
  EXPECT_NE(::access(file.c_str(), F_OK), 0);  // nothing was created
  // A port in the URL that is not a number fails before connecting.
  const TRun r = RunCli(dir_, {"fetch", "http://127.0.0.1:8o/x", file});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("'8o' is not a valid integer value"));
  EXPECT_THAT(r.err, Not(HasSubstr("[state]")));
}

TEST_F(FetchCommand, AnFtpUrlWithTheFtpClientPassiveAndActive) {
  test::TVsftpd ftp;
  ftp.AddFile("pub/file.bin", data_);
  const std::size_t from = 777777;
  for (const char* mode : {"--passive", "--active"}) {
    SCOPED_TRACE(mode);
    const std::string target = dir_.File(std::string("ftp") + mode + ".bin");
    WriteFile(target, data_.substr(0, from));
    const TRun r = RunCli(dir_, {"fetch", mode, "--from", std::to_string(from),
                                 ftp.Url("pub/file.bin"), target});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(target) == data_);
    EXPECT_THAT(r.out, HasSubstr("Size: " + std::to_string(data_.size()) + "\n"));
    EXPECT_THAT(r.out, HasSubstr("Resume: yes\n"));
    EXPECT_THAT(r.err, HasSubstr("[command] USER anonymous\n"));
    EXPECT_THAT(r.err, HasSubstr("[command] REST " + std::to_string(from) + "\n"));
    EXPECT_THAT(r.err, HasSubstr(std::string("[command] ") +
                                 (mode == std::string("--passive") ? "PASV" : "PORT ")));
    EXPECT_THAT(r.err, HasSubstr("[command] RETR " + ftp.Path("pub/file.bin") + "\n"));
  }
  const TRun missing = RunCli(dir_, {"fetch", ftp.Url("pub/none.bin"), dir_.File("none.bin")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("fetch failed: Ftp响应错误\n"));
}

TEST_F(FetchCommand, AnFtpUrlThroughAnHttpProxyGoesWithTheHttpClient) {
  test::TVsftpd ftp;
  ftp.AddFile("pub/file.bin", data_);
  test::TSquid squid;
  const std::string target = dir_.File("squid.bin");
  const TRun r = RunCli(dir_, {"fetch", "--proxy", "127.0.0.1:" + std::to_string(squid.Port()),
                               ftp.Url("pub/file.bin"), target});
  EXPECT_EQ(r.status, 0) << r.err << squid.Diagnostics();
  EXPECT_TRUE(ReadFile(target) == data_);
  EXPECT_THAT(r.err, HasSubstr("[command] GET " + ftp.Url("pub/file.bin") + " HTTP/1.1\n"));
}

}  // namespace
}  // namespace nsk
