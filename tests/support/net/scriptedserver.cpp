// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/support/net/scriptedserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

namespace nsk::test {

using Clock = std::chrono::steady_clock;

// ---- TPeerConnection ----

TPeerConnection::TPeerConnection(int fd, int index, int stopFd, std::chrono::milliseconds timeout)
    : fd_(fd), index_(index), stopFd_(stopFd), timeout_(timeout) {
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

TPeerConnection::~TPeerConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool TPeerConnection::WaitFor(short events, std::chrono::milliseconds timeout) {
  if (fd_ < 0) throw EPeerError("connection already closed by the script");
  pollfd p[2] = {{fd_, events, 0}, {stopFd_, POLLIN, 0}};
  const int ms = timeout.count() < 0 ? -1 : static_cast<int>(timeout.count());
  int n;
  do n = ::poll(p, 2, ms);
  while (n < 0 && errno == EINTR);
  if (p[1].revents) throw EPeerError("server stopping");
  return n > 0 && p[0].revents;
}

std::size_t TPeerConnection::Fill() {
  char buf[65536];
  for (;;) {
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      pending_.append(buf, static_cast<std::size_t>(n));
      std::lock_guard lock(mutex_);
      received_.append(buf, static_cast<std::size_t>(n));
      return static_cast<std::size_t>(n);
    }
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return SIZE_MAX;  // nothing yet
    return 0;  // reset: the stream is over too
  }
}

std::string TPeerConnection::ReadLine() {
  const auto end = Clock::now() + timeout_;
  std::size_t lf;
  while ((lf = pending_.find('\n')) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 || !WaitFor(POLLIN, left))
      throw EPeerError("timed out waiting for a line; have \"" + pending_ + "\"");
    if (Fill() == 0) throw EPeerError("client closed before a line; have \"" + pending_ + "\"");
  }
  lastLine_ = pending_.substr(0, lf + 1);
  pending_.erase(0, lf + 1);
  return lastLine_;
}

void TPeerConnection::Expect(std::string_view want) {
  std::string got = ReadLine();
  while (!got.empty() && (got.back() == '\n' || got.back() == '\r')) got.pop_back();
  if (got != want)
    ADD_FAILURE() << "scripted server, connection " << index_ << ": expected \"" << want
                  << "\", got \"" << got << "\"";
}

std::string TPeerConnection::ReadHead() {
  std::string head;
  for (;;) {
    std::string line = ReadLine();
    head += line;
    if (line == "\r\n" || line == "\n") return head;
  }
}

std::string TPeerConnection::ReadBytes(std::size_t n) {
  const auto end = Clock::now() + timeout_;
  while (pending_.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 || !WaitFor(POLLIN, left))
      throw EPeerError("timed out waiting for " + std::to_string(n) + " bytes");
    if (Fill() == 0) throw EPeerError("client closed before " + std::to_string(n) + " bytes");
  }
  std::string out = pending_.substr(0, n);
  pending_.erase(0, n);
  return out;
}

std::string TPeerConnection::ReadToEnd() {
  const auto end = Clock::now() + timeout_;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 || !WaitFor(POLLIN, left))
      throw EPeerError("timed out waiting for the client to close");
    if (Fill() == 0) break;
  }
  std::string out;
  out.swap(pending_);
  return out;
}

void TPeerConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(POLLOUT, timeout_)) throw EPeerError("timed out sending");
      continue;
    }
    throw EPeerError(std::string("send failed: ") + std::strerror(errno));
  }
}

void TPeerConnection::SendPieces(std::string_view bytes, std::size_t pieceSize,
                                 std::chrono::milliseconds gap) {
  pieceSize = std::max<std::size_t>(pieceSize, 1);
  for (std::size_t at = 0; at < bytes.size(); at += pieceSize) {
    if (at) Pause(gap);
    Send(bytes.substr(at, pieceSize));
  }
}

void TPeerConnection::SendSplit(std::string_view bytes, const std::vector<std::size_t>& cuts,
                                std::chrono::milliseconds gap) {
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    cut = std::min(cut, bytes.size());
    if (cut <= from) continue;
    Send(bytes.substr(from, cut - from));
    Pause(gap);
    from = cut;
  }
  Send(bytes.substr(from));
}

void TPeerConnection::Pause(std::chrono::milliseconds d) {
  pollfd p{stopFd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(d.count())) > 0) throw EPeerError("server stopping");
}

void TPeerConnection::Stall() {
  if (fd_ < 0) return;
  pollfd p[2] = {{fd_, POLLRDHUP, 0}, {stopFd_, POLLIN, 0}};
  int n;
  do n = ::poll(p, 2, -1);
  while (n < 0 && errno == EINTR);
}

bool TPeerConnection::WaitForClientClose(std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 || !WaitFor(POLLIN, left)) return false;
    if (Fill() == 0) return true;
  }
}

