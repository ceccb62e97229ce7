// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/bytequeue.h"
#include "net/logtype.h"
#include "net/socketerror.h"
#include "platform/eventloop.h"

namespace nsk {

class TWynSock;

using TNotifyEvent = std::function<void(TWynSock& Sender)>;
using TLogEvent = std::function<void(TWynSock& Sender, const std::string& status, TLogType LogType)>;
using TOnPacketRecvdEvent = std::function<void(TWynSock& Sender, std::int32_t ByteCount)>;

// The 1-based position of the n-th occurrence of ch in s, or s.size() + 1 when s holds fewer.
int NthPos(std::string_view s, char ch, int n);

// One IPv4 TCP socket driven by the event loop of the thread that creates it. Every public
// operation blocks: it waits in turns on the thread's loop (serving every other socket, timer
// and look-up of that thread meanwhile), calls OnIdle once per turn (a turn lasts at most
// IdleTurn, 2 ms unless changed, while OnIdle is set), and returns as soon as what it waits for arrived, its time-out timer
// fired or Abort was called. Failures raise ESocketError (or a subclass) whose message is one
// of the failure texts of socketerror.h; the component stays usable after Disconnect.
//
// The component belongs to its thread. Only Abort may be called from elsewhere: from an event
// handler running inside a wait, or from another thread (it wakes the wait).
class TWynSock {
 public:
  static constexpr std::size_t kBufferSize = 16384;
  // Most bytes moved by one socket call.
  static constexpr int kMaxChunk = 16383;
  // Most characters WriteString sends.
  static constexpr std::size_t kMaxLineText = 16384;
  // Longest line ReadLine accepts, LF included.
  static constexpr std::size_t kMaxLineLength = 65536;

  // Where socket notifications go: SocketEvent is the ordinary registration (data is read as
  // it arrives, a connect completes Connect, a close drains and disconnects); AsyncDone serves
  // the explicit operations ConnectIP/WaitConnect and Listen(true)/WaitAccept (a connect or an
  // incoming connection only marks the event as arrived, data is left unread until the socket
  // is registered for SocketEvent again, a close still drains and disconnects); None cancels
  // all notifications.
  enum class TNotify { None, SocketEvent, AsyncDone };

  TWynSock();
  virtual ~TWynSock();
  TWynSock(const TWynSock&) = delete;
  TWynSock& operator=(const TWynSock&) = delete;

  // Milliseconds; 0 = no limit. ConnectTimeOut covers a look-up, a connect and waiting for an
  // incoming connection; DataTimeOut measures silence while sending or receiving.
  std::int32_t ConnectTimeOut = 0;
  std::int32_t DataTimeOut = 0;
  // When Proxy is not empty, Connect resolves and connects to Proxy:ProxyPort instead.
  std::string Proxy;
  std::int32_t ProxyPort = 0;
  std::string Host;
  std::int32_t Port = 0;
  // Longest turn of a wait while OnIdle is set. TEventLoop::kNoTimeout lets a turn last until
  // something arrives: for an owner whose OnIdle has news only when the thread's loop was
  // woken (a stop request that wakes it), so that a stalled transfer costs no CPU.
  std::chrono::milliseconds IdleTurn{2};

  TNotifyEvent OnIdle;
  TNotifyEvent OnConnecting;
  TNotifyEvent OnConnected;
  TNotifyEvent OnHostResolving;
  TNotifyEvent OnHostResolved;
  TLogEvent OnLogMessage;
  TNotifyEvent OnRequest;
  TNotifyEvent OnResponse;
  // In packet mode (ReceiveData) the first ByteCount bytes of the sender's Buffer.
  TOnPacketRecvdEvent OnPacketRecvd;

  char Buffer[kBufferSize];

  // Bytes handed to OnPacketRecvd since ReceiveData began.
  std::int32_t BytesRecvd() const { return bytesRecvd_; }
  // The last reply line of Transaction, with its line end, and the number it begins with.
  const std::string& TransactionReply() const { return transactionReply_; }
  std::int32_t ReplyNumber() const { return replyNumber_; }
  // The socket; -1 when there is none.
  int Handle() const { return fd_; }
  bool Connected() const { return connected_; }
  bool Aborted() const { return aborted_.load(std::memory_order_acquire); }
  bool TimedOut() const { return timedOut_; }
  // The address Connect and ConnectIP use; after WaitAccept, the accepted peer's.
  const sockaddr_in& RemoteAddr() const { return remoteAddr_; }

