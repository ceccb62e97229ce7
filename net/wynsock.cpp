// SPDX-License-Identifier: GPL-2.0-or-later
#include "net/wynsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/resolver.h"

namespace nsk {
namespace {

using namespace std::chrono_literals;

// Reads per readiness report in packet mode before the wait gets its turn (about 1 MiB).
constexpr int kReadsPerEvent = 64;
// Outside packet mode the socket is not read while this much waits unconsumed.
constexpr std::size_t kRecvQueueLimit = 2 * TWynSock::kMaxLineLength;

std::string Dotted(in_addr a) {
  char buf[INET_ADDRSTRLEN] = "0.0.0.0";
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

int SocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

}  // namespace

int NthPos(std::string_view s, char ch, int n) {
  int seen = 0;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i] == ch && ++seen == n) return static_cast<int>(i) + 1;
  return static_cast<int>(s.size()) + 1;
}

TWynSock::TWynSock() : loop_(TEventLoop::ForThisThread()), waker_(loop_.Waker()) {
  std::memset(Buffer, 0, sizeof Buffer);
  remoteAddr_.sin_family = AF_INET;
  // The first socket resets its connection when closed (zero-second linger).
  if (!OpenSocket(true)) FailLogged(kTextSocketError);
}

TWynSock::~TWynSock() {
  TWynSock::Abort();
  destroying_ = true;
  StopTimer();
  if (lookUp_) loop_.CancelLookUp(lookUp_);
  connected_ = false;
  CloseSocket();
}

// ---- socket and registration ----

bool TWynSock::OpenSocket(bool lingerOff) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd_ < 0) return false;
  if (lingerOff) {
    linger l{1, 0};
    if (::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) {
      CloseSocket();
      return false;
    }
  }
  state_ = TState::Idle;
  notify_ = TNotify::SocketEvent;
  acceptOnly_ = false;
  watch_ = loop_.Watch(fd_, 0, [this](short revents) { OnReady(revents); });
  return true;
}

bool TWynSock::CloseSocket() {
  if (fd_ < 0) return true;
  loop_.Unwatch(watch_);
  watch_ = 0;
  const int rc = ::close(fd_);
  fd_ = -1;
  ++generation_;
  state_ = TState::Idle;
  inRead_ = false;
  readsHeld_ = false;
  return rc == 0 || errno == EINTR;
}

void TWynSock::EnsureSocket() {
  if (fd_ < 0 && !OpenSocket(false)) FailLogged(kTextSocketError);
}

bool TWynSock::RecvFull() const {
  return !packetMode_ && recvQueue_.Size() >= kRecvQueueLimit;
}

// What the loop watches follows the registration and the state of the socket, so that a
// notification that has been served is not reported again until it can mean something new
// (a connect or an accept once, data while there is room for it, writability while bytes
// wait to be sent).
short TWynSock::Interest() const {
  if (fd_ < 0 || notify_ == TNotify::None) return 0;
  switch (state_) {
    case TState::Idle:
      return 0;
    case TState::Listening:
      return acceptArmed_ ? POLLIN : 0;
    case TState::Connecting:
      return acceptOnly_ ? 0 : POLLOUT;
    case TState::Connected: {
      if (acceptOnly_) return 0;
      if (notify_ == TNotify::AsyncDone) return closeArmed_ ? POLLRDHUP : 0;
      short ev = 0;
      if (!inRead_) {
        ev |= POLLRDHUP;
        if (!RecvFull()) ev |= POLLIN;
      }
      if (!sendQueue_.Empty()) ev |= POLLOUT;
      return ev;
    }
  }
  return 0;
}

void TWynSock::UpdateInterest() {
  if (watch_) loop_.SetEvents(watch_, Interest());
}

void TWynSock::SelectNotify(TNotify notify) {
  notify_ = notify;
  acceptOnly_ = false;
  closeArmed_ = true;
  UpdateInterest();
}

// ---- timer ----

void TWynSock::StartTimer(std::int32_t interval) {
  timedOut_ = false;
  timerOn_ = true;
  ArmTimer(interval);
}

