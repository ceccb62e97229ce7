// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "net/wynsock.h"
#include "platform/datetime.h"

namespace nsk {

// Failure texts of the FTP client, next to those of the socket component.
inline constexpr char kTextFtpConnectError[] = "Ftp连接错误";   // FTP connection error
inline constexpr char kTextFtpResponseError[] = "Ftp响应错误";  // FTP response error

// The FTP client. Its own socket is the control connection; one Get logs in (directly or
// through an FTP proxy, with the target host appended to the user name), probes whether the
// server restarts transfers, learns the file size, opens a data connection (passive or
// active), restarts at a byte offset, retrieves the file in image type and hands its bytes to
// OnPacketRecvd until the server closes the data connection.
//
// Events of a successful Get, in order: OnHostResolving, OnHostResolved, OnConnecting,
// OnConnected (when it logs in), OnRequest and OnResponse around every command, OnGetFileDate,
// OnGetResumeState, OnGetFileSize, OnReceive, then OnPacketRecvd per packet. OnPacketRecvd,
// OnIdle and OnLogMessage are copied to the data connection, so their Sender is the data
// connection while it works: a packet handler reads the first ByteCount bytes of its
// sender's Buffer.
//
// The control connection stays open after Get (no QUIT is sent): a later Get on the connected
// client skips the login and, for the file whose Size it knows, the size query. It closes with Disconnect or
// when the client is freed.
class TWynFtp : public TWynSock {
 public:
  // Longest reply (all lines of a multi-line reply together) the client reads.
  static constexpr std::size_t kMaxReply = 65536;

  TWynFtp();
  ~TWynFtp() override;

  // Stored; no command sends them.
  std::string ProxyUser;
  std::string ProxyPassword;
  // The login; both must be set (the owner puts in "anonymous" and its password).
  std::string User;
  std::string Password;
  // PASV instead of PORT.
  bool Passive = false;

  TNotifyEvent OnReceive;
  TNotifyEvent OnGetResumeState;
  TNotifyEvent OnGetFileSize;
  TNotifyEvent OnGetFileDate;
  // Never fired; kept for owners that set it.
  TNotifyEvent OnError;

  // Size of the file from the SIZE reply; 0 = not learnt (or 2 GiB and more). Kept for later
  // Gets of the same file on the same client.
  std::int32_t Size() const { return size_; }
  // The server accepted the restart probe of the last Get.
  bool Resume() const { return resume_; }
  // The client asks for no date: always kNoDate.
  TDateTime FileDate() const { return kNoDate; }
  // The URL of the current request, with "/" appended when it had no path.
  const std::string& URL() const { return url_; }
  // The file's path on the server.
  const std::string& Path() const { return path_; }
  // First byte retrieved.
  std::int32_t RestartPos() const { return restartPos_; }
  // The data connection while Get runs; nullptr otherwise. Owning thread only.
  TWynSock* DataSock() const { return dataSock_.get(); }

  // Retrieves url from byte restartPos on. Raises ESocketError with a failure text on every
  // failure ("Ftp连接错误" for a refused login, "Ftp响应错误" for a refused command, those of
  // the socket component for look-up, connect, time-out, abort and socket failures), and
  // EConvertError for a port in the URL or a PASV reply that is not a number. A failure
  // during the login closes the control connection; a later one leaves it to the owner.
  void Get(const std::string& url, std::int32_t restartPos);
  // Aborts the data connection, when there is one, and the control connection. Safe from an
  // event handler and from another thread.
  void Abort() override;
  // One command and its whole reply: the first line gives ReplyNumber (and
  // TransactionReply), the lines of a multi-line reply are read and logged; returns the last.
  std::string Transaction(const std::string& command) override;

 private:
  void ParseURL();
  void Login();
  // Reads on while line continues a multi-line reply; returns the last line read.
  std::string ReadMore(std::string line);
  // ReadLine, with a line past the socket's limit counted as a response error.
  std::string ReplyLine();
  // One command and the first line of its reply only.
  std::string FirstLineTransaction(const std::string& command);
  [[noreturn]] void ResponseError();

  void TypeImage();
  void OpenPassive();
  void OpenActive();
  void RestartAndRetrieve();
  void CopyHandlers();
  void FreeDataSock();

  std::int32_t size_ = 0;
  std::string sizeTarget_;  // host, port and path of the file size_ belongs to
  bool resume_ = false;
  std::string path_;
  std::string url_;
  std::int32_t restartPos_ = 0;

  // Written only by the owning thread, under the mutex; Abort from another thread reads it
  // under the mutex too.
  std::mutex dataMutex_;
  std::unique_ptr<TWynSock> dataSock_;
};

}  // namespace nsk
