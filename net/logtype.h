// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

namespace nsk {

// Kind of a connection log line; indexes the four log colours of the settings.
enum class TLogType : std::uint8_t {
  ltState = 0,    // progress of the connection
  ltCommand = 1,  // a line sent to the server
  ltError = 2,    // a failure
  ltServer = 3,   // a line received from the server
};

}  // namespace nsk