void TWynSock::ArmTimer(std::int32_t interval) {
  if (interval <= 0) {
    timerDeadline_ = TClock::time_point::max();
    if (loopTimer_) loop_.CancelTimer(loopTimer_);
    loopTimer_ = 0;
    return;
  }
  timerDeadline_ = TClock::now() + std::chrono::milliseconds(interval);
  // A loop timer due earlier re-arms itself for the rest: moving the deadline on every packet
  // costs no more than reading the clock.
  if (loopTimer_ && loopTimerAt_ <= timerDeadline_) return;
  if (loopTimer_) loop_.CancelTimer(loopTimer_);
  loopTimerAt_ = timerDeadline_;
  loopTimer_ = loop_.StartTimer(std::chrono::milliseconds(interval), [this] { TimerFired(); });
}

void TWynSock::TimerFired() {
  loopTimer_ = 0;
  if (!timerOn_) return;
  const auto now = TClock::now();
  if (now < timerDeadline_) {
    loopTimerAt_ = timerDeadline_;
    loopTimer_ = loop_.StartTimer(timerDeadline_ - now, [this] { TimerFired(); });
    return;
  }
  timerOn_ = false;
  timedOut_ = true;
}

void TWynSock::StopTimer() {
  timerOn_ = false;
  if (loopTimer_) loop_.CancelTimer(loopTimer_);
  loopTimer_ = 0;
}

// Data moved: the time-out counts silence, so it starts again with DataTimeOut.
void TWynSock::Activity() {
  if (timerOn_) ArmTimer(DataTimeOut);
}

template <class Cond>
void TWynSock::WaitFor(Cond done) {
  while (!done() && !Aborted() && !timedOut_) {
    // Without an idle handler nobody needs the turns: the wait sleeps until something comes
    // (a notification, the timer, a look-up answer or an Abort from another thread). So does
    // it with one that asked for turns without a time limit.
    const bool timed = OnIdle && IdleTurn >= std::chrono::milliseconds::zero();
    loop_.RunOnce(timed ? std::chrono::steady_clock::duration(IdleTurn)
                        : std::chrono::steady_clock::duration(TEventLoop::kNoTimeout));
    if (OnIdle) OnIdle(*this);
  }
}

// ---- notifications ----

void TWynSock::OnReady(short revents) {
  // Errors inside a notification never leave it: the waiting call ends by its own test.
  try {
    switch (state_) {
      case TState::Idle:
        break;
      case TState::Listening:
        acceptArmed_ = false;
        AcceptReady(revents & POLLERR ? SocketError(fd_) : 0);
        break;
      case TState::Connecting: {
        int err = SocketError(fd_);
        if (!err && !(revents & POLLOUT)) err = ECONNREFUSED;
        ConnectDone(err);
        break;
      }
      case TState::Connected:
        if (notify_ == TNotify::AsyncDone) {
          if (revents & (POLLRDHUP | POLLHUP | POLLERR)) {
            closeArmed_ = false;
            eventArrived_ = true;
            succeeded_ = !(revents & POLLERR);
            CloseHandler();
          }
          break;
        }
        if (revents & POLLOUT) WriteHandler();
        if (state_ == TState::Connected && (revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)))
          ReadHandler(revents);
        break;
    }
  } catch (...) {
    succeeded_ = false;
  }
}

void TWynSock::ConnectDone(int error) {
  succeeded_ = error == 0;
  state_ = error ? TState::Idle : TState::Connected;
  closeArmed_ = true;
  if (notify_ == TNotify::AsyncDone) {
    eventArrived_ = true;
    connected_ = true;  // whatever the outcome; WaitConnect tests it
  } else if (succeeded_) {
    connected_ = true;
  }
  UpdateInterest();
}

void TWynSock::AcceptReady(int error) {
  succeeded_ = error == 0;
  if (notify_ == TNotify::AsyncDone) eventArrived_ = true;
  connected_ = true;
  UpdateInterest();
}

void TWynSock::Deliver(const char* data, std::size_t n) {
  if (packetMode_) {
    bytesRecvd_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(bytesRecvd_) + n);
    if (OnPacketRecvd) OnPacketRecvd(*this, static_cast<std::int32_t>(n));
  } else {
    recvQueue_.Append(data, n);
  }
}

