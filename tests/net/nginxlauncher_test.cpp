// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/net/nginx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

namespace nsk::test {
namespace {

// One request over a plain blocking socket; the whole answer, head and body.
std::string Fetch(std::uint16_t port, const std::string& request) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{10, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::send(s, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    char buf[65536];
    for (ssize_t n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;) answer.append(buf, n);
  }
  ::close(s);
  return answer;
}

std::string Get(std::uint16_t port, const std::string& path, const std::string& extra = "") {
  return Fetch(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra +
                         "Connection: close\r\n\r\n");
}

std::string Body(const std::string& answer) {
  const auto end = answer.find("\r\n\r\n");
  return end == std::string::npos ? "" : answer.substr(end + 4);
}

TEST(NginxLauncher, ServesFilesRangesRedirectsAndAMirror) {
  TNginxOptions options;
  options.Site.Redirects.push_back({"/old.bin", "/new.bin", 302});
  options.Second = TNginxSite{};
  options.Second->NoRanges = true;
  TNginx nginx(options);
  const std::string content(100000, 'z');
  nginx.AddFile("dir/file.bin", content);
  EXPECT_EQ(nginx.Url("dir/file.bin"), "http://127.0.0.1:" + std::to_string(nginx.Port()) +
                                           "/dir/file.bin");

  const std::string whole = Get(nginx.Port(), "/dir/file.bin");
  EXPECT_EQ(whole.substr(0, 15), "HTTP/1.1 200 OK") << whole.substr(0, 200);
  EXPECT_NE(whole.find("Accept-Ranges: bytes"), std::string::npos);
  EXPECT_EQ(Body(whole), content);

  const std::string part = Get(nginx.Port(), "/dir/file.bin", "Range: bytes=99990-\r\n");
  EXPECT_EQ(part.substr(0, 12), "HTTP/1.1 206");
  EXPECT_NE(part.find("Content-Range: bytes 99990-99999/100000"), std::string::npos);
  EXPECT_EQ(Body(part), std::string(10, 'z'));

  const std::string moved = Get(nginx.Port(), "/old.bin");
  EXPECT_EQ(moved.substr(0, 12), "HTTP/1.1 302");
  EXPECT_NE(moved.find("/new.bin\r\n"), std::string::npos) << moved;

  // The mirror serves the same root and ignores ranges.
  const std::string mirror = Get(nginx.SecondPort(), "/dir/file.bin", "Range: bytes=99990-\r\n");
  EXPECT_EQ(mirror.substr(0, 12), "HTTP/1.1 200");
  EXPECT_EQ(mirror.find("Content-Range"), std::string::npos);
  EXPECT_EQ(Body(mirror), content);

  EXPECT_EQ(Get(nginx.Port(), "/missing").substr(0, 12), "HTTP/1.1 404");
}

TEST(NginxLauncher, StopEndsTheServerAndFreesItsPort) {
  auto nginx = std::make_unique<TNginx>();
  const std::uint16_t port = nginx->Port();
  const pid_t pid = nginx->Pid();
  ASSERT_TRUE(AcceptsConnections(port));
  nginx.reset();
  EXPECT_FALSE(AcceptsConnections(port));
  EXPECT_NE(::kill(pid, 0), 0);  // reaped, not a zombie
}

TEST(NginxLauncher, AServerThatCannotStartSaysWhy) {
  TNginxOptions options;
  options.Site.Extra = "no_such_directive on;";
  try {
    TNginx nginx(options);
    ADD_FAILURE() << "nginx started with a broken configuration";
  } catch (const std::runtime_error& e) {
    const std::string why = e.what();
    EXPECT_NE(why.find("nginx did not start"), std::string::npos) << why;
    EXPECT_NE(why.find("no_such_directive"), std::string::npos) << why;
  }
}

}  // namespace
}  // namespace nsk::test
