// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "net/wynhttp.h"

namespace nsk::test {

// Records what an HTTP client reports, in the order it comes: events by name, log lines as
// "<level> <text>", and the body handed to OnPacketRecvd.
struct THttpTrace {
  std::vector<std::string> events;  // events and log lines, interleaved
  std::vector<std::pair<TLogType, std::string>> log;
  std::string body;
  std::vector<std::size_t> packets;
  // Called from the handler of the event of that name, after it was recorded.
  std::function<void(TWynHttp&, const std::string&)> onEvent;

  void Attach(TWynHttp& h) {
    auto note = [this, &h](const char* name) {
      return [this, &h, name](TWynSock&) {
        events.push_back(name);
        if (onEvent) onEvent(h, name);
      };
    };
    h.OnHostResolving = note("OnHostResolving");
    h.OnHostResolved = note("OnHostResolved");
    h.OnConnecting = note("OnConnecting");
    h.OnConnected = note("OnConnected");
    h.OnRequest = note("OnRequest");
    h.OnResponse = note("OnResponse");
    h.OnRedirect = note("OnRedirect");
    h.OnGetResumeState = note("OnGetResumeState");
    h.OnGetFileSize = note("OnGetFileSize");
    h.OnGetFileDate = note("OnGetFileDate");
    h.OnReceive = note("OnReceive");
    h.OnError = note("OnError");
    h.OnLogMessage = [this](TWynSock&, const std::string& text, TLogType type) {
      log.emplace_back(type, text);
    };
    h.OnPacketRecvd = [this](TWynSock& s, std::int32_t n) {
      if (packets.empty()) events.push_back("OnPacketRecvd");
      body.append(s.Buffer, static_cast<std::size_t>(n));
      packets.push_back(static_cast<std::size_t>(n));
    };
  }

  std::vector<std::string> Lines(TLogType type) const {
    std::vector<std::string> out;
    for (const auto& [t, text] : log)
      if (t == type) out.push_back(text);
    return out;
  }
  std::vector<std::string> Errors() const { return Lines(TLogType::ltError); }
};

// Runs f and returns the message of what it raised, or "" when it returned.
inline std::string Failure(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace nsk::test
