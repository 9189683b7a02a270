// Which text an error report shows for a result code, and whether it offers
// "Continue processing?". Pure rules; the dialog loads and formats the texts.
#pragma once

#include <cstdint>
#include <vector>

#include "common/Result.h"
#include "restrictions/RestrictionRules.h"

namespace quarry {

// String ids of the report texts.
enum ReportString : std::uint32_t {
    kStringReportFrame = 257,          // "...\r\n%s\r\n(Code = 0x%08x)"
    kStringContinueQuestion = 258,     // "\n\nContinue processing?"
    kStringNoDetail = 259,
    kStringGenericDetail = 260,
    kStringPackageUnreadable = 264,
    kStringFilesChanged = 265,
    kStringNotEnoughSpace = 272,       // "%s" the drive text
    kStringGuestUser = 299,
    kStringSignatureInvalid = 300,
    kStringSpecificComputers = 302,
    kStringManufacturerComputers = 303,  // "%s" the manufacturer name
    kStringMakersComputers = 304,
    kStringCompatibilityMode = 310,
    kStringCompatibilityModeRemoved = 311,
    kStringWindowsVersion = 322,         // %d.%d this, %d.%d required
    kStringWindowsBuild = 323,           // with builds
    kStringWindowsServicePack = 324,     // with builds and service packs
};

enum class ContinueOffer { Never, WhenAskingAfterRestrictionFailure, WhenAskingAfterIntegrityFailure };

// What the detail text is formatted with.
enum class DetailArgument { None, ManufacturerName, DriveText, VersionRecord };

struct ErrorDetail {
    std::uint32_t stringId = 0;  // 0: the detail is empty
    DetailArgument argument = DetailArgument::None;
    ContinueOffer offer = ContinueOffer::Never;
};

// The detail for `code`. `hasJob` is false when the dialog has no worker
// job, which leaves the manufacturer failure without the name to show.
ErrorDetail ChooseErrorDetail(HResult code, bool hasJob);

struct VersionText {
    std::uint32_t stringId;
    std::vector<std::uint32_t> numbers;  // in the order the text takes them
};

// No required build: 322 with the versions; a required service pack: 324
// with versions, builds and service packs; otherwise 323 with versions and
// builds.
VersionText ChooseVersionText(const VersionRecord& record);

}  // namespace quarry
