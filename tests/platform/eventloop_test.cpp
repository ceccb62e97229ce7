// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/eventloop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace nsk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct TSocketPair {
  TSocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd), 0); }
  ~TSocketPair() {
    for (int f : fd)
      if (f >= 0) ::close(f);
  }
  void Close(int i) {
    ::close(fd[i]);
    fd[i] = -1;
  }
  int fd[2] = {-1, -1};
};

// Runs turns until pred holds or the time is up.
template <class Pred>
bool RunUntil(TEventLoop& loop, Pred pred, std::chrono::milliseconds limit = 5s) {
  const auto end = Clock::now() + limit;
  while (!pred()) {
    if (Clock::now() > end) return false;
    loop.RunOnce(10ms);
  }
  return true;
}

double ThreadCpuSeconds() {
  rusage ru{};
  ::getrusage(RUSAGE_THREAD, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

TEST(EventLoop, ReportsReadinessOnlyForWatchedEvents) {
  TEventLoop loop;
  TSocketPair p;
  std::vector<short> seen;
  const auto id = loop.Watch(p.fd[0], POLLIN, [&](short ev) { seen.push_back(ev); });
  EXPECT_FALSE(loop.RunOnce(0ms));
  ASSERT_EQ(::write(p.fd[1], "x", 1), 1);
  EXPECT_TRUE(loop.RunOnce(1s));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0] & POLLIN);

  // Level-triggered until read; with no events the descriptor is left out of the wait.
  loop.SetEvents(id, 0);
  EXPECT_FALSE(loop.RunOnce(0ms));
  loop.SetEvents(id, POLLIN);
  EXPECT_TRUE(loop.RunOnce(0ms));
  EXPECT_EQ(seen.size(), 2u);

  loop.Unwatch(id);
  EXPECT_FALSE(loop.RunOnce(0ms));
  EXPECT_EQ(seen.size(), 2u);
}

TEST(EventLoop, ReportsPeerClose) {
  TEventLoop loop;
  TSocketPair p;
  short got = 0;
  loop.Watch(p.fd[0], POLLRDHUP, [&](short ev) { got = ev; });
  EXPECT_FALSE(loop.RunOnce(0ms));
  p.Close(1);
  ASSERT_TRUE(loop.RunOnce(1s));
  EXPECT_TRUE(got & (POLLRDHUP | POLLHUP)) << got;
}

TEST(EventLoop, ReportsConnectDoneAndIncomingConnection) {
  TEventLoop loop;
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  ASSERT_EQ(::listen(listener, 4), 0);
  const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  int accepted = 0, connectReports = 0, connectError = -1;
  loop.Watch(listener, POLLIN, [&](short) {
    const int s = ::accept(listener, nullptr, nullptr);
    if (s >= 0) {
      ++accepted;
      ::close(s);
    }
  });
  TEventLoop::TWatchId cid = 0;
  cid = loop.Watch(client, POLLOUT, [&](short) {
    socklen_t l = sizeof connectError;
    ::getsockopt(client, SOL_SOCKET, SO_ERROR, &connectError, &l);
    ++connectReports;
    loop.Unwatch(cid);  // from inside its own handler
  });
  const int r = ::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ASSERT_TRUE(r == 0 || errno == EINPROGRESS);
  EXPECT_TRUE(RunUntil(loop, [&] { return accepted == 1 && connectReports == 1; }));
  loop.RunOnce(20ms);
  EXPECT_EQ(connectReports, 1);
  EXPECT_EQ(connectError, 0);
  ::close(client);
  ::close(listener);
}

TEST(EventLoop, HandlersMayAddAndRemoveWatchesDuringATurn) {
  TEventLoop loop;
  TSocketPair a, b;
  ASSERT_EQ(::write(a.fd[1], "x", 1), 1);
  ASSERT_EQ(::write(b.fd[1], "y", 1), 1);
  int calledA = 0, calledB = 0, calledC = 0;
  TEventLoop::TWatchId idB = 0;
  // Both are ready in the same turn; A removes B before B's turn comes and adds C.
  loop.Watch(a.fd[0], POLLIN, [&](short) {
    ++calledA;
    loop.Unwatch(idB);
    loop.Watch(b.fd[0], POLLIN, [&](short) { ++calledC; });
  });
  idB = loop.Watch(b.fd[0], POLLIN, [&](short) { ++calledB; });
  loop.RunOnce(1s);
  EXPECT_EQ(calledA, 1);
  EXPECT_EQ(calledB, 0);
  EXPECT_EQ(calledC, 0);
  loop.RunOnce(1s);
  EXPECT_EQ(calledC, 1);
}

