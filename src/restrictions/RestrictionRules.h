// The decisions of the restriction checks, apart from how their inputs are
// measured: the Windows version and build test, the compatibility-mode test,
// and the manufacturer comparison.
#pragma once

#include <cstdint>
#include <string>

#include "common/Result.h"

namespace quarry {

// The version words: major << 16 | minor, and build << 16 | service pack.
//
// True when Windows is too old for the package: the true version is below
// `osVersionMin`, or equal to a non-zero `osVersionMin` with the true build
// word below `osBuildMin`. The words compare as unsigned numbers, so service
// pack 1 of build 7601 passes a required 7601 with service pack 0, and a
// higher version never looks at the build.
bool IsWindowsTooOld(std::uint32_t trueVersion, std::uint32_t trueBuild,
                     std::uint32_t osVersionMin, std::uint32_t osBuildMin);

// True when Windows reports another version or build than the version tests
// prove: a compatibility mode makes it report an older one.
bool IsCompatibilityModeActive(std::uint32_t trueVersion, std::uint32_t trueBuild,
                               std::uint32_t reportedVersion, std::uint32_t reportedBuild);

// The maker's own name: a package restricted to it names the maker's Tervo
// computers in its message.
inline constexpr char16_t kMakerName[] = u"Norvik Corporation";

// 0 when `manufacturer` is exactly `expected` (case-sensitive, whole text);
// otherwise 0x80040009 when `expected` is exactly the maker's own name, else
// 0x80040008.
HResult CompareManufacturer(const std::u16string& manufacturer, const std::u16string& expected);

// `text` without the white space at its end (the C library's iswspace).
std::u16string TrimTrailingWhiteSpace(std::u16string text);

// The argument of a Windows-version failure: four words, each two 16-bit
// halves, in this order.
struct VersionRecord {
    std::uint32_t osBuildMin;   // required build << 16 | service pack
    std::uint32_t osVersionMin; // required major << 16 | minor
    std::uint32_t trueBuild;    // this computer's build << 16 | service pack
    std::uint32_t trueVersion;  // this computer's major << 16 | minor
};

}  // namespace quarry
