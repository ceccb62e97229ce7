// SPDX-License-Identifier: GPL-2.0-or-later
// The FTP client against scripted servers: the dialogues real servers will not produce.
#include "net/wynftp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "net/wynhttp.h"
#include "tests/net/ftptrace.h"
#include "tests/support/net/scriptedserver.h"

namespace nsk::test {
namespace {

using namespace std::chrono_literals;

constexpr char kPath[] = "/pub/file.bin";
constexpr char kUser[] = "anonymous";
constexpr char kPassword[] = "me@example.org";

std::string Pattern(std::size_t n, int seed = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251 + seed) % 26);
  return s;
}

// Sends text cut into a few pieces, as the network may deliver it; each piece goes out at
// once, in a segment of its own.
void SendInPieces(TPeerConnection& c, const std::string& text) {
  const int on = 1;
  ::setsockopt(c.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::vector<std::size_t> cuts;
  for (std::size_t cut : {std::size_t(1), std::size_t(4), text.size() / 2})
    if (cut < text.size() && (cuts.empty() || cut > cuts.back())) cuts.push_back(cut);
  c.SendSplit(text, cuts, 1ms);
}

// One exchange of a scripted dialogue: the command the client must send (without CR LF; a
// final "*" matches any rest of the line), then the reply, then what the server does next.
struct TStep {
  std::string Command;
  std::string Reply;
  TScript After = {};
  std::chrono::milliseconds Delay{0};  // before the reply
};

void ExpectCommand(TPeerConnection& c, const std::string& want) {
  if (want.empty() || want.back() != '*') {
    c.Expect(want);
    return;
  }
  const std::string got = c.ReadLine();
  const std::string prefix = want.substr(0, want.size() - 1);
  if (got.compare(0, prefix.size(), prefix) != 0)
    ADD_FAILURE() << "scripted server: expected \"" << want << "\", got \"" << got << "\"";
}

// The greeting, the steps, and then the connection is held until the client closes it (the
// client keeps it open after a Get). A client that sends more than the steps expect, or too
// little, fails the test.
TScript Dialog(std::string greeting, std::vector<TStep> steps) {
  return [greeting, steps](TPeerConnection& c) {
    SendInPieces(c, greeting);
    for (const auto& s : steps) {
      ExpectCommand(c, s.Command);
      if (s.Delay.count() > 0) c.Pause(s.Delay);
      SendInPieces(c, s.Reply);
      if (s.After) s.After(c);
    }
    c.WaitForClientClose(30s);
  };
}

// A data connection script that the client may drop at any moment (after an abort, a
// time-out or a refused command it resets the connection): that is no failure of the server.
TScript Droppable(TScript script) {
  return [script](TPeerConnection& c) {
    try {
      script(c);
    } catch (const EPeerError&) {
    }
  };
}

std::string PasvReply(std::uint16_t port, const std::string& host = "127,0,0,1") {
  return "227 Entering Passive Mode (" + host + "," + std::to_string(port / 256) + "," +
         std::to_string(port % 256) + ").\r\n";
}

std::vector<TStep> LoginSteps() {
  return {{std::string("USER ") + kUser, "331 Please specify the password.\r\n"},
          {std::string("PASS ") + kPassword, "230 Login successful.\r\n"}};
}

// Indexes of the steps of a whole retrieval.
enum : std::size_t { kUserStep, kPassStep, kProbe, kType1, kSize, kType2, kOpen, kRest, kRetr };

std::vector<TStep> PassiveSteps(std::uint16_t dataPort, std::int32_t offset,
                                const std::string& path = kPath) {
  auto steps = LoginSteps();
  steps.insert(steps.end(),
               {{"REST 100", "350 Restart position accepted (100).\r\n"},
                {"TYPE I", "200 Switching to Binary mode.\r\n"},
                {"SIZE " + path, "213 5000\r\n"},
                {"TYPE I", "200 Switching to Binary mode.\r\n"},
                {"PASV", PasvReply(dataPort)},
                {"REST " + std::to_string(offset), "350 Restart position accepted.\r\n"},
                // The final reply may come early: the client reads it after the data.
                {"RETR " + path, "150 Opening BINARY mode data connection.\r\n226 Transfer complete.\r\n"}});
  return steps;
}

std::vector<std::string> Commands(const std::vector<TStep>& steps) {
  std::vector<std::string> out;
  for (const auto& s : steps) out.push_back(s.Command);
  return out;
}

// The server side of an active data connection: it connects to the port the client named.
struct TActiveData {
  std::atomic<int> port{0};
};

int DialLoopback(std::uint16_t port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{10, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ADD_FAILURE() << "cannot connect to the client's data port " << port;
    ::close(s);
    return -1;
  }
  return s;
}

void SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Waits until the client closes the data connection (what it sends is dropped).
void AwaitClose(int fd) {
  char buf[4096];
  while (::recv(fd, buf, sizeof buf, 0) > 0) {
  }
}

enum class TAfterData { Close, HoldOpen };

std::vector<TStep> ActiveSteps(std::shared_ptr<TActiveData> data, std::string content,
                               std::int32_t offset, TAfterData after = TAfterData::Close) {
  auto steps = LoginSteps();
  steps.insert(steps.end(),
               {{"REST 100", "350 Restart position accepted (100).\r\n"},
                {"TYPE I", "200 Switching to Binary mode.\r\n"},
                {std::string("SIZE ") + kPath, "213 5000\r\n"},
                {"TYPE I", "200 Switching to Binary mode.\r\n"},
                {"PORT 127,0,0,1,*", "200 PORT command successful.\r\n",
                 [data](TPeerConnection& c) {
                   int h1, h2, h3, h4, p1, p2;
                   if (std::sscanf(c.LastLine().c_str(), "PORT %d,%d,%d,%d,%d,%d", &h1, &h2, &h3,
                                   &h4, &p1, &p2) == 6)
                     data->port = p1 * 256 + p2;
                 }},
                {"REST " + std::to_string(offset), "350 Restart position accepted.\r\n"},
                {std::string("RETR ") + kPath, "150 Opening BINARY mode data connection.\r\n",
                 [data, content, after](TPeerConnection& c) {
                   const int fd = DialLoopback(static_cast<std::uint16_t>(data->port.load()));
                   if (fd < 0) return;
                   SendAll(fd, content);
                   if (after == TAfterData::HoldOpen) AwaitClose(fd);
                   ::close(fd);
                   if (after == TAfterData::Close) c.Send("226 Transfer complete.\r\n");
                 }}});
  return steps;
}

std::unique_ptr<TWynFtp> Client(bool passive = true) {
  auto f = std::make_unique<TWynFtp>();
  f->User = kUser;
  f->Password = kPassword;
  f->Passive = passive;
  f->ConnectTimeOut = 10000;
  f->DataTimeOut = 10000;
  return f;
}

std::string Url(const TScriptedServer& s, const std::string& path = kPath) {
  return "ftp://127.0.0.1:" + std::to_string(s.Port()) + path;
}

std::vector<std::string> Around(const std::vector<std::string>& commands) {
  std::vector<std::string> out;
  for (const auto& c : commands) out.insert(out.end(), {"OnRequest", "> " + c, "OnResponse"});
  return out;
}

std::vector<std::string> ServerLinesBeforeFirstCommand(const TFtpTrace& t) {
  std::vector<std::string> out;
  for (const auto& l : t.log) {
    if (l.Type == TLogType::ltCommand) break;
    if (l.Type == TLogType::ltServer) out.push_back(l.Text);
  }
  return out;
}

TEST(WynFtp, StartsWithPort21AndNoDate) {
  TWynFtp f;
  EXPECT_EQ(f.Port, 21);
  EXPECT_EQ(f.Size(), 0);
  EXPECT_FALSE(f.Resume());
  EXPECT_FALSE(f.Passive);
  EXPECT_EQ(f.FileDate(), kNoDate);
  EXPECT_EQ(f.DataSock(), nullptr);
}

TEST(WynFtp, PassiveRetrievalSendsTheCommandsAndFiresTheEventsInOrder) {
  const std::string content = Pattern(50000);
  TScriptedServer data(TPeerScript().SendPieces(content, 7000, 1ms));
  const auto steps = PassiveSteps(data.Port(), 1000);
  TScriptedServer control(Dialog("220-Welcome\r\n220 ready\r\n", steps));
  auto f = Client();
  TFtpTrace t;
  t.Attach(*f);
  bool dataSockDuringGet = false;
  t.onEvent = [&](TWynFtp& c, const std::string& name) {
    if (name == "OnReceive") dataSockDuringGet = c.DataSock() != nullptr;
  };

  f->Get(Url(control), 1000);

  EXPECT_EQ(t.Commands(),
            (std::vector<std::string>{"USER anonymous", "PASS me@example.org", "REST 100",
                                      "TYPE I", "SIZE /pub/file.bin", "TYPE I", "PASV",
                                      "REST 1000", "RETR /pub/file.bin"}));
  std::vector<std::string> want = {"OnHostResolving", "OnHostResolved", "OnConnecting",
                                   "OnConnected"};
  auto add = [&want](const std::vector<std::string>& more) {
    want.insert(want.end(), more.begin(), more.end());
  };
  add(Around({"USER anonymous", "PASS me@example.org", "REST 100"}));
  add({"OnGetFileDate"});
  add(Around({"TYPE I", "SIZE /pub/file.bin"}));
  add({"OnGetResumeState", "OnGetFileSize"});
  add(Around({"TYPE I", "PASV", "REST 1000", "RETR /pub/file.bin"}));
  add({"OnReceive", "OnPacketRecvd"});
  EXPECT_EQ(t.events, want);

  EXPECT_EQ(t.data, content);
  EXPECT_TRUE(t.packetsFromData);
  EXPECT_TRUE(dataSockDuringGet);
  EXPECT_EQ(f->DataSock(), nullptr);
  EXPECT_EQ(f->Size(), 5000);
  EXPECT_TRUE(f->Resume());
  EXPECT_EQ(f->FileDate(), kNoDate);
  EXPECT_EQ(f->RestartPos(), 1000);
  EXPECT_EQ(t.Lines(TLogType::ltServer).back(), "226 Transfer complete.");
  EXPECT_TRUE(t.Errors().empty());

  // The control connection stays open, and no QUIT is ever sent.
  EXPECT_TRUE(f->Connected());
  f.reset();
  ASSERT_TRUE(control.WaitForScripts(1));
  EXPECT_EQ(control.Received(0).find("QUIT"), std::string::npos);
}

TEST(WynFtp, ActiveRetrievalNamesTheControlAddressAndListensOnItOnly) {
  const std::string content = Pattern(40000, 3);
  auto data = std::make_shared<TActiveData>();
  TScriptedServer control(Dialog("220 ready\r\n", ActiveSteps(data, content, 0)));
  auto f = Client(false);
  TFtpTrace t;
  t.Attach(*f);
  std::string listenAddress;
  int listenPort = -1;
  t.onEvent = [&](TWynFtp& c, const std::string& name) {
    // Between the RETR and its reply the data connection still listens.
    if (name != "OnResponse" || t.events.size() < 2 || t.events[t.events.size() - 2] != "> RETR /pub/file.bin")
      return;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(c.DataSock()->Handle(), reinterpret_cast<sockaddr*>(&a), &len);
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    listenAddress = text;
    listenPort = ntohs(a.sin_port);
  };

  f->Get(Url(control), 0);

  EXPECT_EQ(t.data, content);
  EXPECT_TRUE(t.packetsFromData);
  const auto commands = t.Commands();
  ASSERT_EQ(commands.size(), 9u);
  EXPECT_EQ(commands[6], "PORT 127,0,0,1," + std::to_string(data->port / 256) + "," +
                             std::to_string(data->port % 256));
  EXPECT_EQ(listenPort, data->port.load());
  EXPECT_EQ(listenAddress, "127.0.0.1");
  EXPECT_EQ(commands[7], "REST 0");  // sent for a retrieval from the start too
  EXPECT_EQ(t.Lines(TLogType::ltServer).back(), "226 Transfer complete.");
  EXPECT_EQ(f->DataSock(), nullptr);
}

TEST(WynFtp, GreetingIsReadWholeBeforeUser) {
  struct Case {
    std::string greeting;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"220 ready\r\n", {"220 ready"}},
      {"220-Welcome\r\n220-to the\r\n220 server\r\n", {"220-Welcome", "220-to the", "220 server"}},
      {"220-Welcome\r\n  indented text\r\n\tno\r\n220 ready\r\n",
       {"220-Welcome", "  indented text", "\tno", "220 ready"}},
      // LF alone ends a line too.
      {"220-one\n220 two\n", {"220-one", "220 two"}},
  };
  // "\tno" begins with neither a blank nor "xxx-": the greeting ends there, and "220 ready"
  // is taken as the answer to USER.
  for (const auto& c : cases) {
    const bool early = c.greeting.find('\t') != std::string::npos;
    std::vector<TStep> steps = {{"USER anonymous", early ? "" : "230 Login successful.\r\n"},
                                {"REST 100", "350 ok\r\n"},
                                {"TYPE I", "200 ok\r\n"},
                                {"SIZE /pub/file.bin", "550 Could not get file size.\r\n"}};
    TScriptedServer control([&c, steps](TPeerConnection& conn) {
      conn.SendPieces(c.greeting, 1, 1ms);  // byte by byte
      Dialog("", steps)(conn);
    });
    auto f = Client();
    TFtpTrace t;
    t.Attach(*f);
    EXPECT_EQ(FtpFailure([&] { f->Get(Url(control), 0); }), kTextFtpResponseError) << c.greeting;
    std::vector<std::string> want = c.lines;
    if (early) want.pop_back();
    EXPECT_EQ(ServerLinesBeforeFirstCommand(t), want) << c.greeting;
    EXPECT_EQ(t.Commands(), (std::vector<std::string>{"USER anonymous", "REST 100", "TYPE I",
                                                      "SIZE /pub/file.bin"}))
        << c.greeting;
  }
}

