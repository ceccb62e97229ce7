// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <ctime>
#include <string>

namespace nsk {

// A date-time as the job files and settings hold it: days since 1899-12-30 in local time,
// the time of day as the fraction. Negative values mean "not set".
using TDateTime = double;

inline constexpr TDateTime kNoDate = -1.0;

struct TDateParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

TDateTime Now();

// Local calendar time <-> date-time. Out-of-range parts give false / kNoDate.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& out);
TDateTime EncodeDateTime(const TDateParts& parts);
TDateParts DecodeDateTime(TDateTime value);

// Reads a value as a time of day: only the fraction counts. False for negative or
// non-finite values.
bool TryDecodeTime(TDateTime value, int& hour, int& minute, int& second);

TDateTime FromTimeT(std::time_t t);  // seconds since the epoch -> local date-time
std::time_t ToTimeT(TDateTime value);

// "yyyy-mm-dd hh:nn:ss", the time stamp of log lines and message lines; the program's
// short date and long time format.
std::string FormatDateTime(TDateTime value);

}  // namespace nsk
