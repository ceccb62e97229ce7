// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/job.h"
#include "engine/view.h"

namespace nsk {

// Snapshots of records for the view operations; every function here is called with the
// job's lock held and returns values only.

// Labels of the info list rows by column id (the texts the window shows, typos included).
extern const std::array<const char*, kInfoValueCount> kInfoLabels;
inline constexpr char kUnknownText[] = "未知";

TJobNodeView JobNodeOf(const TJob& job);
TSkimblerNodeView SkimblerNodeOf(const TJob& job, const TSkimbler& skimbler);
// The 18 info values: URLs one per line (CR LF between), sizes and counts in decimal,
// dates "yyyy-mm-dd hh:nn:ss", durations "hh:nn:ss", "未知" for what is not known.
TJobInfoValues JobInfoOf(const TJob& job);
// The block-map cell of every working connection's block: FocusedConnection for the focused
// connection, OtherConnection for the others. Connections without a worker or stopped, and
// blocks not marked busy, give none.
std::vector<TBlockCell> SkimblerCellsOf(const TJob& job, const SkimblerHandle& focused);
// "hh:nn:ss" of a duration read as a time of day ("00:00:00" when it is none).
std::string FormatDuration(TDateTime value);

}  // namespace nsk