TEST(WynFtp, LoginAnswersDecideBetweenPassAndFailure) {
  struct Case {
    const char* what;
    std::string user, password;
    std::vector<TStep> login;  // the login steps the client must take
    bool loggedIn;
  };
  const Case cases[] = {
      {"USER 331, PASS 230", kUser, kPassword, LoginSteps(), true},
      {"USER 230 sends no PASS", kUser, kPassword, {{"USER anonymous", "230 Already in.\r\n"}}, true},
      {"USER 400 goes on without PASS", kUser, kPassword, {{"USER anonymous", "400 Odd.\r\n"}}, true},
      {"USER 600 goes on without PASS", kUser, kPassword, {{"USER anonymous", "600 Odd.\r\n"}}, true},
      {"USER 530", kUser, kPassword, {{"USER anonymous", "530 Not here.\r\n"}}, false},
      {"USER 401", kUser, kPassword, {{"USER anonymous", "401 No.\r\n"}}, false},
      {"USER 599", kUser, kPassword, {{"USER anonymous", "599 No.\r\n"}}, false},
      {"PASS 530", kUser, kPassword,
       {{"USER anonymous", "331 Password.\r\n"}, {"PASS me@example.org", "530 Login incorrect.\r\n"}},
       false},
      {"multi-line USER reply", kUser, kPassword,
       {{"USER anonymous", "331-Password\r\n331 required\r\n"}, {"PASS me@example.org", "230 ok\r\n"}},
       true},
      {"empty user", "", kPassword, {}, false},
      {"empty password", kUser, "", {}, false},
  };
  for (const auto& c : cases) {
    std::vector<TStep> steps = c.login;
    if (c.loggedIn)
      steps.insert(steps.end(), {{"REST 100", "350 ok\r\n"},
                                 {"TYPE I", "200 ok\r\n"},
                                 {"SIZE /pub/file.bin", "550 No such file.\r\n"}});
    TScriptedServer control(Dialog("220 ready\r\n", steps));
    auto f = Client();
    f->User = c.user;
    f->Password = c.password;
    TFtpTrace t;
    t.Attach(*f);
    const std::string failure = FtpFailure([&] { f->Get(Url(control), 0); });
    std::vector<std::string> want = Commands(steps);
    EXPECT_EQ(t.Commands(), want) << c.what;
    if (c.loggedIn) {
      EXPECT_EQ(failure, kTextFtpResponseError) << c.what;
      EXPECT_TRUE(f->Connected()) << c.what;
    } else {
      EXPECT_EQ(failure, kTextFtpConnectError) << c.what;
      EXPECT_TRUE(t.Errors().empty()) << c.what;  // a refused login is not logged
      // The control connection is closed: the script sees it go.
      EXPECT_FALSE(f->Connected()) << c.what;
      EXPECT_TRUE(control.WaitForScripts(1, 5s)) << c.what;
    }
  }
}

