// SPDX-License-Identifier: GPL-2.0-or-later
#include "net/wynsock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/net/manualresolver.h"
#include "tests/support/net/scriptedserver.h"

namespace nsk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::TPeerConnection;
using test::TPeerScript;
using test::TScriptedServer;

// Records events and log lines of a component in the order they come.
struct TTrace {
  void Attach(TWynSock& s) {
    auto note = [this](const char* name) {
      return [this, name](TWynSock&) { items.push_back(name); };
    };
    s.OnHostResolving = note("OnHostResolving");
    s.OnHostResolved = note("OnHostResolved");
    s.OnConnecting = note("OnConnecting");
    s.OnConnected = note("OnConnected");
    s.OnRequest = note("OnRequest");
    s.OnResponse = note("OnResponse");
    s.OnLogMessage = [this](TWynSock&, const std::string& text, TLogType type) {
      items.push_back(std::to_string(int(type)) + " " + text);
      if (type == TLogType::ltError) ++errors;
    };
  }
  std::vector<std::string> items;
  int errors = 0;
};

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESocketError& e) {
    return e.what();
  }
  return "(no exception)";
}

// A port on 127.0.0.1 where nothing listens.
std::uint16_t ClosedPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

class WynSock : public ::testing::Test {
 protected:
  void TearDown() override { TEventLoop::ForThisThread().SetResolver(nullptr); }
  std::shared_ptr<test::TManualResolver> ManualResolver() {
    auto r = std::make_shared<test::TManualResolver>();
    TEventLoop::ForThisThread().SetResolver(r);
    return r;
  }
};

TEST_F(WynSock, ConnectReportsEveryStepInOrder) {
  TScriptedServer server(TPeerScript().Stall());
  const std::string port = std::to_string(server.Port());
  struct Case {
    std::string host, proxy;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"127.0.0.1", "",
       {"OnHostResolving", "0 解析主机地址[127.0.0.1]...", "OnHostResolved", "0 主机地址解析完毕",
        "OnConnecting", "0 连接到主机[127.0.0.1:" + port + "]", "OnConnected", "0 主机连接完毕"}},
      {"localhost", "",
       {"OnHostResolving", "0 解析主机地址[localhost]...", "OnHostResolved", "0 主机地址解析完毕",
        "OnConnecting", "0 连接到主机[localhost:" + port + "]", "OnConnected", "0 主机连接完毕"}},
      // With a proxy the host is never looked up (it could not be).
      {"nosuch.invalid", "127.0.0.1",
       {"OnHostResolving", "0 解析主机地址[127.0.0.1]...", "OnHostResolved", "0 主机地址解析完毕",
        "OnConnecting", "0 连接到代理服务器[127.0.0.1:" + port + "]", "OnConnected",
        "0 代理服务器连接完毕"}},
  };
  for (const auto& c : cases) {
    TWynSock s;
    TTrace trace;
    trace.Attach(s);
    s.Host = c.host;
    s.Proxy = c.proxy;
    s.Port = c.proxy.empty() ? server.Port() : 1;
    s.ProxyPort = server.Port();
    s.ConnectTimeOut = 5000;
    s.Connect();
    EXPECT_TRUE(s.Connected());
    EXPECT_EQ(trace.items, c.want) << c.host;
    EXPECT_EQ(s.RemoteIP(), "127.0.0.1");
    // Connected already: nothing happens.
    s.Connect();
    EXPECT_EQ(trace.items.size(), c.want.size());
  }
}

TEST_F(WynSock, ConnectFailuresRaiseTheirTexts) {
  struct Case {
    const char* what;
    std::string host;
    std::uint16_t port;
    std::optional<TLookupResult> answer;  // manual resolver's answer; nullopt: never answers
    bool manual;
    std::string text;
  };
  const Case cases[] = {
      {"refused", "127.0.0.1", ClosedPort(), std::nullopt, false, kTextFailed},
      {"no such name", "nosuch.invalid", 80, std::nullopt, false, kTextFailed},
      {"answer 0.0.0.0", "zero.example", 80, test::TManualResolver::Address("0.0.0.0"), true,
       kTextFailed},
      {"look-up fails", "bad.example", 80, test::TManualResolver::Failure(), true, kTextFailed},
      {"look-up too slow", "slow.example", 80, std::nullopt, true, kTextTimedOut},
  };
  for (const auto& c : cases) {
    std::shared_ptr<test::TManualResolver> resolver;
    if (c.manual) {
      resolver = ManualResolver();
      resolver->AnswerAtOnce(c.answer);
    }
    TWynSock s;
    TTrace trace;
    trace.Attach(s);
    s.Host = c.host;
    s.Port = c.port;
    s.ConnectTimeOut = 150;
    EXPECT_EQ(Message([&] { s.Connect(); }), c.text) << c.what;
    ASSERT_FALSE(trace.items.empty());
    EXPECT_EQ(trace.items.back(), "2 " + c.text) << c.what;
    EXPECT_EQ(trace.errors, 1) << c.what;
    EXPECT_FALSE(s.Connected());
    TEventLoop::ForThisThread().SetResolver(nullptr);
    // A late answer of the abandoned look-up touches nothing.
    if (resolver) resolver->Complete(test::TManualResolver::Address("127.0.0.1"));
    TEventLoop::ForThisThread().RunOnce(5ms);
  }
}

