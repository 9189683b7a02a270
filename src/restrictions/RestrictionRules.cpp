#include "restrictions/RestrictionRules.h"

#include <cwctype>

namespace quarry {

bool IsWindowsTooOld(std::uint32_t trueVersion, std::uint32_t trueBuild,
                     std::uint32_t osVersionMin, std::uint32_t osBuildMin) {
    if (trueVersion < osVersionMin) return true;
    return trueVersion == osVersionMin && osVersionMin != 0 && trueBuild < osBuildMin;
}

bool IsCompatibilityModeActive(std::uint32_t trueVersion, std::uint32_t trueBuild,
                               std::uint32_t reportedVersion, std::uint32_t reportedBuild) {
    return trueVersion != reportedVersion || trueBuild != reportedBuild;
}

HResult CompareManufacturer(const std::u16string& manufacturer, const std::u16string& expected) {
    if (manufacturer == expected) return kResultOk;
    return expected == kMakerName ? kResultNotMakersComputer : kResultWrongManufacturer;
}

std::u16string TrimTrailingWhiteSpace(std::u16string text) {
    while (!text.empty() && std::iswspace(static_cast<std::wint_t>(text.back()))) text.pop_back();
    return text;
}

}  // namespace quarry
