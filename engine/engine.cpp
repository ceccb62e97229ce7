// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/engine.h"

#include "engine/monitorthread.h"
#include "platform/process.h"

namespace nsk {

bool TDetachedLauncher::Launch(const std::string& program, const std::vector<std::string>& args) {
  return StartDetached(program, args) == 0;
}

TEngine::TEngine(TEngineContext context) : context_(std::move(context)) {}

TEngine::~TEngine() { StopMonitor(); }

void TEngine::StartMonitor() {
  if (!monitor_) monitor_ = std::make_unique<TMonitorThread>(context_);
}

void TEngine::StopMonitor() {
  if (!monitor_) return;
  monitor_->Terminate();
  monitor_.reset();
}

TThreadId TEngine::MonitorId() const { return monitor_ ? monitor_->Id() : 0; }

void TEngine::RequestRefresh() {
  if (monitor_) monitor_->RequestRefresh();
}

}  // namespace nsk
