// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

namespace nsk::cli {

using TArgs = std::vector<std::string>;

// Each command gets the arguments after its name and returns the exit status.
int RunList(const TArgs& args);
int RunFetch(const TArgs& args);
int RunGet(const TArgs& args);
int RunRun(const TArgs& args);

}  // namespace nsk::cli
