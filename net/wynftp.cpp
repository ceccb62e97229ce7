// SPDX-License-Identifier: GPL-2.0-or-later
#include "net/wynftp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string_view>
#include <utility>

#include "engine/textutil.h"
#include "net/urlparts.h"
#include "net/wynhttp.h"

namespace nsk {
namespace {

constexpr std::int32_t kDefaultPort = 21;

// A reply line is continued by the next one while it begins with a blank or has "-" in its
// fourth position ("220-Welcome" … "220 ready").
bool Continues(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || (line.size() >= 4 && line[3] == '-'));
}

}  // namespace

TWynFtp::TWynFtp() { Port = kDefaultPort; }

TWynFtp::~TWynFtp() {
  Abort();
  FreeDataSock();
}

void TWynFtp::Abort() {
  {
    std::lock_guard lock(dataMutex_);
    if (dataSock_) dataSock_->Abort();
  }
  TWynSock::Abort();
}

void TWynFtp::ResponseError() { FailLogged(kTextFtpResponseError); }

std::string TWynFtp::ReplyLine() {
  try {
    return ReadLine();
  } catch (const ELineTooLong&) {
    ResponseError();
  }
}

std::string TWynFtp::FirstLineTransaction(const std::string& command) {
  // A command that cannot go out any more is neither sent nor logged as sent.
  if (Aborted()) Fail(kTextAborted);
  try {
    return TWynSock::Transaction(command);
  } catch (const ELineTooLong&) {
    ResponseError();
  }
}

std::string TWynFtp::Transaction(const std::string& command) {
  return ReadMore(FirstLineTransaction(command));
}

std::string TWynFtp::ReadMore(std::string line) {
  // Lines are logged and dropped, but a reply that never ends is no reply either.
  std::size_t total = line.size();
  while (Continues(line)) {
    line = ReplyLine();
    LogMessage(line, TLogType::ltServer);
    total += line.size();
    if (total > kMaxReply) ResponseError();
  }
  return line;
}

void TWynFtp::ParseURL() { nsk::ParseURL(url_, Host, Port, path_, kDefaultPort); }

void TWynFtp::Login() {
  if (Connected()) return;
  try {
    // Connect empties the received-bytes queue.
    Connect();
    ReadMore(" ");  // the greeting: at least one line, and all lines of a multi-line one
    if (User.empty() || Password.empty()) Fail(kTextFtpConnectError);
    // Through an FTP proxy the target host goes with the user name; its port is not sent.
    Transaction("USER " + User + (Proxy.empty() ? "" : "@" + Host));
    if (ReplyNumber() > 400 && ReplyNumber() < 600) Fail(kTextFtpConnectError);
    if (ReplyNumber() == 331) {
      Transaction("PASS " + Password);
      if (ReplyNumber() > 400 && ReplyNumber() < 600) Fail(kTextFtpConnectError);
    }
  } catch (...) {
    // A half-made login is no use to anybody: the next Get starts afresh.
    try {
      Disconnect();
    } catch (...) {
    }
    throw;
  }
}

void TWynFtp::TypeImage() {
  Transaction("TYPE I");
  if (ReplyNumber() > 300 && ReplyNumber() < 600) ResponseError();
}

void TWynFtp::CopyHandlers() {
  TWynSock& ds = *dataSock_;
  if (OnPacketRecvd) ds.OnPacketRecvd = OnPacketRecvd;
  if (OnIdle) ds.OnIdle = OnIdle;
  if (OnLogMessage) ds.OnLogMessage = OnLogMessage;
  // An owner that wakes the loop itself wants no periodic turns on either connection.
  ds.IdleTurn = IdleTurn;
}

void TWynFtp::RestartAndRetrieve() {
  Transaction("REST " + std::to_string(restartPos_));
  if (ReplyNumber() != 350) ResponseError();
  // The reply to RETR is examined by its first line; a multi-line one is then read on.
  std::string line = FirstLineTransaction("RETR " + path_);
  if (ReplyNumber() > 300 && ReplyNumber() < 600) ResponseError();
  ReadMore(std::move(line));
}

