// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/converterror.h"
#include "net/wynsock.h"
#include "platform/datetime.h"

namespace nsk {

// Failure texts of the HTTP client, next to those of the socket component.
inline constexpr char kTextDownloadFailed[] = "下载失败";             // download failed
inline constexpr char kTextClientServerError[] = "客户或服务器端错误";  // client or server error

// The HTTP/1.1 client: one Get fetches one URL, directly or through an HTTP proxy, with GET,
// one open-ended byte range, Basic authentication for server and proxy and
// "Connection: close". It learns the size of the whole file, whether ranges are honoured, the
// file's date and a redirect target from the response header, reports them through events,
// and hands the body to OnPacketRecvd until the server closes: exactly as received, except
// that a chunked transfer coding is taken off (BytesRecvd still counts the bytes received).
//
// Events of a successful Get, in order: OnHostResolving, OnHostResolved, OnConnecting,
// OnConnected, OnRequest, OnResponse, then OnRedirect or OnGetResumeState, OnGetFileSize,
// OnGetFileDate; then OnReceive, then OnPacketRecvd per packet. OnError fires for a status of
// 400 or more. A handler may call Abort: the rest of the header stage's events are skipped and
// the Get ends with "操作中止".
class TWynHttp : public TWynSock {
 public:
  // Longest redirect target kept (the request target is cut like it, see urlparts.h).
  static constexpr std::size_t kMaxLocation = 256;
  // Longest response header block (status line included) the client reads.
  static constexpr std::size_t kMaxHeaderBlock = 65536;

  TWynHttp();
  ~TWynHttp() override;

  std::string User;
  std::string Password;
  std::string ProxyUser;
  std::string ProxyPassword;
  std::string UserAgent;
  std::string Referer;
  bool NoCache = false;

  TNotifyEvent OnReceive;
  TNotifyEvent OnRedirect;
  TNotifyEvent OnGetResumeState;
  TNotifyEvent OnGetFileSize;
  TNotifyEvent OnGetFileDate;
  TNotifyEvent OnError;

  // Total size of the remote file in bytes; 0 = not learnt (or 2 GiB and more).
  std::int32_t Size() const { return size_; }
  // The server honours byte ranges. Kept from an earlier Get until a response says otherwise.
  bool Resume() const { return resume_; }
  // The first byte asked for; 0 = the whole file.
  std::int32_t RangeStart() const { return rangeStart_; }
  // Modification date of the remote file as the server wrote it (no time-zone conversion);
  // kNoDate when none. Kept from an earlier Get until a response brings one.
  TDateTime FileDate() const { return fileDate_; }
  // Redirect target of the last response as received; empty when there is none.
  const std::string& Location() const { return location_; }
  // The URL of the current request, with "/" appended when it had no path.
  const std::string& URL() const { return url_; }
  // The request target sent to a server without proxy.
  const std::string& Path() const { return path_; }
  // The lines of the last request built, without their line ends.
  const std::vector<std::string>& RequestLines() const { return requestLines_; }

  // Fetches url from byte rangeStart on (0: the whole file). Raises ESocketError with a failure
  // text when the request fails, is aborted or times out, and "下载失败" for a status of 300
  // or more; EConvertError when the URL's port is not a number. The connection is closed when
  // Get returns, whatever the outcome.
  void Get(const std::string& url, std::int32_t rangeStart);
  void Abort() override;

 private:
  void ParseURL();
  void BuildRequest();
  void SendRequest();
  void ReadResponse();
  std::string ReadHeadLine(std::size_t& headBytes);
  void HeaderLine(const std::string& line);
  // ReceiveData, with the chunked transfer coding removed when the response used it.
  void ReceiveBody();
  // Calls an event unless the Get has been aborted.
  void Fire(const TNotifyEvent& event);

  std::vector<std::string> requestLines_;
  std::string url_;
  std::string path_;
  std::int32_t size_ = 0;
  bool resume_ = false;
  std::int32_t rangeStart_ = 0;
  TDateTime fileDate_ = kNoDate;
  std::string location_;
  bool chunked_ = false;         // the body comes in chunked transfer coding
  bool rangeElsewhere_ = false;  // a Content-Range that does not begin at RangeStart
};

// The number in text: the characters before the first decimal digit are skipped and the digits
// that follow, up to the first other character, are converted. No digits, or a value beyond a
// signed 32-bit integer, give 0.
std::int32_t HeaderNumber(std::string_view text);

// The date of an HTTP date in the RFC 1123 form ("Sun, 06 Nov 1994 08:49:37 GMT"), read from
// its fixed columns without any time-zone conversion; kNoDate for any other form.
TDateTime HttpDate(std::string_view text);

}  // namespace nsk