TEST(EventLoop, NestedTurnsFromAHandlerAreSafe) {
  TEventLoop loop;
  TSocketPair p;
  ASSERT_EQ(::write(p.fd[1], "x", 1), 1);
  int outer = 0, timer = 0;
  TEventLoop::TWatchId id = 0;
  id = loop.Watch(p.fd[0], POLLIN, [&](short) {
    ++outer;
    loop.Unwatch(id);
    loop.StartTimer(0ms, [&] { ++timer; });
    loop.RunOnce(100ms);
  });
  loop.RunOnce(1s);
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(timer, 1);
}

TEST(EventLoop, TimersFireOnceInDeadlineOrder) {
  TEventLoop loop;
  std::vector<int> order;
  loop.StartTimer(60ms, [&] { order.push_back(60); });
  loop.StartTimer(20ms, [&] { order.push_back(20); });
  loop.StartTimer(40ms, [&] { order.push_back(40); });
  // Equal deadlines keep the order of starting: both are due when the turn looks.
  loop.StartTimer(0ms, [&] { order.push_back(1); });
  loop.StartTimer(0ms, [&] { order.push_back(2); });
  const auto start = Clock::now();
  EXPECT_TRUE(RunUntil(loop, [&] { return order.size() >= 5; }));
  EXPECT_GE(Clock::now() - start, 60ms);
  loop.RunOnce(80ms);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 20, 40, 60}));
}

TEST(EventLoop, CancelledTimersNeverFire) {
  TEventLoop loop;
  int fired = 0, other = 0;
  const auto t = loop.StartTimer(10ms, [&] { ++fired; });
  TEventLoop::TTimerId second = 0;
  // A timer due in the same turn can cancel one that comes after it.
  loop.StartTimer(5ms, [&] { EXPECT_TRUE(loop.CancelTimer(second)); });
  second = loop.StartTimer(6ms, [&] { ++other; });
  EXPECT_TRUE(loop.CancelTimer(t));
  EXPECT_FALSE(loop.CancelTimer(t));
  std::this_thread::sleep_for(15ms);
  loop.RunOnce(0ms);
  loop.RunOnce(20ms);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(other, 0);

  const auto done = loop.StartTimer(0ms, [&] { ++fired; });
  loop.RunOnce(10ms);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(loop.CancelTimer(done));
}

TEST(EventLoop, ATimerStartedByAHandlerWaitsForTheNextTurn) {
  TEventLoop loop;
  int chain = 0;
  std::function<void()> again = [&] {
    if (++chain < 3) loop.StartTimer(0ms, again);
  };
  loop.StartTimer(0ms, again);
  loop.RunOnce(10ms);
  EXPECT_EQ(chain, 1);
  loop.RunOnce(10ms);
  loop.RunOnce(10ms);
  EXPECT_EQ(chain, 3);
}

TEST(EventLoop, WaitReturnsAfterItsTimeoutWhenNothingHappens) {
  TEventLoop loop;
  for (auto timeout : {0ms, 2ms, 30ms}) {
    const auto start = Clock::now();
    EXPECT_FALSE(loop.RunOnce(timeout));
    const auto took = Clock::now() - start;
    EXPECT_GE(took, timeout);
    EXPECT_LT(took, timeout + 1s);
  }
}

TEST(EventLoop, WakeFromAnotherThreadEndsAnUnlimitedWaitAtOnce) {
  TEventLoop loop;
  const TLoopWaker waker = loop.Waker();
  std::thread t([waker] {
    std::this_thread::sleep_for(50ms);
    waker.Wake();
  });
  const auto start = Clock::now();
  EXPECT_TRUE(loop.RunOnce(TEventLoop::kNoTimeout));
  EXPECT_LT(Clock::now() - start, 5s);
  t.join();
  // The wake-up was consumed: the next wait is quiet again.
  EXPECT_FALSE(loop.RunOnce(0ms));
}

TEST(EventLoop, AWakerOutlivesItsLoop) {
  TLoopWaker waker;
  {
    TEventLoop loop;
    waker = loop.Waker();
  }
  ASSERT_TRUE(waker);
  waker.Wake();
}

TEST(EventLoop, AnIdleWaitUsesNoCpu) {
  // A blocked wait costs no processor time however long it lasts. The bound is loose so that
  // a loaded machine or a sanitizer cannot make it fail; a spinning wait would use ~1 s.
  TEventLoop loop;
  const double before = ThreadCpuSeconds();
  const auto start = Clock::now();
  while (Clock::now() - start < 1s) loop.RunOnce(1s);
  EXPECT_LT(ThreadCpuSeconds() - before, 0.2);
}

TEST(EventLoop, ThreadLoopIsPerThread) {
  TEventLoop* mine = &TEventLoop::ForThisThread();
  EXPECT_EQ(mine, &TEventLoop::ForThisThread());
  TEventLoop* other = nullptr;
  std::thread([&] { other = &TEventLoop::ForThisThread(); }).join();
  EXPECT_NE(mine, other);
}

}  // namespace
}  // namespace nsk
