// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/datetime.h"

#include <gtest/gtest.h>

namespace nsk {
namespace {

TEST(DateTime, KnownDaysOfTheScale) {
  struct Case { int y, m, d; double days; };
  const Case cases[] = {
      {1899, 12, 30, 0}, {1899, 12, 31, 1}, {1900, 1, 1, 2}, {1900, 3, 1, 61},
      {2000, 1, 1, 36526}, {2026, 12, 11, 46367}, {1899, 12, 29, -1},
  };
  for (const auto& c : cases) {
    TDateTime v = 99;
    ASSERT_TRUE(TryEncodeDate(c.y, c.m, c.d, v)) << c.y << "-" << c.m << "-" << c.d;
    EXPECT_DOUBLE_EQ(v, c.days) << c.y << "-" << c.m << "-" << c.d;
  }
}

TEST(DateTime, RejectsImpossibleParts) {
  TDateTime v;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, v));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, v));
  EXPECT_FALSE(TryEncodeDate(2024, 13, 1, v));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, v));
  EXPECT_EQ(EncodeDateTime({2024, 2, 30, 0, 0, 0, 0}), kNoDate);
}

TEST(DateTime, RoundTripsThroughPartsAndText) {
  const TDateParts p{2026, 12, 11, 23, 59, 58, 0};
  const TDateTime v = EncodeDateTime(p);
  const TDateParts back = DecodeDateTime(v);
  EXPECT_EQ(back.Year, 2026);
  EXPECT_EQ(back.Month, 12);
  EXPECT_EQ(back.Day, 11);
  EXPECT_EQ(back.Hour, 23);
  EXPECT_EQ(back.Minute, 59);
  EXPECT_EQ(back.Second, 58);
  EXPECT_EQ(FormatDateTime(v), "2026-12-11 23:59:58");
  TDateTime t;
  ASSERT_TRUE(TryEncodeTime(22, 0, 0, 0, t));
  EXPECT_NEAR(t, 0.9166666, 1e-6);
}

TEST(DateTime, TimeTConversionIsLocalAndReversible) {
  const std::time_t t = 1700000000;
  EXPECT_EQ(ToTimeT(FromTimeT(t)), t);
  EXPECT_GT(Now(), 46000.0);
}

TEST(DateTime, TimeOfDayReadsOnlyTheFraction) {
  int h, m, s;
  ASSERT_TRUE(TryDecodeTime(1.5 + 1.0 / 86400, h, m, s));
  EXPECT_EQ(h, 12);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(s, 1);
  EXPECT_FALSE(TryDecodeTime(-0.5, h, m, s));
}

}  // namespace
}  // namespace nsk
