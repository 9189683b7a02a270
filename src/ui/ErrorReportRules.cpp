#include "ui/ErrorReportRules.h"

namespace quarry {

ErrorDetail ChooseErrorDetail(HResult code, bool hasJob) {
    const auto restriction = ContinueOffer::WhenAskingAfterRestrictionFailure;
    const std::uint32_t value = static_cast<std::uint32_t>(code);
    if (value >= 0x80040100u && value <= 0x8004013Fu) {
        return {kStringFilesChanged, DetailArgument::None,
                ContinueOffer::WhenAskingAfterIntegrityFailure};
    }
    switch (value) {
    case 0x80004005u:
    case 0x80040005u:
        return {kStringGenericDetail, DetailArgument::None, ContinueOffer::Never};
    case 0x80040002u:
        return {0, DetailArgument::None, ContinueOffer::Never};
    case 0x80040004u:
        return {kStringGuestUser, DetailArgument::None, ContinueOffer::Never};
    case 0x80040006u:
        return {kStringPackageUnreadable, DetailArgument::None, ContinueOffer::Never};
    case 0x80040007u:
        return {kStringSignatureInvalid, DetailArgument::None, restriction};
    case 0x80040008u:
        return hasJob ? ErrorDetail{kStringManufacturerComputers, DetailArgument::ManufacturerName,
                                    restriction}
                      : ErrorDetail{kStringSpecificComputers, DetailArgument::None, restriction};
    case 0x80040009u:
        return {kStringMakersComputers, DetailArgument::None, restriction};
    case 0x8004000Au:
        return {kStringWindowsVersion, DetailArgument::VersionRecord, restriction};
    case 0x8004000Bu:
        return {kStringCompatibilityMode, DetailArgument::None, restriction};
    case 0x8004000Cu:
        return {kStringCompatibilityModeRemoved, DetailArgument::None, restriction};
    case 0x8004000Du:
        return {kStringFilesChanged, DetailArgument::None,
                ContinueOffer::WhenAskingAfterIntegrityFailure};
    case 0x8004000Eu:
        return {kStringNotEnoughSpace, DetailArgument::DriveText, restriction};
    default:
        return {kStringNoDetail, DetailArgument::None, ContinueOffer::Never};
    }
}

VersionText ChooseVersionText(const VersionRecord& record) {
    const auto high = [](std::uint32_t word) { return word >> 16; };
    const auto low = [](std::uint32_t word) { return word & 0xFFFFu; };
    const std::uint32_t thisMajor = high(record.trueVersion);
    const std::uint32_t thisMinor = low(record.trueVersion);
    const std::uint32_t needMajor = high(record.osVersionMin);
    const std::uint32_t needMinor = low(record.osVersionMin);
    if (record.osBuildMin == 0) {
        return {kStringWindowsVersion, {thisMajor, thisMinor, needMajor, needMinor}};
    }
    if (low(record.osBuildMin) != 0) {
        return {kStringWindowsServicePack,
                {thisMajor, thisMinor, high(record.trueBuild), low(record.trueBuild), needMajor,
                 needMinor, high(record.osBuildMin), low(record.osBuildMin)}};
    }
    return {kStringWindowsBuild,
            {thisMajor, thisMinor, high(record.trueBuild), needMajor, needMinor,
             high(record.osBuildMin)}};
}

}  // namespace quarry
