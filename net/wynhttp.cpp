// SPDX-License-Identifier: GPL-2.0-or-later
#include "net/wynhttp.h"

#include <cstdio>
#include <limits>

#include "engine/textutil.h"
#include "net/base64.h"
#include "net/chunkeddecoder.h"
#include "net/urlparts.h"
#include "platform/utf8.h"

namespace nsk {
namespace {

constexpr const char* kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// Characters from..to (1-based, inclusive) of s, fewer where s is shorter.
std::string_view Columns(std::string_view s, std::size_t from, std::size_t to) {
  if (from > s.size()) return {};
  return s.substr(from - 1, to - from + 1);
}

// An integer written out in full: an optional sign and decimal digits, within 32 bits.
bool ParseInteger(std::string_view text, std::int32_t& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1) return false;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    return false;
  out = static_cast<std::int32_t>(value);
  return true;
}

// Only digits count, as in the date's fields.
bool ParseDigits(std::string_view text, int& out) {
  if (text.empty()) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

}  // namespace

std::int32_t HeaderNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] < '0' || text[i] > '9')) ++i;
  std::int64_t value = 0;
  bool any = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    any = true;
    value = value * 10 + (text[i] - '0');
    if (value > std::numeric_limits<std::int32_t>::max()) return 0;
  }
  return any ? static_cast<std::int32_t>(value) : 0;
}

TDateTime HttpDate(std::string_view text) {
  const std::string d = UpperAscii(text);
  // A field is complete and all digits, or the date is none.
  auto field = [&d](std::size_t from, std::size_t to, int& out) {
    const std::string_view f = Columns(d, from, to);
    return f.size() == to - from + 1 && ParseDigits(f, out);
  };
  TDateParts p;
  p.Month = 0;
  for (int m = 0; m < 12; ++m)
    if (Columns(d, 9, 11) == kMonths[m]) p.Month = m + 1;
  if (p.Month == 0 || !field(6, 7, p.Day) || !field(13, 16, p.Year) || !field(18, 19, p.Hour) ||
      !field(21, 22, p.Minute) || !field(24, 25, p.Second))
    return kNoDate;
  return EncodeDateTime(p);
}

TWynHttp::TWynHttp() = default;

TWynHttp::~TWynHttp() = default;

// The base's Abort also ends a pending look-up wait.
void TWynHttp::Abort() { TWynSock::Abort(); }

void TWynHttp::Fire(const TNotifyEvent& event) {
  if (event && !Aborted()) event(*this);
}

void TWynHttp::ParseURL() { nsk::ParseURL(url_, Host, Port, path_, 80); }

void TWynHttp::BuildRequest() {
  requestLines_.clear();
  requestLines_.push_back("GET " + (Proxy.empty() ? path_ : url_) + " HTTP/1.1");
  requestLines_.push_back("Host: " + Host);
  requestLines_.push_back("Accept: */*");
  if (!Referer.empty()) requestLines_.push_back("Referer: " + Referer);
  if (!UserAgent.empty()) requestLines_.push_back("User-Agent: " + UserAgent);
  if (NoCache) requestLines_.push_back("Pragma: no-cache");
  if (!ProxyUser.empty())
    requestLines_.push_back("Proxy-Authorization: Basic " +
                            Base64Encode(ProxyUser + ":" + ProxyPassword));
  if (!User.empty())
    requestLines_.push_back("Authorization: Basic " + Base64Encode(User + ":" + Password));
  requestLines_.push_back("Connection: close");
  if (rangeStart_ > 0) requestLines_.push_back("Range: bytes=" + std::to_string(rangeStart_) + "-");
}

void TWynHttp::SendRequest() {
  std::string head;
  for (const auto& line : requestLines_) head += line + "\r\n";
  WriteString(head);
  WriteLine("");
  for (const auto& line : requestLines_) LogMessage(line, TLogType::ltCommand);
}

// One line of the response head. A line without end, or a head that goes on past
// kMaxHeaderBlock, is not HTTP: the download fails instead of reading on.
std::string TWynHttp::ReadHeadLine(std::size_t& headBytes) {
  std::string line;
  try {
    line = ReadLine();
  } catch (const ELineTooLong&) {
    FailLogged(kTextDownloadFailed);
  }
  headBytes += line.size();
  if (headBytes > kMaxHeaderBlock) FailLogged(kTextDownloadFailed);
  return line;
}