TEST(WynFtp, RepliesThatStillRetrieve) {
  struct Case {
    const char* what;
    std::function<void(std::vector<TStep>&, std::uint16_t dataPort)> change;
    std::int32_t size = 5000;
    bool resume = true;
    std::string logged = "";  // a line the client must have logged as ltState
    bool dataFirst = false;   // the data connection delivers and closes before RETR's reply
  };
  auto p3 = [](std::uint16_t port) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%03d,%03d", port / 256, port % 256);
    return std::string(buf);
  };
  const Case cases[] = {
      {"plain", [](auto&, auto) {}},
      {"restart probe refused with 502",
       [](auto& s, auto) { s[kProbe].Reply = "502 REST not implemented.\r\n"; }, 5000, false},
      {"restart probe refused with 500",
       [](auto& s, auto) { s[kProbe].Reply = "500 Unknown command.\r\n"; }, 5000, false},
      {"restart probe accepted in a multi-line reply",
       [](auto& s, auto) { s[kProbe].Reply = "350-Restart\r\n350 accepted\r\n"; }},
      {"size beyond 32 bits", [](auto& s, auto) { s[kSize].Reply = "213 12345678901\r\n"; }, 0},
      {"size among words", [](auto& s, auto) { s[kSize].Reply = "213 size is 42 bytes\r\n"; }, 42},
      {"size in a multi-line reply",
       [](auto& s, auto) { s[kSize].Reply = "213-Size follows\r\n213 4096\r\n"; }, 4096},
      {"TYPE I answered with 300",
       [](auto& s, auto) { s[kType1].Reply = s[kType2].Reply = "300 Odd but no failure.\r\n"; }},
      {"PASV in a multi-line reply",
       [](auto& s, std::uint16_t port) {
         s[kOpen].Reply = "227-Entering Passive Mode\r\n" + PasvReply(port);
       }},
      {"PASV with leading zeros and text around",
       [p3](auto& s, std::uint16_t port) {
         s[kOpen].Reply = "227 Entering Passive Mode =(127,000,000,001," + p3(port) + ") ok\r\n";
       }},
      {"PASV naming another host",
       [](auto& s, std::uint16_t port) { s[kOpen].Reply = PasvReply(port, "10,0,0,5"); }, 5000,
       true, "PASV地址[10.0.0.5]不是服务器地址,改用[127.0.0.1]"},
      {"PASV naming no host",
       [](auto& s, std::uint16_t port) { s[kOpen].Reply = PasvReply(port, "0,0,0,0"); }, 5000,
       true, "PASV地址[0.0.0.0]不是服务器地址,改用[127.0.0.1]"},
      {"RETR in a multi-line reply",
       [](auto& s, auto) {
         s[kRetr].Reply = "150-Opening\r\n second line\r\n150 go\r\n226 Transfer complete.\r\n";
       }},
      {"final reply of several lines",
       [](auto& s, auto) {
         s[kRetr].Reply = "150 go\r\n226-Transfer\r\n226 Transfer complete.\r\n";
       }},
      {"data before the RETR reply",
       [](auto& s, auto) { s[kRetr].Delay = 300ms; }, 5000, true, "", true},
  };
  const std::string content = Pattern(20000, 5);
  for (const auto& c : cases) {
    TScriptedServer data(c.dataFirst ? TScript(TPeerScript().Send(content))
                                     : TScript(TPeerScript().SendPieces(content, 3000, 1ms)));
    auto steps = PassiveSteps(data.Port(), 1000);
    c.change(steps, data.Port());
    TScriptedServer control(Dialog("220 ready\r\n", steps));
    auto f = Client();
    TFtpTrace t;
    t.Attach(*f);
    bool sawSize = false;
    t.onEvent = [&](TWynFtp& ftp, const std::string& name) {
      if (name == "OnGetFileSize") sawSize = ftp.Size() == c.size;
    };
    EXPECT_EQ(FtpFailure([&] { f->Get(Url(control), 1000); }), "") << c.what;
    EXPECT_EQ(t.data, content) << c.what;
    EXPECT_EQ(t.Commands(), Commands(steps)) << c.what;
    EXPECT_EQ(f->Size(), c.size) << c.what;
    EXPECT_TRUE(sawSize) << c.what;
    EXPECT_EQ(f->Resume(), c.resume) << c.what;
    EXPECT_EQ(t.Lines(TLogType::ltServer).back(), "226 Transfer complete.") << c.what;
    if (!c.logged.empty()) {
      EXPECT_TRUE(t.Logged(TLogType::ltState, c.logged)) << c.what;
    }
    EXPECT_TRUE(t.Errors().empty()) << c.what;
  }
}

