// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// An engine driven by its commands, with the recording view and window post, a clock the
// test sets, a launcher that only records, and a fresh program home.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/joblist.h"
#include "tests/support/engine/recordingpost.h"
#include "tests/support/engine/recordingview.h"
#include "tests/support/tempdir.h"

namespace nsk::test {

// Real time unless set; then stays where it was set.
class TManualClock final : public TClock {
 public:
  TDateTime Now() const override {
    const double v = value_.load();
    return v < 0 ? nsk::Now() : v;
  }
  void Set(TDateTime value) { value_.store(value); }

 private:
  std::atomic<double> value_{-1};
};

class TRecordingLauncher final : public TProcessLauncher {
 public:
  struct TCall {
    std::string Program;
    std::vector<std::string> Args;
  };
  bool Launch(const std::string& program, const std::vector<std::string>& args) override {
    std::lock_guard g(lock_);
    calls_.push_back({program, args});
    return true;
  }
  std::vector<TCall> Calls() const {
    std::lock_guard g(lock_);
    return calls_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<TCall> calls_;
};

class TEngineTest : public ::testing::Test {
 protected:
  TEngineTest() {
    settings.Update([](TRegistryInfo& s) {
      s.MaxJobs = 3;
      s.StartRunning = false;
    });
  }
  ~TEngineTest() override { StopEngine(); }

  // Starts the scheduler with short ticks (the schedule check then runs every 5 ticks).
  void StartEngine(std::chrono::milliseconds tick = std::chrono::milliseconds(20)) {
    TEngineTiming timing;
    timing.Tick = tick;
    engine = std::make_unique<TEngine>(
        TEngineContext{list, view, post, settings, clock, launcher, home.Path(), timing});
    engine->StartMonitor();
    // The first pass applies the filter; the test's commands come after it.
    ++filtersPosted_;
    ASSERT_TRUE(view.WaitUntil([&] { return FilterApplied(1); }));
  }
  // Stops every job, waits for their end and stops the scheduler.
  void StopEngine() {
    if (!engine) return;
    if (list.CountActive().Sum() > 0) {
      PostStopAll(Monitor(), false);
      view.WaitUntil([&] { return list.CountActive().Sum() == 0; }, std::chrono::seconds(30));
    }
    engine->StopMonitor();
    engine.reset();
  }
  TThreadId Monitor() const { return engine->MonitorId(); }

  // A job of one or more URLs saving to home/<name>.
  std::shared_ptr<TJob> MakeJob(const std::vector<std::string>& urls, const std::string& name,
                                TJobState state = TJobState::jsStopped, std::uint8_t priority = 3) {
    auto job = TJob::Create();
    for (const auto& url : urls) {
      TURLInfo u;
      u.URL = url;
      u.ConnectTimeout = 10;
      u.DataTimeout = 10;
      u.UserAgent = "Skimbler/1.0";
      if (url.rfind("ftp", 0) == 0) {
        u.Auth = true;
        u.User = "anonymous";
        u.Password = "skimbler@example.com";
      }
      job->URLs.push_back(u);
    }
    job->FileName = home.File(name);
    job->Name = name;
    job->State = state;
    job->Priority = priority;
    job->RetryDelay = 0;
    job->SkimblerCount = 1;
    return job;
  }

  static TJobState StateOf(const std::shared_ptr<TJob>& job) {
    auto g = job->Guard();
    return job->State;
  }
  // Waits until the job is in the state (30 s at most).
  bool WaitForState(const std::shared_ptr<TJob>& job, TJobState state,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    return view.WaitUntil([&] { return StateOf(job) == state; }, timeout);
  }
  // Waits until the scheduler handled everything posted so far. Commands are handled in
  // order, and only mcSetFilter clears the tree: once the tree was cleared as often as the
  // scheduler was told to apply a filter (the first pass applies one too), the last of them,
  // posted here, was handled.
  void Settle() { SetFilter(list.ViewFilter.load()); }
  void SetFilter(int filter) {
    ++filtersPosted_;
    PostSetFilter(Monitor(), static_cast<std::uint8_t>(filter));
    ASSERT_TRUE(view.WaitUntil([&] { return FilterApplied(filtersPosted_); }));
  }
  // The n-th application of a filter has ended: its ClearTree was followed by its
  // EndTreeUpdate (nothing else runs on the scheduler in between).
  bool FilterApplied(int n) const {
    const auto calls = view.Calls();
    int clears = 0;
    for (const auto& c : calls) {
      if (c == "ClearTree") ++clears;
      else if (c == "EndTreeUpdate" && clears >= n) return true;
    }
    return false;
  }

  THomeDir home;
  TJobList list;
  TRecordingView view;
  TRecordingPost post;
  TSharedSettings settings;
  TManualClock clock;
  TRecordingLauncher launcher;
  std::unique_ptr<TEngine> engine;

 private:
  int filtersPosted_ = 0;
};

}  // namespace nsk::test
