// SPDX-License-Identifier: GPL-2.0-or-later
// netskimbler-cli fetch: one Get with the protocol client a URL needs, for diagnostics. The
// body goes to a file at its offset (or to standard output), the client's log lines to
// standard error as they come, then what the client learnt.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "net/wynftp.h"
#include "net/wynhttp.h"
#include "platform/datetime.h"
#include "platform/utf8.h"

namespace nsk::cli {
namespace {

constexpr std::int32_t kConnectTimeOut = 30000;
constexpr std::int32_t kDataTimeOut = 60000;

const char kUsage[] =
    "usage: netskimbler-cli fetch [--from N] [--proxy HOST:PORT] [--passive|--active]\n"
    "                             [--user U --password P] URL FILE\n"
    "  URL     an http:// or ftp:// URL; with --proxy (an HTTP proxy) both go through it\n"
    "  FILE    where the body goes, written at its offset; \"-\" for standard output\n"
    "  --from N            ask for the file from byte N on (default 0)\n"
    "  --passive, --active FTP data connection mode (default passive)\n"
    "  --user U --password P  HTTP Basic credentials, or the FTP login (default anonymous)\n";

struct TFetchOptions {
  std::int32_t From = 0;
  std::string ProxyHost;
  std::int32_t ProxyPort = 0;
  bool Passive = true;
  bool ModeGiven = false;
  std::optional<std::string> User;
  std::optional<std::string> Password;
  std::string Url;
  std::string File;
};

bool ParseNumber(const std::string& text, long long max, long long& out) {
  if (text.empty() || text.size() > 12) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return out <= max;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  return UpperAscii(text.substr(0, std::strlen(prefix))) == UpperAscii(prefix);
}

// Fills options from the arguments; on a mistake returns what is wrong.
std::string ParseArgs(const TArgs& args, TFetchOptions& o) {
  std::vector<std::string> plain;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--from") {
      long long n = 0;
      if (!value(v)) return "--from needs a number";
      if (!ParseNumber(v, INT32_MAX, n))
        return "--from wants a byte offset from 0 to 2147483647, not \"" + v + "\"";
      o.From = static_cast<std::int32_t>(n);
    } else if (a == "--proxy") {
      if (!value(v)) return "--proxy needs HOST:PORT";
      const auto colon = v.rfind(':');
      long long port = 0;
      if (colon == std::string::npos || colon == 0 ||
          !ParseNumber(v.substr(colon + 1), 65535, port) || port == 0)
        return "--proxy wants HOST:PORT with a port from 1 to 65535, not \"" + v + "\"";
      o.ProxyHost = v.substr(0, colon);
      o.ProxyPort = static_cast<std::int32_t>(port);
    } else if (a == "--passive" || a == "--active") {
      if (o.ModeGiven && o.Passive != (a == "--passive"))
        return "--passive and --active exclude each other";
      o.ModeGiven = true;
      o.Passive = a == "--passive";
    } else if (a == "--user") {
      if (!value(v)) return "--user needs a name";
      o.User = v;
    } else if (a == "--password") {
      if (!value(v)) return "--password needs a text";
      o.Password = v;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return "unknown option \"" + a + "\"";
    } else {
      plain.push_back(a);
    }
  }
  if (plain.size() != 2) return "fetch wants a URL and a FILE";
  if (o.Password && !o.User) return "--password needs --user";
  o.Url = plain[0];
  o.File = plain[1];
  if (!StartsWithNoCase(o.Url, "http://") && !StartsWithNoCase(o.Url, "ftp://"))
    return "only http:// and ftp:// URLs can be fetched, not \"" + o.Url + "\"";
  return {};
}

const char* LevelName(TLogType type) {
  switch (type) {
    case TLogType::ltState: return "state";
    case TLogType::ltCommand: return "command";
    case TLogType::ltError: return "error";
    case TLogType::ltServer: return "server";
  }
  return "?";
}

void PrintLogLine(TWynSock&, const std::string& text, TLogType type) {
  std::fprintf(stderr, "[%s] %s\n", LevelName(type), text.c_str());
}