void TWynHttp::HeaderLine(const std::string& line) {
  const std::string u = UpperAscii(line);
  const std::string key = ExtractField(u, ' ', 1);
  if (key == "LOCATION:") {
    location_.clear();
    for (char c : Columns(line, 11, 10 + kMaxLocation))
      if (c != '\r' && c != '\n') location_ += c;
  } else if (key == "LAST-MODIFIED:") {
    fileDate_ = HttpDate(Columns(u, 16, u.size()));
  } else if (key == "ACCEPT-RANGES:") {
    if (Columns(u, 16, 20) == "BYTES") resume_ = true;
  } else if (key == "CONTENT-RANGE:") {
    if (Columns(u, 16, 20) == "BYTES") resume_ = true;
    if (rangeStart_ > 0) {
      const auto slash = line.find('/');
      size_ = slash == std::string::npos
                  ? 0
                  : HeaderNumber(std::string_view(line).substr(slash + 1, 30));
      // A range that begins elsewhere than asked would put its bytes at the wrong offset.
      const std::string_view range = Columns(u, 16, u.size());
      const auto dash = range.find('-');
      if (dash == std::string_view::npos || HeaderNumber(range.substr(0, dash)) != rangeStart_)
        rangeElsewhere_ = true;
    }
  } else if (key == "CONTENT-LENGTH:") {
    const auto at = u.find("ENGTH:");
    const std::string_view value = std::string_view(u).substr(std::min(u.size(), at + 7));
    const std::int32_t n = HeaderNumber(value);
    if (rangeStart_ == 0 || replyNumber_ == 200) size_ = n;
  } else if (key == "TRANSFER-ENCODING:") {
    chunked_ = u.find("CHUNKED") != std::string::npos;
  }
}

void TWynHttp::ReadResponse() {
  std::size_t headBytes = 0;
  chunked_ = false;
  rangeElsewhere_ = false;
  for (;;) {
    const std::string status = ReadHeadLine(headBytes);
    LogMessage(status, TLogType::ltServer);
    std::int32_t number = 0;
    if (!ParseInteger(WithoutLineEnd(ExtractField(status, ' ', 2)), number)) number = 0;
    replyNumber_ = number;
    // An interim answer (100 Continue, 103 Early Hints) comes before the real one; its
    // header lines say nothing about the file.
    const bool interim = number >= 100 && number <= 199 && number != 101;
    for (;;) {
      const std::string line = ReadHeadLine(headBytes);
      LogMessage(line, TLogType::ltServer);
      if (line.empty() || line == "\r\n" || line == "\n") break;
      if (!interim) HeaderLine(line);
    }
    if (!interim) break;
  }
  if (rangeStart_ > 0 && (replyNumber_ != 206 || rangeElsewhere_)) resume_ = false;
  if (replyNumber_ >= 400) location_.clear();
  if (!location_.empty() && replyNumber_ >= 300 && replyNumber_ <= 399) {
    Fire(OnRedirect);
  } else if (replyNumber_ >= 200 && replyNumber_ <= 299) {
    Fire(OnGetResumeState);
    Fire(OnGetFileSize);
    Fire(OnGetFileDate);
  }
}

void TWynHttp::ReceiveBody() {
  if (!chunked_) {
    ReceiveData();
    return;
  }
  // The owner gets the body without its chunk framing: each packet is decoded in Buffer
  // before the owner's handler sees it.
  TChunkedDecoder decoder;
  bool malformed = false;
  struct TRestore {
    TWynHttp& http;
    TOnPacketRecvdEvent handler;
    ~TRestore() { http.OnPacketRecvd = std::move(handler); }
  } restore{*this, OnPacketRecvd};
  OnPacketRecvd = [this, &decoder, &malformed, &restore](TWynSock& sender, std::int32_t count) {
    if (malformed) return;
    const std::size_t n = decoder.Decode(Buffer, static_cast<std::size_t>(count));
    if (n > 0 && restore.handler) restore.handler(sender, static_cast<std::int32_t>(n));
    if (decoder.Malformed()) {
      malformed = true;
      Abort();
    }
  };
  try {
    ReceiveData();
  } catch (const ESocketError&) {
    if (malformed) FailLogged(kTextDownloadFailed);
    throw;
  }
}

void TWynHttp::Get(const std::string& url, std::int32_t rangeStart) {
  url_ = url;
  location_.clear();
  size_ = 0;
  rangeStart_ = rangeStart;
  ParseURL();
  BuildRequest();

  // The connection never outlives the Get; a failure to close after a failure is not news.
  struct TCloser {
    TWynHttp& http;
    bool armed = true;
    ~TCloser() {
      if (!armed) return;
      try {
        http.Disconnect();
      } catch (...) {
      }
    }
  } closer{*this};

  Connect();
  Fire(OnRequest);
  // Aborted in a handler: nothing is sent (the socket would refuse it silently anyway).
  if (Aborted()) Fail(kTextAborted);
  SendRequest();
  Fire(OnResponse);
  ReadResponse();

  if (replyNumber_ >= 300) {
    if (replyNumber_ >= 400) {
      Fire(OnError);
      LogMessage(kTextClientServerError, TLogType::ltError);
    }
    Fail(kTextDownloadFailed);
  }
  // No final status (not HTTP, or a protocol switch nobody asked for): what follows is no
  // file body.
  if (replyNumber_ < 200) FailLogged(kTextDownloadFailed);

  if (!Aborted() && !TimedOut() && OnReceive) OnReceive(*this);
  ReceiveBody();
  closer.armed = false;
  Disconnect();
}

}  // namespace nsk