TEST(WynFtp, PasvReplyOf10_0_0_5_4_1ConnectsToTheServerOnPort1025) {
  // The reply's port, on the control connection's peer.
  const int l = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(1025);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0)
      << "port 1025 on 127.0.0.1 is taken: " << std::strerror(errno);
  ASSERT_EQ(::listen(l, 1), 0);
  std::thread server([l] {
    const int s = ::accept(l, nullptr, nullptr);
    if (s < 0) return;
    SendAll(s, "hello from 1025");
    ::close(s);
  });

  auto steps = PassiveSteps(0, 0);
  steps[kOpen].Reply = "227 Entering Passive Mode (10,0,0,5,4,1)\r\n";
  TScriptedServer control(Dialog("220 ready\r\n", steps));
  auto f = Client();
  TFtpTrace t;
  t.Attach(*f);
  EXPECT_EQ(FtpFailure([&] { f->Get(Url(control), 0); }), "");
  EXPECT_EQ(t.data, "hello from 1025");
  EXPECT_TRUE(t.Logged(TLogType::ltState, "PASV地址[10.0.0.5]不是服务器地址,改用[127.0.0.1]"));
  ::shutdown(l, SHUT_RDWR);
  server.join();
  ::close(l);
}

TEST(WynFtp, PasvRepliesWithoutUsableNumbers) {
  struct Case {
    std::string reply;
    std::string failure;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"227 Entering Passive Mode (127,0,0,1,x,1).\r\n", "'x' is not a valid integer value", {}},
      {"227 Entering Passive Mode (127,0,0,1,4,1 ).\r\n", "'1 ' is not a valid integer value", {}},
      {"227 Entering Passive Mode.\r\n", "'' is not a valid integer value", {}},
      {"227 Entering Passive Mode (127,0,0,1,4).\r\n", "'' is not a valid integer value", {}},
      {"227 ) upside down (127,0,0,1,4,1\r\n", "'' is not a valid integer value", {}},
      {"227 Entering Passive Mode (127,0,0,1,256,0).\r\n", "'65536' is not a valid port number", {}},
      {"227 Entering Passive Mode (a,b,c,d,4,1).\r\n", kTextSocketError, {kTextSocketError}},
  };
  for (const auto& c : cases) {
    auto steps = PassiveSteps(0, 0);
    steps.resize(kOpen + 1);
    steps[kOpen].Reply = c.reply;
    TScriptedServer control(Dialog("220 ready\r\n", steps));
    auto f = Client();
    TFtpTrace t;
    t.Attach(*f);
    EXPECT_EQ(FtpFailure([&] { f->Get(Url(control), 0); }), c.failure) << c.reply;
    EXPECT_EQ(t.Commands(), Commands(steps)) << c.reply;  // nothing after PASV
    EXPECT_EQ(t.Errors(), c.errors) << c.reply;
    EXPECT_EQ(f->DataSock(), nullptr);
  }
}