// Where the body goes: a file written at the body's offsets, or standard output in order.
// Packets are 16383 bytes, so that plain writes would end inside a page every time, which
// costs the kernel a good deal more than whole pages: each write goes out up to a page
// boundary together with the few bytes held back from the packet before.
class TBodyOutput final {
 public:
  static constexpr std::size_t kPage = 4096;

  TBodyOutput() = default;
  ~TBodyOutput() {
    if (fd_ > STDOUT_FILENO) ::close(fd_);
  }
  TBodyOutput(const TBodyOutput&) = delete;
  TBodyOutput& operator=(const TBodyOutput&) = delete;

  bool Open(const std::string& path, bool fromStart) {
    path_ = path;
    if (path == "-") {
      fd_ = STDOUT_FILENO;
      return true;
    }
    // A download from the start replaces the file; one from an offset goes into it.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (fromStart ? O_TRUNC : 0), 0644);
    if (fd_ < 0) error_ = std::strerror(errno);
    return fd_ >= 0;
  }
  bool Sequential() const { return fd_ == STDOUT_FILENO; }
  // The file offset of the body's first byte.
  void StartAt(std::int64_t offset) { at_ = offset; }

  bool Write(const char* data, std::size_t n) {
    written_ += static_cast<std::int64_t>(n);
    if (Sequential()) return WriteOut(nullptr, 0, data, n);
    const std::int64_t end = at_ + static_cast<std::int64_t>(heldBytes_ + n);
    const std::int64_t pageEnd = end - end % static_cast<std::int64_t>(kPage);
    if (pageEnd <= at_) {  // still inside the page of the held bytes
      std::memcpy(held_ + heldBytes_, data, n);
      heldBytes_ += n;
      return true;
    }
    const std::size_t now = static_cast<std::size_t>(pageEnd - at_) - heldBytes_;
    if (!WriteOut(held_, heldBytes_, data, now)) return false;
    heldBytes_ = n - now;
    std::memcpy(held_, data + now, heldBytes_);
    return true;
  }
  bool Close() {
    if (fd_ <= STDOUT_FILENO) return true;
    bool ok = WriteOut(held_, heldBytes_, nullptr, 0);
    heldBytes_ = 0;
    if (::close(fd_) != 0 && ok) {
      error_ = std::strerror(errno);
      ok = false;
    }
    fd_ = -1;
    return ok;
  }

  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }
  std::int64_t Written() const { return written_; }

 private:
  // Writes a then b at at_ (or in order to a stream), moving at_ on.
  bool WriteOut(const char* a, std::size_t an, const char* b, std::size_t bn) {
    iovec iov[2] = {{const_cast<char*>(a), an}, {const_cast<char*>(b), bn}};
    iovec* v = iov;
    int count = 2;
    while (count > 0) {
      if (v->iov_len == 0) {
        ++v;
        --count;
        continue;
      }
      const ssize_t w = Sequential() ? ::writev(fd_, v, count) : ::pwritev(fd_, v, count, at_);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        error_ = w < 0 ? std::strerror(errno) : "nothing written";
        return false;
      }
      at_ += w;
      for (std::size_t left = static_cast<std::size_t>(w); left > 0;) {
        const std::size_t step = std::min(left, v->iov_len);
        v->iov_base = static_cast<char*>(v->iov_base) + step;
        v->iov_len -= step;
        left -= step;
        if (v->iov_len == 0) {
          ++v;
          --count;
        }
      }
    }
    return true;
  }

  int fd_ = -1;
  std::string path_;
  std::string error_;
  std::int64_t at_ = 0;  // file offset of the first held byte (of the next write)
  char held_[kPage];
  std::size_t heldBytes_ = 0;
  std::int64_t written_ = 0;
};

// What the client learnt, where the body went, and how the fetch ended.
struct TOutcome {
  std::int32_t Size = 0;
  bool Resume = false;
  TDateTime FileDate = kNoDate;
  std::string Location;
  std::string Failure;  // empty after success
  bool WriteFailed = false;
};

