// SPDX-License-Identifier: GPL-2.0-or-later
#include "datetime.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace nsk {
namespace {

constexpr long long kMsPerDay = 86400LL * 1000;

// Days from 1970-01-01 for a proleptic Gregorian date (Howard Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

// 1899-12-30 is day 0 of the date-time scale.
const long long kEpochOffset = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  out = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                          static_cast<unsigned>(day)) -
                            kEpochOffset);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      ms < 0 || ms > 999)
    return false;
  out = ((hour * 3600LL + minute * 60LL + second) * 1000LL + ms) / static_cast<double>(kMsPerDay);
  return true;
}

TDateTime EncodeDateTime(const TDateParts& p) {
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(p.Year, p.Month, p.Day, date) ||
      !TryEncodeTime(p.Hour, p.Minute, p.Second, p.MilliSecond, time))
    return kNoDate;
  // Days before the epoch count backwards but their time of day still adds forward.
  return date >= 0 ? date + time : date - time;
}

TDateParts DecodeDateTime(TDateTime value) {
  TDateParts p;
  if (!std::isfinite(value)) return p;
  const double days = std::trunc(value);
  long long ms = std::llround(std::fabs(value - days) * kMsPerDay);
  long long day = static_cast<long long>(days);
  if (ms >= kMsPerDay) {  // rounding reached midnight
    ms -= kMsPerDay;
    day += value >= 0 ? 1 : -1;
  }
  CivilFromDays(day + kEpochOffset, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.MilliSecond = static_cast<int>(ms % 1000);
  return p;
}

bool TryDecodeTime(TDateTime value, int& hour, int& minute, int& second) {
  if (!std::isfinite(value) || value < 0) return false;
  const TDateParts p = DecodeDateTime(value);
  hour = p.Hour;
  minute = p.Minute;
  second = p.Second;
  return true;
}

TDateTime FromTimeT(std::time_t t) {
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return kNoDate;
  return EncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec, 0});
}

std::time_t ToTimeT(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = p.Year - 1900;
  tm.tm_mon = p.Month - 1;
  tm.tm_mday = p.Day;
  tm.tm_hour = p.Hour;
  tm.tm_min = p.Minute;
  tm.tm_sec = p.Second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TDateTime Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  return EncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                         tm.tm_sec, static_cast<int>(ms)});
}

std::string FormatDateTime(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                p.Minute, p.Second);
  return buf;
}

}  // namespace nsk
