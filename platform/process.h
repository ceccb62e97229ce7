// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

namespace nsk {

// Starts program with the given arguments (not counting the program itself) and does not
// wait for it. program is a path, or a name looked up in PATH. The program runs in a session
// of its own with its standard input on /dev/null and the caller's output streams; it is the
// grandchild of the caller, so it never stays behind as a zombie of this process (the short
// intermediate child is reaped before the call returns).
// Returns 0 when the program was started, else the errno of the failure (ENOENT when there
// is no such program, EACCES when it may not be run, ...).
int StartDetached(const std::string& program, const std::vector<std::string>& args);

// The program's path: program itself when it holds a '/', else the first executable file of
// that name in the folders of PATH; empty when there is none.
std::string FindInPath(const std::string& program);

}  // namespace nsk
