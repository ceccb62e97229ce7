// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <stdexcept>
#include <string>

namespace nsk {

// Failure texts of the socket component; the message of every exception it raises is one of
// them.
inline constexpr char kTextSocketError[] = "Socket错误";  // socket error
inline constexpr char kTextTimedOut[] = "操作超时";       // operation timed out
inline constexpr char kTextAborted[] = "操作中止";        // operation aborted
inline constexpr char kTextFailed[] = "操作失败";         // operation failed

// A failure of a network component. what() is the text shown to the user; the clients built
// on the socket component raise their own texts with it too.
class ESocketError : public std::runtime_error {
 public:
  explicit ESocketError(const std::string& text) : std::runtime_error(text) {}
};

// A received line grew past the line limit without its LF (the peer is not speaking a line
// protocol). The text is kTextFailed, already logged; a client may map it to its own text.
class ELineTooLong final : public ESocketError {
 public:
  ELineTooLong() : ESocketError(kTextFailed) {}
};

// The connection ended (closed by the peer or broken) before a line or the bytes asked for
// arrived. The text is kTextFailed after a clean close and kTextSocketError after a socket
// failure, both already logged.
class EConnectionLost final : public ESocketError {
 public:
  explicit EConnectionLost(const std::string& text) : ESocketError(text) {}
};

}  // namespace nsk
