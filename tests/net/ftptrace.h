// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "net/wynftp.h"

namespace nsk::test {

// Records what an FTP client reports, in the order it comes: events by name with every
// command sent ("> USER anonymous") in between, every log line with its sender, and the bytes
// handed to OnPacketRecvd.
struct TFtpTrace {
  struct TLine {
    TLogType Type;
    std::string Text;
    bool FromData;  // logged by the data connection
  };
  std::vector<std::string> events;
  std::vector<TLine> log;
  std::string data;
  bool packetsFromData = true;  // every packet's sender was the data connection
  // Called from the handler of the event of that name, after it was recorded.
  std::function<void(TWynFtp&, const std::string&)> onEvent;
  // Called after each packet was recorded.
  std::function<void(TWynFtp&, std::int32_t)> onPacket;

  void Attach(TWynFtp& f) {
    auto note = [this, &f](const char* name) {
      return [this, &f, name](TWynSock&) {
        events.push_back(name);
        if (onEvent) onEvent(f, name);
      };
    };
    f.OnHostResolving = note("OnHostResolving");
    f.OnHostResolved = note("OnHostResolved");
    f.OnConnecting = note("OnConnecting");
    f.OnConnected = note("OnConnected");
    f.OnRequest = note("OnRequest");
    f.OnResponse = note("OnResponse");
    f.OnGetFileDate = note("OnGetFileDate");
    f.OnGetResumeState = note("OnGetResumeState");
    f.OnGetFileSize = note("OnGetFileSize");
    f.OnReceive = note("OnReceive");
    f.OnError = note("OnError");
    f.OnLogMessage = [this, &f](TWynSock& sender, const std::string& text, TLogType type) {
      log.push_back({type, text, &sender != &f});
      if (type == TLogType::ltCommand) events.push_back("> " + text);
    };
    f.OnPacketRecvd = [this, &f](TWynSock& sender, std::int32_t n) {
      if (data.empty()) events.push_back("OnPacketRecvd");
      if (&sender != f.DataSock()) packetsFromData = false;
      data.append(sender.Buffer, static_cast<std::size_t>(n));
      if (onPacket) onPacket(f, n);
    };
  }

  std::vector<std::string> Lines(TLogType type) const {
    std::vector<std::string> out;
    for (const auto& l : log)
      if (l.Type == type) out.push_back(l.Text);
    return out;
  }
  std::vector<std::string> Commands() const { return Lines(TLogType::ltCommand); }
  std::vector<std::string> Errors() const { return Lines(TLogType::ltError); }
  bool Logged(TLogType type, const std::string& text) const {
    for (const auto& l : log)
      if (l.Type == type && l.Text == text) return true;
    return false;
  }
};

// Runs f and returns the message of what it raised, or "" when it returned.
inline std::string FtpFailure(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace nsk::test
