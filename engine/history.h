// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

#include "engine/job.h"

namespace nsk {

inline constexpr char kHistoryFileName[] = "history.htm";

// The lines of the empty history page.
const std::vector<std::string>& EmptyHistoryPage();

// "&", "<", ">" and '"' as HTML character references.
std::string EscapeHtml(std::string_view text);

// Adds one entry for the job's ended run before the page's "</body>" line in
// folder + "history.htm" (folder ends with '/', normally ProgramFolder()). Call with the
// job's lock held. False when the page could not be read or written; an unreadable page is
// left alone rather than replaced.
bool AppendHistory(const TJob& job, const std::string& folder);

// Writes the empty page over the history.
bool ClearHistory(const std::string& folder);

}  // namespace nsk
