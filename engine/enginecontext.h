// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/joblist.h"
#include "engine/sharedsettings.h"
#include "engine/view.h"
#include "engine/windowpost.h"

namespace nsk {

// Starts the programs the engine runs without waiting for them (the virus scanner).
class TProcessLauncher {
 public:
  virtual ~TProcessLauncher() = default;
  // True when the program was started. Called on the scheduler thread.
  virtual bool Launch(const std::string& program, const std::vector<std::string>& args) = 0;
};

// Starts the program as a process of its own (platform/process.h).
class TDetachedLauncher final : public TProcessLauncher {
 public:
  bool Launch(const std::string& program, const std::vector<std::string>& args) override;
};

// The engine's clocks that tests shorten.
struct TEngineTiming {
  // The scheduler's and the job threads' one-second tick.
  std::chrono::milliseconds Tick{1000};
  // Least time between two periodic saves of one job's information file (see the
  // connection worker): at loopback speeds the byte rule alone would rewrite it thousands of
  // times a second.
  std::chrono::milliseconds AutoSaveFloor{250};
};

// Everything the engine's threads use besides the job records, handed to the engine by the
// front end, which owns each part and keeps it alive until the engine has stopped.
struct TEngineContext {
  TJobList& JobList;
  TView& View;
  TWindowPost& Post;
  TSharedSettings& Settings;
  const TClock& Clock;
  TProcessLauncher& Launcher;
  // Folder of the history page, with a final '/' (normally ProgramFolder()).
  std::string ProgramFolder;
  TEngineTiming Timing{};
};

}  // namespace nsk