TEST_F(WynSock, ConnectTimesOutWhenTheListenerTakesNoMore) {
  // A listener with backlog 0 that never accepts: once its queue holds a connection, further
  // handshakes get no answer.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  ASSERT_EQ(::listen(listener, 0), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    const int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(f);
  }
  std::this_thread::sleep_for(50ms);
  TWynSock s;
  TTrace trace;
  trace.Attach(s);
  s.Host = "127.0.0.1";
  s.Port = ntohs(a.sin_port);
  s.ConnectTimeOut = 300;
  const auto start = Clock::now();
  EXPECT_EQ(Message([&] { s.Connect(); }), kTextTimedOut);
  EXPECT_GE(Clock::now() - start, 250ms);
  EXPECT_EQ(trace.items.back(), std::string("2 ") + kTextTimedOut);
  for (int f : fillers) ::close(f);
  ::close(listener);
}

TEST_F(WynSock, ReadLineTimesOutAfterSilence) {
  TScriptedServer server(TPeerScript().Send("220 wel").Stall());
  TWynSock s;
  TTrace trace;
  trace.Attach(s);
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.DataTimeOut = 200;
  s.Connect();
  const auto start = Clock::now();
  EXPECT_EQ(Message([&] { s.ReadLine(); }), kTextTimedOut);
  EXPECT_GE(Clock::now() - start, 150ms);
  EXPECT_EQ(trace.items.back(), std::string("2 ") + kTextTimedOut);
}

TEST_F(WynSock, DataTimeOutMeasuresSilenceNotTheWholeTransfer) {
  // Five pieces 100 ms apart take longer than the time-out, but no gap does.
  TScriptedServer server(TPeerScript().SendPieces("abcde", 1, 100ms).Stall());
  TWynSock s;
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.DataTimeOut = 300;
  s.Connect();
  std::string got;
  s.OnPacketRecvd = [&](TWynSock& sender, std::int32_t n) { got.append(sender.Buffer, n); };
  EXPECT_EQ(Message([&] { s.ReceiveData(); }), kTextTimedOut);
  EXPECT_EQ(got, "abcde");
  EXPECT_EQ(s.BytesRecvd(), 5);
}

TEST_F(WynSock, ZeroTimeOutsNeverFire) {
  auto resolver = ManualResolver();
  TScriptedServer server(TPeerScript().Stall());
  TWynSock s;
  TTrace trace;
  trace.Attach(s);
  const auto start = Clock::now();
  s.OnIdle = [&](TWynSock& me) {
    if (Clock::now() - start > 400ms) me.Abort();
  };
  s.Host = "slow.example";
  EXPECT_EQ(Message([&] { s.Connect(); }), kTextAborted);
  EXPECT_EQ(trace.errors, 0);
  TEventLoop::ForThisThread().SetResolver(nullptr);

  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.OnIdle = nullptr;
  s.Connect();
  const auto readStart = Clock::now();
  s.OnIdle = [&](TWynSock& me) {
    if (Clock::now() - readStart > 400ms) me.Abort();
  };
  EXPECT_EQ(Message([&] { s.ReadLine(); }), kTextAborted);
  EXPECT_EQ(trace.errors, 0);
}

