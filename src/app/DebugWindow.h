// The period in which the debug switch is honoured: from the package's time
// stamp to the end of the sixth UTC day after it. All times are FILETIME
// values (100 ns units since 1601-01-01 00:00 UTC).
#pragma once

#include <cstdint>
#include <optional>

namespace quarry {

constexpr std::uint64_t kFileTimeTicksPerDay = 864000000000ull;

// The window's start: the package's time stamp, or, when either half of it
// is 0, the program file's last-write time, or, when that cannot be read,
// today at 00:00 UTC.
std::uint64_t DebugWindowStart(std::uint64_t time1, std::optional<std::uint64_t> programWriteTime,
                               std::uint64_t now);

// True when start <= now < the start's UTC day at 00:00 plus seven days.
bool IsWithinDebugWindow(std::uint64_t start, std::uint64_t now);

}  // namespace quarry
