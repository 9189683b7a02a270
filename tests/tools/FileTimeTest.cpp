#include "FileTime.h"

#include <gtest/gtest.h>

namespace quarry::pack {
namespace {

TEST(FileTime, ConvertsBetweenUnixTimeAndFileTime) {
    EXPECT_EQ(116444736000000000ull, FileTimeFromUnix(0));
    EXPECT_EQ((1700000000ull + 11644473600ull) * 10000000ull + 1234567ull,
              FileTimeFromUnix(1700000000, 123456789));
    EXPECT_EQ(1700000000, UnixFromFileTime(FileTimeFromUnix(1700000000, 999999999)));
    EXPECT_EQ(0u, FileTimeFromUnix(-11644473601));
}

TEST(FileTime, FormatsUtcDates) {
    EXPECT_EQ("(none)", FormatFileTimeUtc(0));
    EXPECT_EQ("1601-01-01 00:00:00 UTC", FormatFileTimeUtc(1));
    EXPECT_EQ("1969-12-31 23:59:59 UTC", FormatFileTimeUtc(FileTimeFromUnix(-1)));
    EXPECT_EQ("2000-02-29 12:34:56 UTC", FormatFileTimeUtc(FileTimeFromUnix(951827696)));
    EXPECT_EQ("9999-12-31 23:59:59 UTC", FormatFileTimeUtc(FileTimeFromUnix(kLatestUnixSeconds)));
}

TEST(FileTime, DosDatesStayInTheirRange) {
    const DosDateTime low = DosDateTimeFromUnix(0);
    EXPECT_EQ(1980, low.year);
    EXPECT_EQ(1, low.month);
    EXPECT_EQ(1, low.day);
    const DosDateTime high = DosDateTimeFromUnix(kLatestUnixSeconds);
    EXPECT_EQ(2107, high.year);
    EXPECT_EQ(58, high.second);
    for (std::int64_t t : {315532800ll, 951827696ll, 1600000000ll, 4102444800ll}) {
        EXPECT_EQ(t, UnixFromDosDateTime(DosDateTimeFromUnix(t), true)) << t;
    }
}

TEST(FileTime, ParsesUnixSeconds) {
    std::int64_t seconds = -1;
    EXPECT_TRUE(ParseUnixSeconds("0", seconds));
    EXPECT_EQ(0, seconds);
    EXPECT_TRUE(ParseUnixSeconds("253402300799", seconds));
    EXPECT_EQ(kLatestUnixSeconds, seconds);
    for (const char* bad : {"", "-1", "+5", "12a", " 1", "253402300800", "99999999999999999999"}) {
        EXPECT_FALSE(ParseUnixSeconds(bad, seconds)) << bad;
    }
}

}  // namespace
}  // namespace quarry::pack
