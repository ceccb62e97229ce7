// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <string>

#include "engine/job.h"

namespace nsk {

// The job of an information file the user picked (state jsStopped, block map built), or
// null when the file is missing, incomplete, damaged or names no URL: the front end then
// posts TFileErrorMessage{TFileProblem::ImportFailed}. A job returned is owned by the
// caller until it is handed to the scheduler.
std::shared_ptr<TJob> ImportJob(const std::string& path);

}  // namespace nsk