void TPeerConnection::ShutdownWrite() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void TPeerConnection::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TPeerConnection::Reset() {
  if (fd_ < 0) return;
  linger l{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

std::string TPeerConnection::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

// ---- TPeerScript ----

TPeerScript& TPeerScript::Do(TScript step) {
  steps_.push_back(std::move(step));
  return *this;
}
TPeerScript& TPeerScript::Send(std::string bytes) {
  return Do([b = std::move(bytes)](TPeerConnection& c) { c.Send(b); });
}
TPeerScript& TPeerScript::SendPieces(std::string bytes, std::size_t pieceSize,
                                     std::chrono::milliseconds gap) {
  return Do([b = std::move(bytes), pieceSize, gap](TPeerConnection& c) {
    c.SendPieces(b, pieceSize, gap);
  });
}
TPeerScript& TPeerScript::SendSplit(std::string bytes, std::vector<std::size_t> cuts,
                                    std::chrono::milliseconds gap) {
  return Do([b = std::move(bytes), cuts = std::move(cuts), gap](TPeerConnection& c) {
    c.SendSplit(b, cuts, gap);
  });
}
TPeerScript& TPeerScript::ReadLine() {
  return Do([](TPeerConnection& c) { c.ReadLine(); });
}
TPeerScript& TPeerScript::Expect(std::string line) {
  return Do([l = std::move(line)](TPeerConnection& c) { c.Expect(l); });
}
TPeerScript& TPeerScript::ReadHead() {
  return Do([](TPeerConnection& c) { c.ReadHead(); });
}
TPeerScript& TPeerScript::ReadBytes(std::size_t n) {
  return Do([n](TPeerConnection& c) { c.ReadBytes(n); });
}
TPeerScript& TPeerScript::ReadToEnd() {
  return Do([](TPeerConnection& c) { c.ReadToEnd(); });
}
TPeerScript& TPeerScript::Pause(std::chrono::milliseconds d) {
  return Do([d](TPeerConnection& c) { c.Pause(d); });
}
TPeerScript& TPeerScript::Stall() {
  return Do([](TPeerConnection& c) { c.Stall(); });
}
TPeerScript& TPeerScript::ShutdownWrite() {
  return Do([](TPeerConnection& c) { c.ShutdownWrite(); });
}
TPeerScript& TPeerScript::Close() {
  return Do([](TPeerConnection& c) { c.Close(); });
}
TPeerScript& TPeerScript::Reset() {
  return Do([](TPeerConnection& c) { c.Reset(); });
}

TPeerScript::operator TScript() const {
  return [steps = steps_](TPeerConnection& c) {
    for (const auto& step : steps) step(c);
  };
}

// ---- TScriptedServer ----

TScriptedServer::TScriptedServer(TScript script, TServerOptions options)
    : TScriptedServer(std::vector<TScript>{std::move(script)}, options) {}

TScriptedServer::TScriptedServer(std::vector<TScript> scripts, TServerOptions options)
    : scripts_(std::move(scripts)), options_(options) {
  if (scripts_.empty()) throw std::invalid_argument("scripted server without a script");
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (stopFd_ < 0 || listenFd_ < 0) throw std::runtime_error("scripted server: no socket");
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (options_.ReceiveBuffer > 0)
    ::setsockopt(listenFd_, SOL_SOCKET, SO_RCVBUF, &options_.ReceiveBuffer,
                 sizeof options_.ReceiveBuffer);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listenFd_, options_.Backlog) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    const std::string why = std::strerror(errno);
    ::close(listenFd_);
    ::close(stopFd_);
    throw std::runtime_error("scripted server: cannot listen on 127.0.0.1: " + why);
  }
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TScriptedServer::~TScriptedServer() {
  Stop();
  ::close(listenFd_);
  ::close(stopFd_);
}

void TScriptedServer::Stop() {
  if (stopping_.exchange(true)) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& t : threads_)
    if (t.joinable()) t.join();
}

void TScriptedServer::AcceptLoop() {
  for (;;) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    auto c = std::make_shared<TPeerConnection>(fd, static_cast<int>(connections_.size()), stopFd_,
                                               options_.Timeout);
    connections_.push_back(c);
    threads_.emplace_back([this, c] { RunConnection(c); });
    changed_.notify_all();
  }
}

void TScriptedServer::RunConnection(std::shared_ptr<TPeerConnection> c) {
  const TScript& script = scripts_[std::min<std::size_t>(c->Index(), scripts_.size() - 1)];
  try {
    script(*c);
  } catch (const EPeerError& e) {
    if (!stopping_)
      ADD_FAILURE() << "scripted server, connection " << c->Index() << ": " << e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "scripted server, connection " << c->Index() << ": " << e.what();
  }
  c->Close();
  std::lock_guard lock(mutex_);
  ++finished_;
  changed_.notify_all();
}

int TScriptedServer::Accepted() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(connections_.size());
}

bool TScriptedServer::WaitForConnections(int n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return int(connections_.size()) >= n; });
}

bool TScriptedServer::WaitForScripts(int n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return finished_ >= n; });
}

std::string TScriptedServer::Received(int i) const {
  std::lock_guard lock(mutex_);
  if (i < 0 || i >= int(connections_.size())) return {};
  return connections_[i]->Received();
}

}  // namespace nsk::test