TEST_F(WynSock, AbortFromTheIdleHandlerEndsTheWaitSilently) {
  TScriptedServer server(TPeerScript().Stall());
  TWynSock s;
  TTrace trace;
  trace.Attach(s);
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.Connect();
  int turns = 0;
  s.OnIdle = [&](TWynSock& me) {
    if (++turns == 3) me.Abort();
  };
  EXPECT_EQ(Message([&] { s.ReadLine(); }), kTextAborted);
  EXPECT_EQ(turns, 3);
  EXPECT_EQ(trace.errors, 0);
  // Aborted stays set: writes are refused silently, every wait ends at once.
  s.Write("QUIT\r\n", 6);
  EXPECT_EQ(Message([&] { s.ReadLine(); }), kTextAborted);
  EXPECT_EQ(Message([&] { s.ReceiveData(); }), kTextAborted);
  EXPECT_EQ(turns, 3);
}

TEST_F(WynSock, AbortFromAnotherThreadWakesTheWait) {
  TScriptedServer server(TPeerScript().Stall());
  TWynSock s;
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.Connect();
  std::thread other([&] {
    std::this_thread::sleep_for(100ms);
    s.Abort();
  });
  // No idle handler and no time-out: only the abort can end this wait.
  const auto start = Clock::now();
  EXPECT_EQ(Message([&] { s.ReadLine(); }), kTextAborted);
  EXPECT_LT(Clock::now() - start, 5s);
  other.join();
}

TEST_F(WynSock, LinesArriveWholeHoweverTheyAreCut) {
  const std::string reply = "220-first line\r\n220 last\n";
  const std::vector<std::vector<std::size_t>> cutSets = {
      {}, {1}, {3, 4, 15}, {14, 15, 16}, {16}, {17, 20, 24}};
  for (const auto& cuts : cutSets) {
    TScriptedServer server(TPeerScript().SendSplit(reply, cuts, 10ms).Stall());
    TWynSock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.DataTimeOut = 5000;
    s.Connect();
    EXPECT_EQ(s.ReadLine(), "220-first line\r\n");
    EXPECT_EQ(s.ReadLine(), "220 last\n");
  }
  // One byte per send.
  TScriptedServer server(TPeerScript().SendPieces(reply, 1, 1ms).Stall());
  TWynSock s;
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.Connect();
  EXPECT_EQ(s.ReadLine(), "220-first line\r\n");
  EXPECT_EQ(s.ReadLine(), "220 last\n");
}

TEST_F(WynSock, ReadLineLeavesTheRestBuffered) {
  TScriptedServer server(TPeerScript().Send("220 ok\r\n331 next\r\n\r\n\nxyz").Stall());
  TWynSock s;
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.Connect();
  EXPECT_EQ(s.ReadLine(), "220 ok\r\n");
  EXPECT_EQ(s.ReadLine(), "331 next\r\n");
  EXPECT_EQ(s.ReadLine(), "\r\n");
  EXPECT_EQ(s.ReadLine(), "\n");
  EXPECT_EQ(s.Read(2), "xy");
  EXPECT_EQ(s.Read(0), "z");
  EXPECT_EQ(s.Read(0), "");
}

TEST_F(WynSock, ALineWithoutEndFailsAtTheLimit) {
  struct Case {
    std::size_t letters;
    bool ok;
  };
  // The limit counts the LF: 65 535 letters and an LF are the longest line.
  const Case cases[] = {{TWynSock::kMaxLineLength - 1, true}, {TWynSock::kMaxLineLength, false},
                        {1 << 20, false}};
  for (const auto& c : cases) {
    const std::string line = std::string(c.letters, 'a') + "\n";
    TScriptedServer server(TPeerScript().SendPieces(line + "next\n", 16384, 1ms).Stall());
    TWynSock s;
    TTrace trace;
    trace.Attach(s);
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.DataTimeOut = 5000;
    s.Connect();
    if (c.ok) {
      EXPECT_EQ(s.ReadLine(), line);
      EXPECT_EQ(s.ReadLine(), "next\n");
    } else {
      EXPECT_THROW(s.ReadLine(), ELineTooLong) << c.letters;
      EXPECT_EQ(trace.items.back(), std::string("2 ") + kTextFailed);
    }
  }
}

