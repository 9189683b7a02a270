#include "restrictions/WindowsVersion.h"

namespace quarry {

namespace {

// The last value a field search tries. Version fields are 16 bits wide in
// the packed words, and no Windows has come near the limit; searching the
// whole 32-bit range when nothing matches would take hours.
constexpr DWORD kLastFieldValue = 0xFFFF;
constexpr DWORD kLastServicePackValue = 0xFFFE;

std::uint32_t Pack(DWORD high, DWORD low) {
    return (static_cast<std::uint32_t>(high) << 16) | (low & 0xFFFFu);
}

// The first value in 0..last that VerifyVersionInfoW accepts as equal for
// the one field `typeBit`; 0 when none does.
template <typename SetField>
DWORD ProbeField(const VersionFunctions& functions, DWORD typeBit, DWORD last,
                 SetField setField) {
    const DWORDLONG condition = ::VerSetConditionMask(0, typeBit, VER_EQUAL);
    for (DWORD value = 0;; ++value) {
        OSVERSIONINFOEXW info = {};
        info.dwOSVersionInfoSize = sizeof(info);
        setField(info, value);
        if (functions.verifyVersionInfo(&info, typeBit, condition)) return value;
        if (value == last) return 0;
    }
}

}  // namespace

WindowsVersionWords MeasureWindowsVersion() { return MeasureWindowsVersion(VersionFunctions()); }

WindowsVersionWords MeasureWindowsVersion(const VersionFunctions& functions) {
    const DWORD major =
        ProbeField(functions, VER_MAJORVERSION, kLastFieldValue,
                   [](OSVERSIONINFOEXW& info, DWORD value) { info.dwMajorVersion = value; });
    const DWORD minor =
        ProbeField(functions, VER_MINORVERSION, kLastFieldValue,
                   [](OSVERSIONINFOEXW& info, DWORD value) { info.dwMinorVersion = value; });
    const DWORD build =
        ProbeField(functions, VER_BUILDNUMBER, kLastFieldValue,
                   [](OSVERSIONINFOEXW& info, DWORD value) { info.dwBuildNumber = value; });
    const DWORD servicePack = ProbeField(
        functions, VER_SERVICEPACKMAJOR, kLastServicePackValue,
        [](OSVERSIONINFOEXW& info, DWORD value) {
            info.wServicePackMajor = static_cast<WORD>(value);
        });

    WindowsVersionWords words;
    words.trueVersion = Pack(major, minor);
    words.trueBuild = Pack(build, servicePack);

    // The extended structure (284 bytes) is the one that carries the
    // service-pack number.
    OSVERSIONINFOEXW reported = {};
    reported.dwOSVersionInfoSize = sizeof(reported);
    if (functions.getVersionEx(reinterpret_cast<OSVERSIONINFOW*>(&reported))) {
        words.reportedVersion = Pack(reported.dwMajorVersion, reported.dwMinorVersion);
        words.reportedBuild = Pack(reported.dwBuildNumber, reported.wServicePackMajor);
    }
    return words;
}

bool IsWindowsVersionOrLater(DWORD major, DWORD minor) {
    return IsWindowsVersionOrLater(major, minor, VersionFunctions());
}

bool IsWindowsVersionOrLater(DWORD major, DWORD minor, const VersionFunctions& functions) {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.wServicePackMajor = 0;
    DWORDLONG condition = ::VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    condition = ::VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return functions.verifyVersionInfo(&info,
                                       VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                                       condition) != FALSE;
}

}  // namespace quarry
