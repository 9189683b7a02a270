#include <windows.h>

#include "app/Modes.h"
#include "common/WinResult.h"
#include "package/PackageReader.h"

namespace quarry {

// The dialog, the worker and the start-up checks are not part of this build
// yet: extraction mode reads the package header and ends with its result, so
// a program file without a readable package already exits with 0x80040006.
HResult RunExtractionMode(const std::u16string& /*extraArguments*/, bool /*silent*/,
                          bool /*askAfterIntegrityFailure*/,
                          bool /*askAfterRestrictionFailure*/) {
    wchar_t programPath[MAX_PATH + 1] = {};
    if (::GetModuleFileNameW(nullptr, programPath, MAX_PATH) == 0) return LastErrorResult();
    std::uint64_t time1 = 0;
    std::uint64_t time2 = 0;
    std::uint64_t flags = 0;
    return ReadPackageHeader(FromWide(programPath), time1, time2, flags);
}

}  // namespace quarry