TEST_F(WynSock, AConnectionThatEndsBeforeTheLineFailsAtOnce) {
  struct Case {
    std::function<void(TPeerConnection&)> script;
    std::string text;
    int errors;
  };
  const Case cases[] = {
      {[](TPeerConnection& c) { c.Send("220 partial"); }, kTextFailed, 1},
      {[](TPeerConnection& c) {
         c.Send("220 partial");
         c.Pause(20ms);
         c.Reset();
       },
       kTextSocketError, 1},
  };
  for (const auto& c : cases) {
    TScriptedServer server(c.script);
    TWynSock s;
    TTrace trace;
    trace.Attach(s);
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.Connect();
    // No time-out set: the wait must end because nothing more can come.
    EXPECT_THROW(
        {
          try {
            s.ReadLine();
          } catch (const EConnectionLost& e) {
            EXPECT_EQ(std::string(e.what()), c.text);
            throw;
          }
        },
        EConnectionLost);
    EXPECT_EQ(trace.errors, c.errors);
    EXPECT_FALSE(s.Connected());
  }
}

TEST_F(WynSock, TransactionTakesTheReplyNumber) {
  struct Case {
    std::string reply;
    std::int32_t number;
  };
  const Case cases[] = {{"226-First\r\n", 226},     {"abc\r\n", 0},
                        {"123456789012 x\n", 1234567890}, {"9999999999\r\n", 0},
                        {"200\n", 200},             {" 200 x\r\n", 0}};
  for (const auto& c : cases) {
    TScriptedServer server(TPeerScript().Expect("NOOP").Send(c.reply).Stall());
    TWynSock s;
    TTrace trace;
    trace.Attach(s);
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.Connect();
    trace.items.clear();
    EXPECT_EQ(s.Transaction("NOOP"), c.reply);
    EXPECT_EQ(s.ReplyNumber(), c.number) << c.reply;
    EXPECT_EQ(s.TransactionReply(), c.reply);
    std::string shown = c.reply;
    std::erase(shown, '\r');
    std::erase(shown, '\n');
    EXPECT_EQ(trace.items, (std::vector<std::string>{"OnRequest", "1 NOOP", "OnResponse",
                                                     "3 " + shown}));
  }
}

TEST_F(WynSock, WritesSendExactlyWhatTheyAreGiven) {
  TScriptedServer server([](TPeerConnection& c) { c.ReadToEnd(); });
  TWynSock s;
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.Connect();
  s.Write("abc\0def", 0);   // up to the first zero byte
  s.Write("x\0y", 3);       // a count sends zero bytes too
  s.WriteString("");        // nothing at all
  s.WriteString(std::string(20000, 'L') + "tail");
  s.WriteLine("USER a");
  s.Disconnect();
  ASSERT_TRUE(server.WaitForScripts(1));
  EXPECT_EQ(server.Received(0), std::string("abcx\0y", 6) + std::string(16384, 'L') + "USER a\r\n");
}

