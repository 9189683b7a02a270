// What Windows version this is, proved by version tests, beside what
// GetVersionExW reports; the two differ under a compatibility mode, which
// makes Windows report an older version to the program.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quarry {

// Each word packs two 16-bit fields: major << 16 | minor, and
// build << 16 | service-pack major.
struct WindowsVersionWords {
    std::uint32_t trueVersion = 0;      // found by VerifyVersionInfoW
    std::uint32_t trueBuild = 0;        // found by VerifyVersionInfoW
    std::uint32_t reportedVersion = 0;  // from GetVersionExW
    std::uint32_t reportedBuild = 0;    // from GetVersionExW
};

// The version functions, replaceable so that a test can pose as any
// Windows. The defaults are the system's.
struct VersionFunctions {
    BOOL(WINAPI* verifyVersionInfo)(LPOSVERSIONINFOEXW, DWORD, DWORDLONG) = ::VerifyVersionInfoW;
    BOOL(WINAPI* getVersionEx)(LPOSVERSIONINFOW) = ::GetVersionExW;
};

// Finds major, minor, build and service-pack major one at a time, each as
// the first value from 0 up that VerifyVersionInfoW accepts as equal. Each
// search stops at 0xFFFF (0xFFFE for the service pack), the most its
// 16-bit field can hold; a field no value matches is 0. The reported words
// come from GetVersionExW with the extended structure, 0 when it fails.
WindowsVersionWords MeasureWindowsVersion();
WindowsVersionWords MeasureWindowsVersion(const VersionFunctions& functions);

// True when this Windows is at least major.minor: VerifyVersionInfoW with
// major, minor and service-pack major 0, each greater-or-equal, type mask
// major | minor | service-pack major (0x23).
bool IsWindowsVersionOrLater(DWORD major, DWORD minor);
bool IsWindowsVersionOrLater(DWORD major, DWORD minor, const VersionFunctions& functions);

}  // namespace quarry
