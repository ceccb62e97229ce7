// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace nsk::test {

// Raised inside a script when a read or send cannot go on (time-out, peer gone, server
// stopping); the server reports it as a test failure unless the server is stopping.
class EPeerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The server side of one accepted connection, driven by a script on its own thread. Every
// call blocks, with the server's read time-out, and returns early when the server stops.
class TPeerConnection final {
 public:
  TPeerConnection(int fd, int index, int stopFd, std::chrono::milliseconds timeout);
  ~TPeerConnection();
  TPeerConnection(const TPeerConnection&) = delete;
  TPeerConnection& operator=(const TPeerConnection&) = delete;

  int Index() const { return index_; }  // 0 for the first connection of the server
  int Fd() const { return fd_; }

  // A line through its LF (the LF included).
  std::string ReadLine();
  // Reads a line and compares it without its CR LF with want; a mismatch fails the test.
  void Expect(std::string_view want);
  // Lines through the first empty one (an HTTP request head); returns them all.
  std::string ReadHead();
  std::string ReadBytes(std::size_t n);
  // Everything until the client closes.
  std::string ReadToEnd();

  void Send(std::string_view bytes);
  // Sends bytes in pieces of pieceSize bytes with a pause after each piece.
  void SendPieces(std::string_view bytes, std::size_t pieceSize,
                  std::chrono::milliseconds gap = std::chrono::milliseconds(5));
  // Sends bytes cut at the given offsets, pausing between the pieces.
  void SendSplit(std::string_view bytes, const std::vector<std::size_t>& cuts,
                 std::chrono::milliseconds gap = std::chrono::milliseconds(5));
  void Pause(std::chrono::milliseconds d);
  // Holds the connection open without reading until the client closes it or the server
  // stops.
  void Stall();
  // True when the client closed within timeout (data it sent meanwhile is read and kept).
  bool WaitForClientClose(std::chrono::milliseconds timeout);
  void ShutdownWrite();
  void Close();
  // Closes with a reset instead of an orderly close.
  void Reset();

  // Everything the script read from this connection, and its last line.
  std::string Received() const;
  const std::string& LastLine() const { return lastLine_; }

 private:
  // Waits for events on the socket; false on time-out, raises when the server stops.
  bool WaitFor(short events, std::chrono::milliseconds timeout);
  std::size_t Fill();  // reads what is there into pending_, 0 on end of stream

  int fd_;
  int index_;
  int stopFd_;
  std::chrono::milliseconds timeout_;
  std::string pending_;  // read from the socket, not yet taken by the script
  mutable std::mutex mutex_;
  std::string received_;
  std::string lastLine_;
};

using TScript = std::function<void(TPeerConnection&)>;

// A script built step by step, for tables of cases:
//   TPeerScript().Send("220-Hello\r\n").SendSplit("220 ok\r\n", {1, 4}).Expect("USER a")
// converts to a TScript.
class TPeerScript final {
 public:
  TPeerScript& Send(std::string bytes);
  TPeerScript& SendPieces(std::string bytes, std::size_t pieceSize,
                          std::chrono::milliseconds gap = std::chrono::milliseconds(5));
  TPeerScript& SendSplit(std::string bytes, std::vector<std::size_t> cuts,
                         std::chrono::milliseconds gap = std::chrono::milliseconds(5));
  TPeerScript& ReadLine();
  TPeerScript& Expect(std::string line);
  TPeerScript& ReadHead();
  TPeerScript& ReadBytes(std::size_t n);
  TPeerScript& ReadToEnd();
  TPeerScript& Pause(std::chrono::milliseconds d);
  TPeerScript& Stall();
  TPeerScript& ShutdownWrite();
  TPeerScript& Close();
  TPeerScript& Reset();
  TPeerScript& Do(TScript step);

  operator TScript() const;  // NOLINT: a script is used where a TScript is wanted

 private:
  std::vector<TScript> steps_;
};

struct TServerOptions {
  int Backlog = 16;
  // SO_RCVBUF of accepted connections (0 = the system's), to make a client's send block.
  int ReceiveBuffer = 0;
  // Longest wait of any one read or send of a script.
  std::chrono::milliseconds Timeout{10000};
};

// A TCP server on 127.0.0.1 and a free port. Connection i runs scripts[i], or the last script
// when there are fewer; each on a thread of its own. A script ends by returning (the
// connection is then closed) or by an EPeerError, which fails the running test unless the
// server is being stopped. The destructor stops everything and joins the threads.
class TScriptedServer final {
 public:
  explicit TScriptedServer(TScript script, TServerOptions options = {});
  explicit TScriptedServer(std::vector<TScript> scripts, TServerOptions options = {});
  ~TScriptedServer();
  TScriptedServer(const TScriptedServer&) = delete;
  TScriptedServer& operator=(const TScriptedServer&) = delete;

  std::uint16_t Port() const { return port_; }
  static constexpr const char* Address() { return "127.0.0.1"; }

  int Accepted() const;
  bool WaitForConnections(int n, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits until the scripts of the first n connections have ended.
  bool WaitForScripts(int n, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // What the script of connection i read so far.
  std::string Received(int i) const;
  void Stop();

 private:
  void AcceptLoop();
  void RunConnection(std::shared_ptr<TPeerConnection> c);

  std::vector<TScript> scripts_;
  TServerOptions options_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_ = false;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::shared_ptr<TPeerConnection>> connections_;
  int finished_ = 0;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace nsk::test