void TWynFtp::OpenPassive() {
  TWynSock& ds = *dataSock_;
  TypeImage();
  const std::string reply = Transaction("PASV");
  if (ReplyNumber() != 227) ResponseError();

  // "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)."
  const std::size_t open = reply.find('(');
  const std::size_t from = open == std::string::npos ? 0 : open + 1;
  const std::size_t close = reply.find(')');
  const std::string numbers =
      close == std::string::npos || close < from ? "" : reply.substr(from, close - from);
  std::string host = ExtractField(numbers, ',', 1) + "." + ExtractField(numbers, ',', 2) + "." +
                     ExtractField(numbers, ',', 3) + "." + ExtractField(numbers, ',', 4);
  const std::int32_t high = StrToInt(ExtractField(numbers, ',', 5));
  const std::int32_t low = StrToInt(ExtractField(numbers, ',', 6));
  const std::int64_t port = std::int64_t(high) * 256 + low;
  // A port beyond 16 bits would silently reach another port.
  if (port < 0 || port > 65535)
    throw EConvertError("'" + std::to_string(port) + "' is not a valid port number");

  // The reply may name any host, and a hostile server would have the client connect into
  // its own network: the data connection goes to the server the control connection reached.
  in_addr named{};
  if (::inet_aton(host.c_str(), &named) && named.s_addr != RemoteAddr().sin_addr.s_addr) {
    const std::string peer = RemoteIP();
    LogMessage("PASV地址[" + host + "]不是服务器地址,改用[" + peer + "]", TLogType::ltState);
    host = peer;
  }
  ds.Host = host;
  ds.Port = static_cast<std::int32_t>(port);
  ds.ConnectIP();  // the data connection never goes through the proxy

  RestartAndRetrieve();
  ds.WaitConnect();
  ds.SelectNotify(TNotify::SocketEvent);
}

void TWynFtp::OpenActive() {
  TWynSock& ds = *dataSock_;
  ds.Port = 0;
  // Listen binds every interface; bound first to the address the control connection uses
  // (the one the PORT command names), the data port is not open to other networks. Listen's
  // own bind then finds the socket bound and leaves it so.
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (::getsockname(Handle(), reinterpret_cast<sockaddr*>(&local), &len) == 0 &&
      local.sin_family == AF_INET) {
    local.sin_port = 0;
    ::bind(ds.Handle(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
  }
  ds.Listen(true);

  TypeImage();
  Transaction("PORT " + PortIPText() + ds.PortNumberText());
  if (ReplyNumber() != 200) ResponseError();

  RestartAndRetrieve();
  const int s = ds.WaitAccept();
  ds.AttachSocket(s);
  ds.SelectNotify(TNotify::SocketEvent);
}

void TWynFtp::FreeDataSock() {
  std::unique_ptr<TWynSock> gone;
  {
    std::lock_guard lock(dataMutex_);
    gone = std::move(dataSock_);
  }
}

void TWynFtp::Get(const std::string& url, std::int32_t restartPos) {
  url_ = url;
  restartPos_ = restartPos;
  ParseURL();
  // A size learnt for another file says nothing about this one.
  const std::string target = Host + ":" + std::to_string(Port) + path_;
  if (target != sizeTarget_) size_ = 0;
  Login();

  Transaction("REST 100");
  resume_ = ReplyNumber() == 350;
  if (OnGetFileDate) OnGetFileDate(*this);

  if (size_ == 0) {
    TypeImage();
    const std::string reply = Transaction("SIZE " + path_);
    if (ReplyNumber() != 213) ResponseError();
    size_ = HeaderNumber(reply.size() > 4 ? std::string_view(reply).substr(4) : std::string_view());
    sizeTarget_ = target;
  }

  if (OnGetResumeState) OnGetResumeState(*this);
  if (!Aborted() && OnGetFileSize) OnGetFileSize(*this);

  auto ds = std::make_unique<TWynSock>();
  {
    std::lock_guard lock(dataMutex_);
    dataSock_ = std::move(ds);
  }
  try {
    Read(0);  // what is left of earlier replies means nothing now
    dataSock_->ConnectTimeOut = ConnectTimeOut;
    dataSock_->DataTimeOut = DataTimeOut;
    // Before the data connection does anything, so that the owner sees all it logs (a PASV
    // address that is no address fails in ConnectIP already).
    CopyHandlers();
    if (Passive)
      OpenPassive();
    else
      OpenActive();

    auto stopped = [this] { return Aborted() || TimedOut() || dataSock_->Aborted(); };
    if (!stopped() && OnReceive) OnReceive(*this);
    dataSock_->ReceiveData();
    dataSock_->Disconnect();

    // The transfer's final reply; its number is not examined.
    if (!stopped()) {
      std::string line = ReplyLine();
      LogMessage(line, TLogType::ltServer);
      if (!stopped()) ReadMore(std::move(line));
    }
  } catch (...) {
    FreeDataSock();
    throw;
  }
  FreeDataSock();
}

}  // namespace nsk
