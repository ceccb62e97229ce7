// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "platform/datetime.h"

namespace nsk {

// Where the engine reads the time of day: job start and end times, log stamps, speeds and
// the start and stop schedule. Tests put in a clock they set by hand.
class TClock {
 public:
  virtual ~TClock() = default;
  // Local date-time; thread-safe.
  virtual TDateTime Now() const = 0;
};

class TSystemClock final : public TClock {
 public:
  TDateTime Now() const override { return nsk::Now(); }
};

}  // namespace nsk
