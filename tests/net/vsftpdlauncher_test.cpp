// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/net/vsftpd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace nsk::test {
namespace {

int Dial(std::uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{10, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

// A plain blocking FTP conversation, independent of the client under test.
class TRawFtp final {
 public:
  explicit TRawFtp(std::uint16_t port) : fd_(Dial(port)) {}
  ~TRawFtp() {
    if (fd_ >= 0) ::close(fd_);
  }
  TRawFtp(const TRawFtp&) = delete;
  TRawFtp& operator=(const TRawFtp&) = delete;

  // The last line of the next reply (a multi-line reply is read through its end).
  std::string Reply() {
    for (;;) {
      const std::string line = Line();
      if (line.size() < 4 || line[3] != '-') return line;
    }
  }
  std::string Command(const std::string& command) {
    const std::string text = command + "\r\n";
    ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    return Reply();
  }
  // PASV, then the command; the whole data connection's content.
  std::string Retrieve(const std::string& command) {
    const std::string pasv = Command("PASV");
    int h1, h2, h3, h4, p1, p2;
    if (std::sscanf(pasv.c_str(), "227 %*[^(](%d,%d,%d,%d,%d,%d)", &h1, &h2, &h3, &h4, &p1, &p2) != 6)
      return "(bad PASV reply: " + pasv + ")";
    const int data = Dial(static_cast<std::uint16_t>(p1 * 256 + p2));
    const std::string started = Command(command);
    if (started.substr(0, 3) != "150") {
      ::close(data);
      return "(" + started + ")";
    }
    std::string content;
    char buf[65536];
    for (ssize_t n; (n = ::recv(data, buf, sizeof buf, 0)) > 0;) content.append(buf, n);
    ::close(data);
    last_ = Reply();
    return content;
  }
  const std::string& LastReply() const { return last_; }

 private:
  std::string Line() {
    std::string line;
    char c;
    while (::recv(fd_, &c, 1, 0) == 1) {
      if (c == '\n') break;
      if (c != '\r') line += c;
    }
    return line;
  }
  int fd_;
  std::string last_;
};

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 131 + i / 7);
  return s;
}

TEST(VsftpdLauncher, ServesAnonymousLoginsWithRestAndSize) {
  TVsftpd ftp;
  const std::string content = Pattern(200000);
  ftp.AddFile("dir/file.bin", content);
  EXPECT_EQ(ftp.Url("dir/file.bin"),
            "ftp://127.0.0.1:" + std::to_string(ftp.Port()) + ftp.Path("dir/file.bin"));

  TRawFtp c(ftp.Port());
  EXPECT_EQ(c.Reply().substr(0, 4), "220 ");
  EXPECT_EQ(c.Command("USER anonymous").substr(0, 4), "331 ");  // a password is asked for
  EXPECT_EQ(c.Command("PASS guest@").substr(0, 4), "230 ");
  EXPECT_EQ(c.Command("TYPE I").substr(0, 4), "200 ");
  EXPECT_EQ(c.Command("SIZE " + ftp.Path("dir/file.bin")), "213 200000");
  EXPECT_EQ(c.Retrieve("RETR " + ftp.Path("dir/file.bin")), content);
  EXPECT_EQ(c.LastReply().substr(0, 4), "226 ");
  // A restart position holds through other commands until the next retrieval.
  EXPECT_EQ(c.Command("REST 199990").substr(0, 4), "350 ");
  EXPECT_EQ(c.Command("TYPE I").substr(0, 4), "200 ");
  EXPECT_EQ(c.Retrieve("RETR " + ftp.Path("dir/file.bin")), content.substr(199990));
  EXPECT_EQ(c.Command("SIZE " + ftp.Path("missing")).substr(0, 4), "550 ");
}

TEST(VsftpdLauncher, ServesTheUserLoginOnly) {
  TVsftpdOptions options;
  options.UserLogin = true;
  TVsftpd ftp(options);
  ftp.AddFile("u.bin", "for the user", true);
  ftp.AddFile("a.bin", "for everybody");

  TRawFtp user(ftp.Port());
  user.Reply();
  EXPECT_EQ(user.Command(std::string("USER ") + TVsftpd::kUser).substr(0, 4), "331 ");
  EXPECT_EQ(user.Command(std::string("PASS ") + TVsftpd::kPassword).substr(0, 4), "230 ");
  EXPECT_EQ(user.Retrieve("RETR " + ftp.Path("u.bin", true)), "for the user");

  TRawFtp other(ftp.Port());
  other.Reply();
  EXPECT_EQ(other.Command("USER someoneelse").substr(0, 4), "530 ");

  TRawFtp anonymous(ftp.Port());
  anonymous.Reply();
  anonymous.Command("USER anonymous");
  EXPECT_EQ(anonymous.Command("PASS x@").substr(0, 4), "230 ");
  EXPECT_EQ(anonymous.Retrieve("RETR " + ftp.Path("a.bin")), "for everybody");
}

TEST(VsftpdLauncher, StopEndsTheServerAndFreesItsPort) {
  auto ftp = std::make_unique<TVsftpd>();
  const std::uint16_t port = ftp->Port();
  const pid_t pid = ftp->Pid();
  ASSERT_TRUE(AcceptsConnections(port));
  ftp.reset();
  EXPECT_FALSE(AcceptsConnections(port));
  EXPECT_NE(::kill(pid, 0), 0);
}

TEST(VsftpdLauncher, AServerThatCannotStartSaysWhy) {
  TVsftpdOptions options;
  options.Extra.push_back("no_such_option=YES");
  try {
    TVsftpd ftp(options);
    ADD_FAILURE() << "vsftpd started with a broken configuration";
  } catch (const std::runtime_error& e) {
    const std::string why = e.what();
    EXPECT_NE(why.find("vsftpd did not start"), std::string::npos) << why;
    EXPECT_NE(why.find("no_such_option"), std::string::npos) << why;
  }
}

}  // namespace
}  // namespace nsk::test
