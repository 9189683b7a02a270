#include "FileTime.h"

#include <cstdio>
#include <ctime>

namespace quarry::pack {

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian), valid for any
// 64-bit day count in the range used here; avoids gmtime's time_t limits.
void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

// The inverse of CivilFromDays.
std::int64_t DaysFromCivil(int year, int month, int day) {
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

struct Civil {
    int year, month, day, hour, minute, second;
};

Civil CivilFromUnix(std::int64_t seconds) {
    Civil c{};
    const std::int64_t days = FloorDiv(seconds, 86400);
    const std::int64_t rest = seconds - days * 86400;
    CivilFromDays(days, c.year, c.month, c.day);
    c.hour = static_cast<int>(rest / 3600);
    c.minute = static_cast<int>(rest / 60 % 60);
    c.second = static_cast<int>(rest % 60);
    return c;
}

}  // namespace

std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds) {
    if (seconds < -kUnixEpochInFileTimeSeconds) return 0;
    const std::uint64_t whole = static_cast<std::uint64_t>(seconds + kUnixEpochInFileTimeSeconds);
    return whole * kFileTimeUnitsPerSecond + nanoseconds / 100;
}

std::int64_t UnixFromFileTime(std::uint64_t fileTime) {
    return static_cast<std::int64_t>(fileTime / kFileTimeUnitsPerSecond) -
           kUnixEpochInFileTimeSeconds;
}

std::string FormatFileTimeUtc(std::uint64_t fileTime) {
    if (fileTime == 0) return "(none)";
    const Civil c = CivilFromUnix(UnixFromFileTime(fileTime));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", c.year, c.month, c.day,
                  c.hour, c.minute, c.second);
    return text;
}

std::uint64_t StoredFileTime(std::int64_t seconds, std::uint32_t nanoseconds,
                             std::optional<std::int64_t> clampSeconds) {
    if (clampSeconds && seconds >= *clampSeconds) return FileTimeFromUnix(*clampSeconds);
    return FileTimeFromUnix(seconds, nanoseconds);
}

bool ParseUnixSeconds(const std::string& text, std::int64_t& seconds) {
    if (text.empty() || text.size() > 19) return false;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > kLatestUnixSeconds) return false;
    seconds = value;
    return true;
}

DosDateTime DosDateTimeFromUnix(std::int64_t seconds) {
    // 1980-01-01 00:00:00 and 2107-12-31 23:59:58, the ends of the DOS range.
    constexpr std::int64_t kFirst = 315532800;
    constexpr std::int64_t kLast = 4354819198;
    if (seconds < kFirst) seconds = kFirst;
    if (seconds > kLast) seconds = kLast;
    const Civil c = CivilFromUnix(seconds);
    return DosDateTime{c.year, c.month, c.day, c.hour, c.minute, c.second};
}

std::int64_t UnixFromDosDateTime(const DosDateTime& value, bool utc) {
    if (utc) {
        return DaysFromCivil(value.year, value.month, value.day) * 86400 + value.hour * 3600 +
               value.minute * 60 + value.second;
    }
    std::tm fields{};
    fields.tm_year = value.year - 1900;
    fields.tm_mon = value.month - 1;
    fields.tm_mday = value.day;
    fields.tm_hour = value.hour;
    fields.tm_min = value.minute;
    fields.tm_sec = value.second;
    fields.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&fields));
}

}  // namespace quarry::pack