TEST(WynFtp, RefusedCommandsFailWithResponseError) {
  struct Case {
    bool passive;
    std::size_t step;
    std::string reply;
  };
  const Case cases[] = {
      {true, kType1, "504 Bad type.\r\n"},
      {true, kSize, "550 Could not get file size.\r\n"},
      {true, kSize, "550-Odd\r\n213 5000\r\n"},  // the first line's number counts
      {true, kType2, "500 No.\r\n"},
      {true, kOpen, "502 PASV not here.\r\n"},
      {false, kOpen, "500 Illegal PORT command.\r\n"},
      {true, kRest, "502 Command not implemented.\r\n"},
      {false, kRest, "500 REST refused.\r\n"},
      {true, kRetr, "550 Failed to open file.\r\n"},
      {false, kRetr, "425 Use PORT or PASV first.\r\n"},
  };
  for (const auto& c : cases) {
    TScriptedServer data(Droppable(TPeerScript().Send("never asked for")));
    auto active = std::make_shared<TActiveData>();
    auto steps = c.passive ? PassiveSteps(data.Port(), 1000) : ActiveSteps(active, "x", 1000);
    steps[c.step].Reply = c.reply;
    steps[c.step].After = {};
    steps.resize(c.step + 1);
    TScriptedServer control(Dialog("220 ready\r\n", steps));
    auto f = Client(c.passive);
    TFtpTrace t;
    t.Attach(*f);
    const std::string failure = FtpFailure([&] { f->Get(Url(control), 1000); });
    const std::string what = steps[c.step].Command + " answered " + c.reply;
    EXPECT_EQ(failure, kTextFtpResponseError) << what;
    EXPECT_EQ(t.Errors(), std::vector<std::string>{kTextFtpResponseError}) << what;
    EXPECT_EQ(t.Commands().size(), c.step + 1) << what;
    EXPECT_TRUE(f->Connected()) << what;  // left to the owner
    EXPECT_EQ(f->DataSock(), nullptr) << what;
    if (c.step <= kSize) {
      // Before any data connection, after the probe and the date event.
      EXPECT_EQ(data.Accepted(), 0) << what;
      EXPECT_NE(std::find(t.events.begin(), t.events.end(), "OnGetFileDate"), t.events.end());
      EXPECT_EQ(std::find(t.events.begin(), t.events.end(), "OnGetResumeState"), t.events.end());
    }
  }
}