int Report(const TOutcome& r, TBodyOutput& output) {
  bool writeFailed = r.WriteFailed;
  if (!output.Close()) writeFailed = true;
  std::FILE* out = output.Sequential() ? stderr : stdout;
  std::fprintf(out, "Size: %d\n", r.Size);
  std::fprintf(out, "Resume: %s\n", r.Resume ? "yes" : "no");
  std::fprintf(out, "FileDate: %s\n", r.FileDate >= 0 ? FormatDateTime(r.FileDate).c_str() : "none");
  if (!r.Location.empty()) std::fprintf(out, "Location: %s\n", r.Location.c_str());
  std::fprintf(out, "Received: %lld\n", static_cast<long long>(output.Written()));
  if (writeFailed) {
    std::fprintf(stderr, "netskimbler-cli: cannot write %s: %s\n", output.Path().c_str(),
                 output.Error().c_str());
    return 1;
  }
  if (!r.Failure.empty()) {
    std::fprintf(stderr, "netskimbler-cli: fetch failed: %s\n", r.Failure.c_str());
    return 1;
  }
  return 0;
}

// The handlers both clients share: log lines to standard error, packets to the output (the
// sender holds them: the FTP client's data connection, or the HTTP client itself).
void Wire(TWynSock& client, TBodyOutput& output, bool& writeFailed) {
  client.ConnectTimeOut = kConnectTimeOut;
  client.DataTimeOut = kDataTimeOut;
  client.OnLogMessage = PrintLogLine;
  client.OnPacketRecvd = [&output, &writeFailed, &client](TWynSock& sender, std::int32_t count) {
    if (!output.Write(sender.Buffer, static_cast<std::size_t>(count))) {
      writeFailed = true;
      client.Abort();
    }
  };
}

int FetchHttp(const TFetchOptions& o, TBodyOutput& output) {
  TWynHttp http;
  TOutcome r;
  Wire(http, output, r.WriteFailed);
  if (!o.ProxyHost.empty()) {
    http.Proxy = o.ProxyHost;
    http.ProxyPort = o.ProxyPort;
  }
  if (o.User) {
    http.User = *o.User;
    http.Password = o.Password.value_or("");
  }
  http.OnReceive = [&](TWynSock&) {
    // A server that ignored the range sends the whole file: it belongs at the start.
    const bool ranged = o.From > 0 && http.ReplyNumber() == 206 && http.Resume();
    if (o.From > 0 && !ranged)
      std::fputs("netskimbler-cli: the server sends the whole file; writing it from byte 0\n",
                 stderr);
    output.StartAt(ranged ? o.From : 0);
  };
  try {
    http.Get(o.Url, o.From);
  } catch (const std::exception& e) {
    r.Failure = e.what();
  }
  r.Size = http.Size();
  r.Resume = http.Resume();
  r.FileDate = http.FileDate();
  r.Location = http.Location();
  return Report(r, output);
}

int FetchFtp(const TFetchOptions& o, TBodyOutput& output) {
  TWynFtp ftp;
  TOutcome r;
  Wire(ftp, output, r.WriteFailed);
  ftp.Passive = o.Passive;
  ftp.User = o.User.value_or("anonymous");
  ftp.Password = o.User ? o.Password.value_or("") : "netskimbler@";
  // The retrieval restarts where asked (a refused restart fails the Get).
  ftp.OnReceive = [&](TWynSock&) { output.StartAt(o.From); };
  try {
    ftp.Get(o.Url, o.From);
  } catch (const std::exception& e) {
    r.Failure = e.what();
  }
  try {
    ftp.Disconnect();  // the client keeps its control connection for a next Get
  } catch (const std::exception&) {
  }
  r.Size = ftp.Size();
  r.Resume = ftp.Resume();
  r.FileDate = ftp.FileDate();
  return Report(r, output);
}

}  // namespace

int RunFetch(const TArgs& args) {
  TFetchOptions options;
  if (const std::string error = ParseArgs(args, options); !error.empty()) {
    std::fprintf(stderr, "netskimbler-cli: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  // --proxy names an HTTP proxy: every URL then goes through it with the HTTP client.
  const bool viaHttp = StartsWithNoCase(options.Url, "http://") || !options.ProxyHost.empty();
  TBodyOutput output;
  if (!output.Open(options.File, options.From == 0)) {
    std::fprintf(stderr, "netskimbler-cli: cannot open %s: %s\n", options.File.c_str(),
                 output.Error().c_str());
    return 1;
  }
  return viaHttp ? FetchHttp(options, output) : FetchFtp(options, output);
}

}  // namespace nsk::cli
