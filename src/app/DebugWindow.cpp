#include "app/DebugWindow.h"

namespace quarry {

namespace {
constexpr std::uint64_t kDebugWindowDays = 7;

// FILETIME counts from a midnight, so a day starts at a multiple of a day.
std::uint64_t StartOfDay(std::uint64_t time) { return time - time % kFileTimeTicksPerDay; }
}  // namespace

std::uint64_t DebugWindowStart(std::uint64_t time1, std::optional<std::uint64_t> programWriteTime,
                               std::uint64_t now) {
    const bool bothHalves = (time1 & 0xFFFFFFFFu) != 0 && (time1 >> 32) != 0;
    if (bothHalves) return time1;
    if (programWriteTime) return *programWriteTime;
    return StartOfDay(now);
}

bool IsWithinDebugWindow(std::uint64_t start, std::uint64_t now) {
    const std::uint64_t end = StartOfDay(start) + kDebugWindowDays * kFileTimeTicksPerDay;
    return start <= now && now < end;
}

}  // namespace quarry