  // Resolves Host (or Proxy) and connects; nothing when already connected. Clears Aborted.
  virtual void Connect();
  // Closes the socket and opens a fresh, unconnected one.
  void Disconnect();
  // Ends every wait at its next test; stays set until the next Connect. Thread-safe.
  virtual void Abort();
  // Sends command + CR LF, reads one reply line (returned with its line end).
  virtual std::string Transaction(const std::string& command);

  // Sends count bytes (0: up to the first zero byte) and waits until all are sent. Does
  // nothing once aborted.
  void Write(const void* bytes, std::uint16_t count);
  // Sends at most kMaxLineText characters of text.
  void WriteString(std::string_view text);
  void WriteLine(std::string_view text);
  // Waits for a complete line and returns it with its LF. Raises ELineTooLong when
  // kMaxLineLength bytes came without an LF, EConnectionLost when the connection ended first.
  std::string ReadLine();
  // Waits for count bytes and returns them; 0 returns whatever is buffered without waiting.
  std::string Read(std::uint16_t count);
  // Packet mode: hands every received byte to OnPacketRecvd (first the bytes already
  // buffered) until the peer closes the connection.
  void ReceiveData();

  // Starts a connection to Host (a dotted IPv4 address) on Port with AsyncDone notifications.
  void ConnectIP();
  void WaitConnect();
  // Binds to 0.0.0.0:Port (0 = any free port) and listens for one connection; asyncDone
  // chooses AsyncDone (true, what WaitAccept needs) or SocketEvent notifications.
  void Listen(bool asyncDone);
  // Waits for the incoming connection and returns the accepted socket (the caller owns it,
  // usually handing it to AttachSocket).
  int WaitAccept();
  // Closes the current (listening) socket and takes over s, keeping the current notification
  // registration (as an accepted socket inherits its listener's).
  void AttachSocket(int s);
  // Re-registers the socket's notifications with all kinds of event.
  void SelectNotify(TNotify notify);

  // "%d.%d.%d.%d" of the first address of the local host name.
  std::string LocalIP() const;
  // RemoteAddr's address, dotted.
  std::string RemoteIP() const;
  // The local address of this socket with "." replaced by ",", for the FTP PORT command.
  std::string PortIPText() const;
  // ",%d,%d" of the local port of this socket: high byte, then low byte.
  std::string PortNumberText() const;

 protected:
  // Removes every CR and LF from text and passes what is left on to OnLogMessage.
  void LogMessage(std::string_view text, TLogType logType);
  // Logs text as ltError, then raises it.
  [[noreturn]] void FailLogged(const char* text);
  [[noreturn]] static void Fail(const char* text);

  std::string transactionReply_;
  std::int32_t replyNumber_ = 0;

 private:
  enum class TState { Idle, Connecting, Connected, Listening };
  using TClock = std::chrono::steady_clock;

  template <class Cond>
  void WaitFor(Cond done);
  void StartTimer(std::int32_t interval);
  void ArmTimer(std::int32_t interval);
  void StopTimer();
  void TimerFired();
  void Activity();

  bool OpenSocket(bool lingerOff);
  bool CloseSocket();
  void EnsureSocket();
  void StartConnect();
  short Interest() const;
  void UpdateInterest();
  bool RecvFull() const;

  void OnReady(short revents);
  void ConnectDone(int error);
  void AcceptReady(int error);
  void ReadHandler(short revents);
  void WriteHandler();
  void CloseHandler();
  void SocketFailed();
  void Deliver(const char* data, std::size_t n);
  [[noreturn]] void FailLost();
  void Resolve();

  TEventLoop& loop_;
  const TLoopWaker waker_;
  sockaddr_in remoteAddr_{};
  std::int32_t bytesRecvd_ = 0;

  int fd_ = -1;
  TEventLoop::TWatchId watch_ = 0;
  unsigned generation_ = 0;  // counts socket replacements
  TState state_ = TState::Idle;
  TNotify notify_ = TNotify::SocketEvent;
  bool acceptOnly_ = false;
  bool acceptArmed_ = false;
  bool closeArmed_ = false;

  TByteQueue sendQueue_;
  TByteQueue recvQueue_;

  bool connected_ = false;
  std::atomic<bool> aborted_ = false;
  bool timedOut_ = false;
  bool packetMode_ = false;
  bool destroying_ = false;
  bool eventArrived_ = false;
  bool succeeded_ = false;
  bool sendDone_ = false;
  bool sendFailed_ = false;
  bool sockFailed_ = false;
  bool inRead_ = false;
  bool readsHeld_ = false;

  bool timerOn_ = false;
  TClock::time_point timerDeadline_{};
  TEventLoop::TTimerId loopTimer_ = 0;
  TClock::time_point loopTimerAt_{};

  TEventLoop::TLookupId lookUp_ = 0;
  in_addr lookedUp_{};
};

}  // namespace nsk