void TWynSock::ReadHandler(short revents) {
  if (Aborted() || timedOut_) {
    // Nothing more is handed on after an abort or a time-out.
    notify_ = TNotify::None;
    UpdateInterest();
    return;
  }
  if (inRead_) {
    // A packet handler is waiting inside the read handler: hold reads until it returns.
    readsHeld_ = true;
    UpdateInterest();
    return;
  }
  struct TGuard {
    explicit TGuard(TWynSock& s) : sock(s), gen(s.generation_) { sock.inRead_ = true; }
    ~TGuard() {
      if (sock.generation_ != gen) return;
      sock.inRead_ = false;
      if (sock.readsHeld_) {
        sock.readsHeld_ = false;
        sock.UpdateInterest();
      }
    }
    TWynSock& sock;
    unsigned gen;
  } guard(*this);

  const unsigned gen = generation_;
  for (int i = 0; i < kReadsPerEvent; ++i) {
    if (RecvFull()) {
      // Nobody consumes: stop reading, but a close is still served (the socket holds at
      // most its receive buffer).
      if (revents & (POLLRDHUP | POLLHUP | POLLERR))
        CloseHandler();
      else
        UpdateInterest();
      return;
    }
    char* dst = packetMode_ ? Buffer : recvQueue_.Reserve(kMaxChunk);
    const ssize_t n = ::recv(fd_, dst, kMaxChunk, 0);
    if (n > 0) {
      Activity();
      if (packetMode_)
        Deliver(Buffer, static_cast<std::size_t>(n));
      else
        recvQueue_.Commit(static_cast<std::size_t>(n));
      if (n < kMaxChunk || Aborted() || timedOut_ || generation_ != gen ||
          state_ != TState::Connected)
        return;
      continue;
    }
    if (n == 0) {
      CloseHandler();
      return;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    SocketFailed();
    return;
  }
}

void TWynSock::WriteHandler() {
  if (sendQueue_.Empty() || Aborted() || timedOut_) return;
  for (;;) {
    const ssize_t n = ::send(fd_, sendQueue_.Data(), sendQueue_.Size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      // A full send buffer is no failure: the rest goes when the socket is writable again.
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      sendQueue_.Clear();
      sendFailed_ = true;
      succeeded_ = false;
      sockFailed_ = true;
      UpdateInterest();
      LogMessage(kTextSocketError, TLogType::ltError);
      return;
    }
    Activity();
    sendQueue_.Consume(static_cast<std::size_t>(n));
    if (sendQueue_.Empty()) {
      sendDone_ = true;
      break;
    }
  }
  UpdateInterest();
}

// The peer closed: hand on what is still buffered in the socket, then replace it.
void TWynSock::CloseHandler() {
  const unsigned gen = generation_;
  while (!Aborted() && !timedOut_ && generation_ == gen) {
    char* dst = packetMode_ ? Buffer : recvQueue_.Reserve(kMaxChunk);
    const ssize_t n = ::recv(fd_, dst, kMaxChunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (packetMode_)
      Deliver(Buffer, static_cast<std::size_t>(n));
    else
      recvQueue_.Commit(static_cast<std::size_t>(n));
  }
  if (generation_ != gen) return;
  connected_ = false;
  Disconnect();
}

// recv failed (the connection was reset or broke): log it, and the connection is over.
void TWynSock::SocketFailed() {
  succeeded_ = false;
  sockFailed_ = true;
  connected_ = false;
  LogMessage(kTextSocketError, TLogType::ltError);
  Disconnect();
}

// ---- failures and log ----

void TWynSock::LogMessage(std::string_view text, TLogType logType) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text)
    if (c != '\r' && c != '\n') clean += c;
  if (!clean.empty() && OnLogMessage) OnLogMessage(*this, clean, logType);
}

void TWynSock::FailLogged(const char* text) {
  LogMessage(text, TLogType::ltError);
  throw ESocketError(text);
}

void TWynSock::Fail(const char* text) { throw ESocketError(text); }