TEST(WynFtp, EndlessRepliesFailWithResponseError) {
  std::string endlessGreeting;
  while (endlessGreeting.size() <= TWynFtp::kMaxReply)
    endlessGreeting += "220-" + std::string(96, 'g') + "\r\n";
  struct Case {
    const char* what;
    std::string greeting;
    std::vector<TStep> steps;
    bool loggedIn;
  };
  std::vector<TStep> endlessLine = LoginSteps();
  endlessLine.push_back({"REST 100", std::string(TWynSock::kMaxLineLength + 10, 'x')});
  const Case cases[] = {
      {"a line without end", "220 ready\r\n", endlessLine, true},
      {"a greeting without end", endlessGreeting + "220 ready\r\n", {}, false},
  };
  for (const auto& c : cases) {
    // The client gives up in the middle of what is sent: it may reset the connection.
    TScriptedServer control(Droppable([&c](TPeerConnection& conn) {
      conn.Send(c.greeting);
      for (const auto& s : c.steps) {
        conn.Expect(s.Command);
        conn.Send(s.Reply);
      }
      conn.WaitForClientClose(30s);
    }));
    auto f = Client();
    TFtpTrace t;
    t.Attach(*f);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(FtpFailure([&] { f->Get(Url(control), 0); }), kTextFtpResponseError) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << c.what;  // no time-out
    ASSERT_FALSE(t.Errors().empty()) << c.what;
    EXPECT_EQ(t.Errors().back(), kTextFtpResponseError) << c.what;
    EXPECT_EQ(t.Commands(), Commands(c.steps)) << c.what;
    EXPECT_EQ(f->Connected(), c.loggedIn) << c.what;
  }
}

