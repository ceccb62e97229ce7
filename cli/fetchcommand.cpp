// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstdio>

#include "cli/commands.h"

namespace nsk::cli {

int RunFetch(const TArgs&) {
  std::fputs("netskimbler-cli: fetch is not available in this build\n", stderr);
  return 2;
}

}  // namespace nsk::cli
