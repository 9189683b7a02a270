#include "app/DebugWindow.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

constexpr std::uint64_t kMinute = 600000000ull;
constexpr std::uint64_t kDay = kFileTimeTicksPerDay;
// 2026-12-08 00:00 UTC: 13,441,161,600 s after 1601-01-01.
constexpr std::uint64_t kMidnight = 134411616000000000ull;

TEST(DebugWindow, RunsFromTheTimeStampToTheEndOfTheSixthFollowingDay) {
    const std::uint64_t lateEvening = kMidnight + 23 * 60 * kMinute + 59 * kMinute;  // 23:59
    ASSERT_EQ(0u, kMidnight % kDay);
    EXPECT_TRUE(IsWithinDebugWindow(lateEvening, lateEvening));
    EXPECT_FALSE(IsWithinDebugWindow(lateEvening, lateEvening - 1));
    // Ends at 00:00 UTC of the seventh day after the stamp's day: six days
    // and one minute after 23:59.
    const std::uint64_t end = lateEvening + 6 * kDay + kMinute;
    EXPECT_EQ(kMidnight + 7 * kDay, end);
    EXPECT_TRUE(IsWithinDebugWindow(lateEvening, end - 1));
    EXPECT_FALSE(IsWithinDebugWindow(lateEvening, end));
    // A stamp eight days ago, and one in the future (clock set back).
    EXPECT_FALSE(IsWithinDebugWindow(kMidnight - 8 * kDay, kMidnight));
    EXPECT_FALSE(IsWithinDebugWindow(kMidnight + kDay, kMidnight));
    // At midnight itself the whole seven days remain.
    EXPECT_TRUE(IsWithinDebugWindow(kMidnight, kMidnight + 7 * kDay - 1));
}

TEST(DebugWindow, StartFallsBackToTheProgramFileAndThenToday) {
    const std::uint64_t now = kMidnight + 13 * 60 * kMinute;
    const std::uint64_t stamp = kMidnight - 2 * kDay + 5 * kMinute;
    const std::uint64_t written = kMidnight - kDay;
    EXPECT_EQ(stamp, DebugWindowStart(stamp, written, now));
    // Either half of the stamp 0: the program file's time, else today 00:00.
    EXPECT_EQ(written, DebugWindowStart(stamp & 0xFFFFFFFF00000000ull, written, now));
    EXPECT_EQ(written, DebugWindowStart(stamp & 0xFFFFFFFFull, written, now));
    EXPECT_EQ(kMidnight, DebugWindowStart(0, std::nullopt, now));
    EXPECT_TRUE(IsWithinDebugWindow(DebugWindowStart(0, std::nullopt, now), now));
}

}  // namespace
}  // namespace quarry
