#include "platform/foundation/date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace qlt {
namespace {

TEST(DateTest, ReferenceDateAndUnixTimeAgree) {
  EXPECT_EQ(Date(0).iso8601(), "2001-01-01T00:00:00Z");
  EXPECT_EQ(Date::fromUnixTime(0).iso8601(), "1970-01-01T00:00:00Z");
  EXPECT_DOUBLE_EQ(Date::fromUnixTime(978307200.5).timeIntervalSinceReferenceDate(), 0.5);
  Date before = Date(-0.25);
  struct timespec time = before.toTimespec();
  EXPECT_EQ(time.tv_sec, 978307199);
  EXPECT_EQ(time.tv_nsec, 750000000);
  EXPECT_DOUBLE_EQ(Date::fromTimespec(time).timeIntervalSinceReferenceDate(), -0.25);
  EXPECT_LT(Date::distantPast(), Date::now());
  EXPECT_LT(Date::now(), Date::distantFuture());
  EXPECT_EQ(Date::distantFuture().iso8601(), "4001-01-01T00:00:00Z");
}

TEST(DateTest, DatesBeyondWhatTheSystemHoldsAreClampedWhenConverted) {
  EXPECT_EQ(Date(1.5e28).toTimespec().tv_sec, Date::distantFuture().toTimespec().tv_sec);
  EXPECT_EQ(Date(-1.5e28).iso8601(), Date::distantPast().iso8601());
  EXPECT_EQ(Date(std::nan("")).toTimespec().tv_sec, 0);
  EXPECT_EQ(Date(HUGE_VAL).iso8601(), "4001-01-01T00:00:00Z");
}

TEST(DateTest, MatchesToTheSecondMeansUnderOneSecondApart) {
  EXPECT_TRUE(Date(10).matchesToTheSecond(Date(10.999)));
  EXPECT_TRUE(Date(10.999).matchesToTheSecond(Date(10)));
  EXPECT_FALSE(Date(10).matchesToTheSecond(Date(11)));
  EXPECT_FALSE(Date(11).matchesToTheSecond(Date(10)));
}

TEST(DateTest, ISO8601ParsesWhatItWritesAndOffsets) {
  Date date(757382400.0);  // 2025-01-01
  EXPECT_EQ(Date::fromISO8601(date.iso8601()), date);
  EXPECT_EQ(Date::fromISO8601("2025-01-01T02:00:00+02:00"), date);
  EXPECT_EQ(Date::fromISO8601("2025-01-01T00:00:00.5Z")->timeIntervalSinceReferenceDate(), 757382400.5);
  for (const char* bad : {"", "2025-01-01", "2025-13-01T00:00:00Z", "2025-01-01T00:00:00", "2025-01-01T00:00:00Zjunk",
                          "2025-01-01T00:00:00.Z", "x025-01-01T00:00:00Z"})
    EXPECT_EQ(Date::fromISO8601(bad), std::nullopt) << bad;
}

TEST(DateTest, LocalFormattingUsesTheLocalTimeZone) {
  setenv("TZ", "UTC", 1);
  tzset();
  Date date(757382400.0 + 3600 + 120 + 3);
  EXPECT_EQ(date.formattedLocal("yyyy-MM-dd-HHmmss"), "2025-01-01-010203");
  EXPECT_FALSE(date.formattedLocal(Date::Style::Medium, Date::Style::Medium).empty());
}

}  // namespace
}  // namespace qlt
