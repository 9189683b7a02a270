// Conversions between Unix time, Windows FILETIME (100 ns units since
// 1601-01-01 UTC) and the cabinet's DOS date and time fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quarry::pack {

constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochInFileTimeSeconds = 11644473600;
// Latest accepted time stamp: 9999-12-31 23:59:59 UTC.
constexpr std::int64_t kLatestUnixSeconds = 253402300799;

// A Unix time with nanoseconds as a FILETIME; times before 1601 give 0.
std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds = 0);

// The whole Unix seconds of a FILETIME (rounded down).
std::int64_t UnixFromFileTime(std::uint64_t fileTime);

// "YYYY-MM-DD HH:MM:SS UTC"; a zero FILETIME gives "(none)".
std::string FormatFileTimeUtc(std::uint64_t fileTime);

// A file's time as the package stores it: the FILETIME of the modification
// time, never later than `clampSeconds` when one is given.
std::uint64_t StoredFileTime(std::int64_t seconds, std::uint32_t nanoseconds,
                             std::optional<std::int64_t> clampSeconds);

// Parses a non-negative whole number of Unix seconds up to kLatestUnixSeconds.
bool ParseUnixSeconds(const std::string& text, std::int64_t& seconds);

// Broken-down UTC time of a Unix time; years outside 1980..2107 are clamped
// to the DOS date range (the first or last even second of it).
struct DosDateTime {
    int year, month, day, hour, minute, second;
};
DosDateTime DosDateTimeFromUnix(std::int64_t seconds);

// The Unix time of broken-down date and time fields, read as UTC or, when
// `utc` is false, as local time of this machine.
std::int64_t UnixFromDosDateTime(const DosDateTime& value, bool utc);

}  // namespace quarry::pack