TEST(WynFtp, StalledDataPhaseTimesOut) {
  const std::string some = Pattern(1000);
  for (const bool passive : {true, false}) {
    TScriptedServer data(Droppable(TPeerScript().Send(some).Stall()));
    auto active = std::make_shared<TActiveData>();
    auto steps = passive ? PassiveSteps(data.Port(), 0)
                         : ActiveSteps(active, some, 0, TAfterData::HoldOpen);
    steps[kRetr].Reply = "150 Opening BINARY mode data connection.\r\n";
    TScriptedServer control(Dialog("220 ready\r\n", steps));
    auto f = Client(passive);
    f->DataTimeOut = 300;
    TFtpTrace t;
    t.Attach(*f);
    EXPECT_EQ(FtpFailure([&] { f->Get(Url(control), 0); }), kTextTimedOut) << passive;
    EXPECT_EQ(t.data, some) << passive;
    ASSERT_EQ(t.Errors(), std::vector<std::string>{kTextTimedOut}) << passive;
    for (const auto& l : t.log)
      if (l.Type == TLogType::ltError) {
        EXPECT_TRUE(l.FromData) << passive;
      }
    EXPECT_EQ(t.Lines(TLogType::ltServer).back(), "150 Opening BINARY mode data connection.");
    EXPECT_EQ(f->DataSock(), nullptr);
  }
}

TEST(WynFtp, AbortInTheDataPhaseEndsBothConnectionsWithoutTheFinalReply) {
  for (const bool fromThread : {false, true}) {
    TScriptedServer data(Droppable(TPeerScript().SendPieces(Pattern(64 * 1024), 4096, 2ms).Stall()));
    TScriptedServer control(Dialog("220 ready\r\n", PassiveSteps(data.Port(), 0)));
    auto f = Client();
    TFtpTrace t;
    t.Attach(*f);
    std::atomic<bool> flowing = false;
    bool dataAborted = false;
    t.onPacket = [&](TWynFtp& ftp, std::int32_t) {
      if (fromThread) {
        flowing = true;
      } else if (!ftp.Aborted()) {
        ftp.Abort();
        dataAborted = ftp.DataSock()->Aborted();
      }
    };
    std::thread aborter;
    if (fromThread)
      aborter = std::thread([&] {
        while (!flowing) std::this_thread::sleep_for(1ms);
        f->Abort();
      });
    EXPECT_EQ(FtpFailure([&] { f->Get(Url(control), 0); }), kTextAborted) << fromThread;
    if (aborter.joinable()) aborter.join();
    if (!fromThread) {
      EXPECT_TRUE(dataAborted);
    }
    EXPECT_FALSE(t.data.empty());
    // The final reply is there to be read, but nobody reads it.
    for (const auto& line : t.Lines(TLogType::ltServer))
      EXPECT_EQ(line.find("226"), std::string::npos) << fromThread;
    EXPECT_TRUE(t.Errors().empty()) << fromThread;  // an abort is not an error of the job
    EXPECT_EQ(f->DataSock(), nullptr);
  }
}

TEST(WynFtp, AbortInAnEventSendsNothingMore) {
  struct Case {
    const char* event;
    std::size_t lastStep;  // the last command the client sends
  };
  const Case cases[] = {{"OnGetFileDate", kProbe}, {"OnGetResumeState", kSize}};
  for (const auto& c : cases) {
    TScriptedServer data(Droppable(TPeerScript().Send("never asked for")));
    auto steps = PassiveSteps(data.Port(), 0);
    steps.resize(c.lastStep + 1);
    TScriptedServer control(Dialog("220 ready\r\n", steps));
    auto f = Client();
    TFtpTrace t;
    t.Attach(*f);
    t.onEvent = [&c](TWynFtp& ftp, const std::string& name) {
      if (name == c.event) ftp.Abort();
    };
    EXPECT_EQ(FtpFailure([&] { f->Get(Url(control), 0); }), kTextAborted) << c.event;
    // A command that cannot go out is not logged as sent either.
    EXPECT_EQ(t.Commands(), Commands(steps)) << c.event;
    EXPECT_EQ(std::find(t.events.begin(), t.events.end(), "OnGetFileSize"), t.events.end());
    EXPECT_EQ(data.Accepted(), 0) << c.event;
    EXPECT_TRUE(t.Errors().empty()) << c.event;
  }
}