// A read could not be satisfied because the connection is over.
void TWynSock::FailLost() {
  if (sockFailed_) throw EConnectionLost(kTextSocketError);  // logged when it broke
  LogMessage(kTextFailed, TLogType::ltError);
  throw EConnectionLost(kTextFailed);
}

// ---- operations ----

void TWynSock::Abort() {
  aborted_.store(true, std::memory_order_release);
  waker_.Wake();
}

void TWynSock::Disconnect() {
  connected_ = false;
  if (fd_ < 0) return;
  const bool closed = CloseSocket();
  if (!closed) Fail(kTextSocketError);
  if (!destroying_ && !OpenSocket(false)) Fail(kTextSocketError);
}

void TWynSock::Resolve() {
  if (OnHostResolving) OnHostResolving(*this);
  const std::string& name = Proxy.empty() ? Host : Proxy;
  LogMessage("解析主机地址[" + name + "]...", TLogType::ltState);
  in_addr addr{};
  if (::inet_aton(name.c_str(), &addr)) {
    remoteAddr_.sin_addr = addr;
  } else {
    remoteAddr_.sin_addr.s_addr = 0;
    StartTimer(ConnectTimeOut);
    eventArrived_ = false;
    lookedUp_.s_addr = 0;
    lookUp_ = loop_.LookUp(name, [this](TLookupResult r) {
      lookUp_ = 0;
      succeeded_ = r.Error == 0;
      if (succeeded_ && !r.Addresses.empty()) lookedUp_ = r.Addresses.front();
      eventArrived_ = true;
    });
    WaitFor([this] { return eventArrived_; });
    StopTimer();
    if (lookUp_) {
      // Ended by time-out or abort: a late answer must not touch this component any more.
      loop_.CancelLookUp(lookUp_);
      lookUp_ = 0;
    }
    if (timedOut_) FailLogged(kTextTimedOut);
    if (Aborted()) Fail(kTextAborted);
    if (!succeeded_ || lookedUp_.s_addr == 0) FailLogged(kTextFailed);
    remoteAddr_.sin_addr = lookedUp_;
  }
  if (OnHostResolved) OnHostResolved(*this);
  LogMessage("主机地址解析完毕", TLogType::ltState);
}

// Starts a non-blocking connect to remoteAddr_. A connect that fails at once is reported like
// one that fails later, so that the waiting call sees it instead of waiting for nothing.
void TWynSock::StartConnect() {
  state_ = TState::Connecting;
  closeArmed_ = true;
  const int rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&remoteAddr_), sizeof remoteAddr_);
  if (rc == 0)
    ConnectDone(0);
  else if (errno == EINPROGRESS || errno == EINTR)
    UpdateInterest();
  else
    ConnectDone(errno);
}

void TWynSock::Connect() {
  aborted_.store(false, std::memory_order_release);
  if (connected_) return;
  // Bytes of an earlier connection mean nothing to the next one.
  recvQueue_.Clear();
  sendQueue_.Clear();
  sockFailed_ = false;
  Resolve();
  if (OnConnecting) OnConnecting(*this);
  remoteAddr_.sin_family = AF_INET;
  const bool viaProxy = !Proxy.empty();
  const std::int32_t port = viaProxy ? ProxyPort : Port;
  if (viaProxy)
    LogMessage("连接到代理服务器[" + Proxy + ":" + std::to_string(ProxyPort) + "]", TLogType::ltState);
  else
    LogMessage("连接到主机[" + Host + ":" + std::to_string(Port) + "]", TLogType::ltState);
  remoteAddr_.sin_port = htons(static_cast<std::uint16_t>(port));
  EnsureSocket();
  eventArrived_ = false;
  succeeded_ = true;
  notify_ = TNotify::SocketEvent;
  acceptOnly_ = false;
  StartTimer(ConnectTimeOut);
  StartConnect();
  WaitFor([this] { return connected_ || !succeeded_; });
  StopTimer();
  if (timedOut_) FailLogged(kTextTimedOut);
  if (Aborted()) Fail(kTextAborted);
  if (!succeeded_) FailLogged(kTextFailed);
  if (OnConnected) OnConnected(*this);
  LogMessage(viaProxy ? "代理服务器连接完毕" : "主机连接完毕", TLogType::ltState);
}

