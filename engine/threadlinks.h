// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace nsk {

// What the job records need to know of the threads that run them: that one exists and how to
// ask it to stop. The job thread and the connection worker implement these; a record holds
// its thread through a shared pointer while the thread runs.
class TJobThreadLink {
 public:
  virtual ~TJobThreadLink() = default;
  virtual void RequestStop() = 0;
};

class TSkimblerThreadLink {
 public:
  virtual ~TSkimblerThreadLink() = default;
  virtual void RequestStop() = 0;
};

}  // namespace nsk