TEST(WynFtp, ThroughAnFtpProxyTheTargetGoesWithTheUserName) {
  const std::string content = Pattern(30000, 9);
  for (const bool passive : {true, false}) {
    TScriptedServer data(TPeerScript().Send(content));
    auto active = std::make_shared<TActiveData>();
    auto steps = passive ? PassiveSteps(data.Port(), 5) : ActiveSteps(active, content, 5);
    steps[kUserStep].Command = "USER anonymous@ftp.example.org";
    TScriptedServer proxy(Dialog("220 proxy ready\r\n", steps));
    auto f = Client(passive);
    f->Proxy = "127.0.0.1";
    f->ProxyPort = proxy.Port();
    f->ProxyUser = "proxyuser";
    f->ProxyPassword = "proxysecret";
    TFtpTrace t;
    t.Attach(*f);
    EXPECT_EQ(FtpFailure([&] { f->Get("ftp://ftp.example.org:2121/pub/file.bin", 5); }), "");
    EXPECT_EQ(t.data, content);
    ASSERT_EQ(t.Commands().size(), steps.size());
    EXPECT_EQ(t.Commands().front(), "USER anonymous@ftp.example.org");
    EXPECT_EQ(f->Host, "ftp.example.org");
    EXPECT_EQ(f->Port, 2121);
    // The target is never looked up, and neither its port nor the proxy credentials go out.
    EXPECT_TRUE(t.Logged(TLogType::ltState, "解析主机地址[127.0.0.1]..."));
    EXPECT_TRUE(t.Logged(TLogType::ltState,
                         "连接到代理服务器[127.0.0.1:" + std::to_string(proxy.Port()) + "]"));
    f.reset();
    ASSERT_TRUE(proxy.WaitForScripts(1));
    const std::string sent = proxy.Received(0);
    for (const char* secret : {"2121", "proxyuser", "proxysecret"})
      EXPECT_EQ(sent.find(secret), std::string::npos) << secret;
  }
}

TEST(WynFtp, ALaterGetOnTheConnectedClientSkipsTheLoginAndAKnownSize) {
  const std::string first = Pattern(9000, 1), second = Pattern(8000, 2), third = Pattern(700, 3);
  TScriptedServer data(std::vector<TScript>{TPeerScript().Send(first), TPeerScript().Send(second),
                                            TPeerScript().Send(third)});
  auto steps = PassiveSteps(data.Port(), 0);
  steps[kRetr].Reply = "150 go\r\n226-Transfer\r\n226 complete\r\n";
  const std::vector<TStep> again = {
      {"REST 100", "350 ok\r\n"},
      {"TYPE I", "200 ok\r\n"},
      {"PASV", PasvReply(data.Port())},
      {"REST 7", "350 ok\r\n"},
      {"RETR /pub/file.bin", "150 go\r\n226 done\r\n"},
  };
  // Another file: its size is asked for.
  const std::vector<TStep> other = {
      {"REST 100", "502 no\r\n"},
      {"TYPE I", "200 ok\r\n"},
      {"SIZE /pub/other.bin", "213 77\r\n"},
      {"TYPE I", "200 ok\r\n"},
      {"PASV", PasvReply(data.Port())},
      {"REST 0", "350 ok\r\n"},
      {"RETR /pub/other.bin", "150 go\r\n226 done\r\n"},
  };
  steps.insert(steps.end(), again.begin(), again.end());
  steps.insert(steps.end(), other.begin(), other.end());
  TScriptedServer control(Dialog("220 ready\r\n", steps));
  auto f = Client();
  TFtpTrace t;
  t.Attach(*f);

  f->Get(Url(control), 0);
  EXPECT_EQ(t.data, first);
  t = TFtpTrace();
  t.Attach(*f);
  f->Get(Url(control), 7);
  EXPECT_EQ(t.data, second);
  EXPECT_EQ(t.Commands(), Commands(again));
  EXPECT_EQ(std::find(t.events.begin(), t.events.end(), "OnConnected"), t.events.end());
  EXPECT_EQ(f->Size(), 5000);
  EXPECT_TRUE(f->Resume());

  t = TFtpTrace();
  t.Attach(*f);
  f->Get(Url(control, "/pub/other.bin"), 0);
  EXPECT_EQ(t.data, third);
  EXPECT_EQ(t.Commands(), Commands(other));
  EXPECT_EQ(f->Size(), 77);
  EXPECT_FALSE(f->Resume());  // every Get probes again
}

TEST(WynFtp, UrlWithoutPathAsksForTheRoot) {
  std::vector<TStep> steps = LoginSteps();
  steps.insert(steps.end(),
               {{"REST 100", "350 ok\r\n"}, {"TYPE I", "200 ok\r\n"}, {"SIZE /", "550 Not a file.\r\n"}});
  TScriptedServer control(Dialog("220 ready\r\n", steps));
  auto f = Client();
  TFtpTrace t;
  t.Attach(*f);
  const std::string url = "ftp://127.0.0.1:" + std::to_string(control.Port());
  EXPECT_EQ(FtpFailure([&] { f->Get(url, 0); }), kTextFtpResponseError);
  EXPECT_EQ(t.Commands(), Commands(steps));
  EXPECT_EQ(f->URL(), url + "/");
  EXPECT_EQ(f->Path(), "/");
}

TEST(WynFtp, APortThatIsNoNumberFailsBeforeConnecting) {
  auto f = Client();
  TFtpTrace t;
  t.Attach(*f);
  try {
    f->Get("ftp://127.0.0.1:21x/file", 0);
    ADD_FAILURE() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'21x' is not a valid integer value");
  }
  EXPECT_TRUE(t.events.empty());
  EXPECT_TRUE(t.log.empty());
}

}  // namespace
}  // namespace nsk::test