void TWynSock::Write(const void* bytes, std::uint16_t count) {
  if (Aborted()) return;
  const char* p = static_cast<const char*>(bytes);
  const std::size_t n = count ? count : std::strlen(p);
  if (n == 0) return;  // nothing to send is sent at once
  sendQueue_.Append(p, n);
  sendDone_ = false;
  sendFailed_ = false;
  StartTimer(DataTimeOut);
  WriteHandler();
  WaitFor([this] { return sendDone_ || sendFailed_ || fd_ < 0 || state_ != TState::Connected; });
  StopTimer();
  if (!sendDone_) {
    // What was not sent is dropped, so that nothing waits to be written any more.
    sendQueue_.Clear();
    UpdateInterest();
  }
  if (Aborted()) Fail(kTextAborted);
  if (timedOut_) FailLogged(kTextTimedOut);
  if (!sendDone_) {
    if (!sendFailed_) LogMessage(kTextSocketError, TLogType::ltError);
    Fail(kTextSocketError);
  }
}

void TWynSock::WriteString(std::string_view text) {
  const std::size_t n = std::min(text.size(), kMaxLineText);
  Write(text.data(), static_cast<std::uint16_t>(n));
}

void TWynSock::WriteLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  WriteString(line);
}

std::string TWynSock::ReadLine() {
  StartTimer(DataTimeOut);
  std::size_t lineLength = 0;
  auto complete = [&] {
    const std::size_t window = std::min(recvQueue_.Size(), kMaxLineLength);
    const void* lf = window ? std::memchr(recvQueue_.Data(), '\n', window) : nullptr;
    if (lf) {
      lineLength = static_cast<const char*>(lf) - recvQueue_.Data() + 1;
      return true;
    }
    return window >= kMaxLineLength || !connected_;
  };
  WaitFor(complete);
  StopTimer();
  if (Aborted()) Fail(kTextAborted);
  if (timedOut_) FailLogged(kTextTimedOut);
  if (lineLength == 0) {
    if (recvQueue_.Size() >= kMaxLineLength) {
      LogMessage(kTextFailed, TLogType::ltError);
      throw ELineTooLong();
    }
    FailLost();
  }
  std::string line(recvQueue_.Data(), lineLength);
  recvQueue_.Consume(lineLength);
  UpdateInterest();
  return line;
}

std::string TWynSock::Read(std::uint16_t count) {
  StartTimer(DataTimeOut);
  if (count > 0) WaitFor([&] { return recvQueue_.Size() >= count || !connected_; });
  StopTimer();
  if (Aborted()) Fail(kTextAborted);
  if (timedOut_) FailLogged(kTextTimedOut);
  if (count > 0 && recvQueue_.Size() < count) FailLost();
  const std::size_t n = count ? count : recvQueue_.Size();
  std::string bytes(recvQueue_.Data(), n);
  recvQueue_.Consume(n);
  UpdateInterest();
  return bytes;
}

std::string TWynSock::Transaction(const std::string& command) {
  replyNumber_ = 0;
  if (OnRequest) OnRequest(*this);
  WriteLine(command);
  LogMessage(command, TLogType::ltCommand);
  if (OnResponse) OnResponse(*this);
  std::string line = ReadLine();
  transactionReply_ = line;
  LogMessage(line, TLogType::ltServer);
  // At most ten leading digits; a value beyond 32 bits reads as 0 like no number at all.
  std::int64_t value = 0;
  for (std::size_t i = 0; i < line.size() && i < 10 && line[i] >= '0' && line[i] <= '9'; ++i)
    value = value * 10 + (line[i] - '0');
  replyNumber_ = value <= INT32_MAX ? static_cast<std::int32_t>(value) : 0;
  return line;
}