TEST_F(WynSock, ASendThatWouldBlockIsCompletedLater) {
  constexpr std::size_t kWrites = 24, kEach = 65535;
  const std::string data = Pattern(kWrites * kEach);
  test::TServerOptions options;
  options.ReceiveBuffer = 4096;
  TScriptedServer server(
      [&](TPeerConnection& c) {
        c.Pause(300ms);  // the client's buffers fill up meanwhile
        EXPECT_EQ(c.ReadBytes(data.size()), data);
      },
      options);
  TWynSock s;
  TTrace trace;
  trace.Attach(s);
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.DataTimeOut = 10000;
  s.Connect();
  const int small = 4096;
  ::setsockopt(s.Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const auto start = Clock::now();
  for (std::size_t i = 0; i < kWrites; ++i)
    s.Write(data.data() + i * kEach, static_cast<std::uint16_t>(kEach));
  EXPECT_GE(Clock::now() - start, 250ms);  // it did have to wait for the reader
  EXPECT_EQ(trace.errors, 0);
  ASSERT_TRUE(server.WaitForScripts(1));
}

double ThreadCpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_THREAD, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

TEST_F(WynSock, AWriteTheReaderNeverTakesTimesOutAndLeavesNothingPending) {
  test::TServerOptions options;
  options.ReceiveBuffer = 4096;
  // The reader wakes up only after the write has timed out.
  TScriptedServer server(TPeerScript().Pause(600ms).ReadToEnd(), options);
  TWynSock s;
  TTrace trace;
  trace.Attach(s);
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.DataTimeOut = 200;
  s.Connect();
  const int small = 4096;
  ::setsockopt(s.Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const std::string block(65535, 'w');
  std::string text;
  for (int i = 0; i < 64 && text.empty(); ++i)
    text = Message([&] { s.Write(block.data(), 65535); });
  EXPECT_EQ(text, kTextTimedOut);
  EXPECT_EQ(trace.items.back(), std::string("2 ") + kTextTimedOut);
  // Other waits of the thread go on; the dropped bytes must not keep them busy.
  const double before = ThreadCpuSeconds();
  const auto start = Clock::now();
  while (Clock::now() - start < 900ms) TEventLoop::ForThisThread().RunOnce(50ms);
  EXPECT_LT(ThreadCpuSeconds() - before, 0.2);
}

TEST_F(WynSock, PacketModeHandsOnEveryByteInOrder) {
  const std::string body = Pattern((1 << 20) + 7);
  TScriptedServer server([&](TPeerConnection& c) {
    c.Send("200 ok\r\nHEAD");
    c.Pause(50ms);
    c.SendPieces(body, 100000, 2ms);
  });
  TWynSock s;
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.DataTimeOut = 5000;
  s.Connect();
  EXPECT_EQ(s.ReadLine(), "200 ok\r\n");
  std::vector<std::int32_t> sizes;
  std::string got;
  s.OnPacketRecvd = [&](TWynSock& sender, std::int32_t n) {
    EXPECT_EQ(&sender, &s);
    sizes.push_back(n);
    got.append(sender.Buffer, n);
  };
  s.ReceiveData();
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(sizes[0], 4);  // what came with the reply goes first
  EXPECT_EQ(got, "HEAD" + body);
  for (auto n : sizes) {
    EXPECT_GT(n, 0);
    EXPECT_LE(n, TWynSock::kMaxChunk);
  }
  EXPECT_EQ(s.BytesRecvd(), std::int32_t(got.size()));
  // The close replaced the socket: the component is ready for the next Connect.
  EXPECT_FALSE(s.Connected());
  EXPECT_GE(s.Handle(), 0);
}

TEST_F(WynSock, AnAbortInsideThePacketHandlerStopsDelivery) {
  TScriptedServer server([](TPeerConnection& c) {
    c.Send("x" + Pattern(1 << 20));
    c.Stall();
  });
  TWynSock s;
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.Connect();
  ASSERT_EQ(s.Read(1), "x");
  int packets = 0;
  s.OnPacketRecvd = [&](TWynSock& me, std::int32_t) {
    if (++packets == 2) me.Abort();
  };
  EXPECT_EQ(Message([&] { s.ReceiveData(); }), kTextAborted);
  EXPECT_EQ(packets, 2);
}

TEST_F(WynSock, AConnectionResetDuringTheDataIsAFailure) {
  TScriptedServer server([](TPeerConnection& c) {
    c.Send(Pattern(5000));
    c.Pause(50ms);
    c.Reset();
  });
  TWynSock s;
  TTrace trace;
  trace.Attach(s);
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  s.Connect();
  std::size_t got = 0;
  s.OnPacketRecvd = [&](TWynSock&, std::int32_t n) { got += n; };
  EXPECT_EQ(Message([&] { s.ReceiveData(); }), kTextSocketError);
  EXPECT_EQ(got, 5000u);
  EXPECT_EQ(trace.errors, 1);
}

TEST_F(WynSock, ReconnectsAfterATransfer) {
  TScriptedServer server(TPeerScript().Send("one").Close());
  TWynSock s;
  s.Host = "127.0.0.1";
  s.Port = server.Port();
  for (int i = 0; i < 3; ++i) {
    s.Connect();
    std::string got;
    s.OnPacketRecvd = [&](TWynSock& me, std::int32_t n) { got.append(me.Buffer, n); };
    s.ReceiveData();
    EXPECT_EQ(got, "one");
  }
  EXPECT_EQ(server.Accepted(), 3);
}

// The data connection of an active FTP transfer: listen, tell the port, accept, receive.
TEST_F(WynSock, ListensAcceptsAndFormatsThePortCommand) {
  TScriptedServer control(TPeerScript().Stall());
  TWynSock ctrl;
  ctrl.Host = "127.0.0.1";
  ctrl.Port = control.Port();
  ctrl.Connect();
  EXPECT_EQ(ctrl.PortIPText(), "127,0,0,1");

  TWynSock data;
  data.ConnectTimeOut = 5000;
  data.Port = 0;
  data.Listen(true);
  const std::string number = data.PortNumberText();  // ",p1,p2"
  unsigned p1 = 0, p2 = 0;
  ASSERT_EQ(std::sscanf(number.c_str(), ",%u,%u", &p1, &p2), 2) << number;
  ASSERT_LT(p1, 256u);
  ASSERT_LT(p2, 256u);
  const std::uint16_t port = static_cast<std::uint16_t>(p1 * 256 + p2);
  ASSERT_NE(port, 0);
  EXPECT_EQ(number, "," + std::to_string(port / 256) + "," + std::to_string(port % 256));

  std::thread peer([port] {
    const int c = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      ::send(c, "file body", 9, MSG_NOSIGNAL);
    }
    ::close(c);
  });
  const int s = data.WaitAccept();
  ASSERT_GE(s, 0);
  EXPECT_EQ(data.RemoteIP(), "127.0.0.1");
  data.AttachSocket(s);
  data.SelectNotify(TWynSock::TNotify::SocketEvent);
  std::string got;
  data.OnPacketRecvd = [&](TWynSock& me, std::int32_t n) { got.append(me.Buffer, n); };
  data.ReceiveData();
  EXPECT_EQ(got, "file body");
  peer.join();
}

TEST_F(WynSock, ListenWithoutAsyncDoneNeverSeesTheConnection) {
  TWynSock data;
  TTrace trace;
  trace.Attach(data);
  data.ConnectTimeOut = 200;
  data.Listen(false);
  EXPECT_EQ(Message([&] { data.WaitAccept(); }), kTextTimedOut);
  EXPECT_EQ(trace.items.back(), std::string("2 ") + kTextTimedOut);
}

// The data connection of a passive FTP transfer.
TEST_F(WynSock, ConnectIPKeepsWhatArrivesBeforeTheDataPhase) {
  TScriptedServer server(TPeerScript().Send("early bytes").Close());
  TWynSock data;
  data.Host = "127.0.0.1";
  data.Port = server.Port();
  data.ConnectTimeOut = 5000;
  data.ConnectIP();
  ASSERT_TRUE(server.WaitForScripts(1));
  std::this_thread::sleep_for(20ms);
  data.WaitConnect();
  // Turns of other waits on this thread pass meanwhile (the control connection's commands).
  for (int i = 0; i < 5; ++i) TEventLoop::ForThisThread().RunOnce(5ms);
  data.SelectNotify(TWynSock::TNotify::SocketEvent);
  std::string got;
  data.OnPacketRecvd = [&](TWynSock& me, std::int32_t n) { got.append(me.Buffer, n); };
  data.DataTimeOut = 5000;
  data.ReceiveData();
  EXPECT_EQ(got, "early bytes");
}

TEST_F(WynSock, ConnectIPFailures) {
  struct Case {
    std::string host;
    std::uint16_t port;
    std::string text;
  };
  const Case cases[] = {{"localhost", 21, kTextSocketError},
                        {"127.0.0.1", ClosedPort(), kTextFailed}};
  for (const auto& c : cases) {
    TWynSock data;
    TTrace trace;
    trace.Attach(data);
    data.Host = c.host;
    data.Port = c.port;
    data.ConnectTimeOut = 2000;
    EXPECT_EQ(Message([&] {
                data.ConnectIP();
                data.WaitConnect();
              }),
              c.text)
        << c.host;
    EXPECT_EQ(trace.items.back(), "2 " + c.text);
  }
}

TEST_F(WynSock, ALookUpThatOutlivesItsComponentTouchesNothing) {
  auto resolver = ManualResolver();
  {
    TWynSock s;
    s.Host = "slow.example";
    int turns = 0;
    s.OnIdle = [&](TWynSock& me) {
      if (++turns == 2) me.Abort();
    };
    EXPECT_EQ(Message([&] { s.Connect(); }), kTextAborted);
  }
  std::thread([&] { resolver->Complete(test::TManualResolver::Address("127.0.0.1")); }).join();
  for (int i = 0; i < 3; ++i) TEventLoop::ForThisThread().RunOnce(5ms);
  EXPECT_EQ(resolver->Hosts(), std::vector<std::string>{"slow.example"});
}

TEST(NthPos, FindsTheNthOccurrence) {
  struct Case {
    std::string s;
    char ch;
    int n, want;
  };
  const Case cases[] = {{"http://host/", '/', 3, 12}, {"http://host", '/', 3, 12},
                        {"a/b/c", '/', 1, 2},          {"a/b/c", '/', 2, 4},
                        {"", '/', 1, 1},              {"abc", '/', 0, 4}};
  for (const auto& c : cases) EXPECT_EQ(NthPos(c.s, c.ch, c.n), c.want) << c.s << " " << c.n;
}

}  // namespace
}  // namespace nsk