void TWynSock::ReceiveData() {
  if (Aborted()) Fail(kTextAborted);
  if (timedOut_) FailLogged(kTextTimedOut);
  packetMode_ = true;
  bytesRecvd_ = 0;
  struct TPacketMode {
    explicit TPacketMode(TWynSock& s) : sock(s) {}
    ~TPacketMode() {
      sock.packetMode_ = false;
      sock.UpdateInterest();
    }
    TWynSock& sock;
  } mode(*this);
  // What came with the last reply goes first.
  while (!recvQueue_.Empty() && !Aborted()) {
    const std::size_t n = std::min<std::size_t>(recvQueue_.Size(), kMaxChunk);
    std::memcpy(Buffer, recvQueue_.Data(), n);
    recvQueue_.Consume(n);
    Deliver(Buffer, n);
  }
  recvQueue_.Clear();
  recvQueue_.Shrink();
  UpdateInterest();
  StartTimer(DataTimeOut);
  WaitFor([this] { return !connected_; });
  StopTimer();
  if (Aborted()) Fail(kTextAborted);
  if (timedOut_) FailLogged(kTextTimedOut);
  // A connection that broke is not a finished transfer (the failure was logged).
  if (sockFailed_) Fail(kTextSocketError);
}

void TWynSock::ConnectIP() {
  in_addr addr{};
  if (!::inet_aton(Host.c_str(), &addr)) FailLogged(kTextSocketError);
  EnsureSocket();
  recvQueue_.Clear();
  sendQueue_.Clear();
  sockFailed_ = false;
  remoteAddr_.sin_family = AF_INET;
  remoteAddr_.sin_addr = addr;
  remoteAddr_.sin_port = htons(static_cast<std::uint16_t>(Port));
  eventArrived_ = false;
  succeeded_ = true;
  notify_ = TNotify::AsyncDone;
  acceptOnly_ = false;
  StartConnect();
}

void TWynSock::WaitConnect() {
  StartTimer(ConnectTimeOut);
  WaitFor([this] { return eventArrived_; });
  StopTimer();
  if (Aborted()) Fail(kTextAborted);
  if (timedOut_) FailLogged(kTextTimedOut);
  if (!succeeded_) FailLogged(kTextFailed);
}

void TWynSock::Listen(bool asyncDone) {
  EnsureSocket();
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(static_cast<std::uint16_t>(Port));
  eventArrived_ = false;
  ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  notify_ = asyncDone ? TNotify::AsyncDone : TNotify::SocketEvent;
  acceptOnly_ = true;
  acceptArmed_ = true;
  state_ = TState::Listening;
  ::listen(fd_, 1);
  UpdateInterest();
}

int TWynSock::WaitAccept() {
  StartTimer(ConnectTimeOut);
  WaitFor([this] { return eventArrived_; });
  StopTimer();
  if (Aborted()) Fail(kTextAborted);
  if (timedOut_) FailLogged(kTextTimedOut);
  if (!succeeded_) FailLogged(kTextFailed);
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  const int s = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  acceptArmed_ = true;
  UpdateInterest();
  if (s < 0) FailLogged(kTextSocketError);
  remoteAddr_ = peer;
  return s;
}

void TWynSock::AttachSocket(int s) {
  const TNotify notify = notify_;
  const bool acceptOnly = acceptOnly_;
  CloseSocket();
  fd_ = s;
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
  state_ = TState::Connected;
  notify_ = notify;
  acceptOnly_ = acceptOnly;
  closeArmed_ = true;
  sockFailed_ = false;
  watch_ = loop_.Watch(fd_, Interest(), [this](short revents) { OnReady(revents); });
}

std::string TWynSock::LocalIP() const {
  char name[200] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "0.0.0.0";
  const TLookupResult r = LookUpHostNow(name);
  if (r.Error != 0 || r.Addresses.empty()) return "0.0.0.0";
  const auto* b = reinterpret_cast<const unsigned char*>(&r.Addresses.front());
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return buf;
}

std::string TWynSock::RemoteIP() const { return Dotted(remoteAddr_.sin_addr); }

std::string TWynSock::PortIPText() const {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (fd_ >= 0) ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len);
  std::string text = Dotted(local.sin_addr);
  std::replace(text.begin(), text.end(), '.', ',');
  return text;
}

std::string TWynSock::PortNumberText() const {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (fd_ >= 0) ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len);
  const unsigned port = ntohs(local.sin_port);
  char buf[32];
  std::snprintf(buf, sizeof buf, ",%u,%u", port >> 8, port & 0xFF);
  return buf;
}

}  // namespace nsk
