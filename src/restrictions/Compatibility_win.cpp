#include "restrictions/Compatibility_win.h"

#include "common/Unique.h"
#include "common/WinResult.h"

namespace quarry {

namespace {

constexpr wchar_t kPersistedKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility "
    L"Assistant\\Persisted";
constexpr wchar_t kLayersKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

// Windows XP's headers lack the view flag; its registry ignores it.
constexpr REGSAM kView64 = 0x0100;  // KEY_WOW64_64KEY

constexpr WORD kProcessorAmd64 = 9;  // PROCESSOR_ARCHITECTURE_AMD64 (type 8664)
constexpr WORD kProcessorIa64 = 6;   // PROCESSOR_ARCHITECTURE_IA64 (type 2200)

struct Location {
    HKEY root;
    const wchar_t* key;
    REGSAM view;
};

const Location kLocations[] = {
    {HKEY_CURRENT_USER, kPersistedKey, 0},
    {HKEY_CURRENT_USER, kLayersKey, 0},
    {HKEY_LOCAL_MACHINE, kLayersKey, 0},
    {HKEY_LOCAL_MACHINE, kLayersKey, kView64},
};

WORD NativeProcessorArchitecture(const CompatibilityFunctions& functions) {
    if (functions.nativeProcessorArchitecture) return functions.nativeProcessorArchitecture();
    // GetNativeSystemInfo came with Windows XP; a 32-bit process on a 64-bit
    // Windows learns the true processor only from it.
    SYSTEM_INFO info = {};
    ::GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

bool Has64BitView(const CompatibilityFunctions& functions) {
    const WORD architecture = NativeProcessorArchitecture(functions);
    return architecture == kProcessorAmd64 || architecture == kProcessorIa64;
}

}  // namespace

bool IsCompatibilityEntryPresent(const std::u16string& programPath,
                                 const CompatibilityFunctions& functions) {
    const bool view64 = Has64BitView(functions);
    for (const Location& location : kLocations) {
        if (location.view && !view64) continue;
        UniqueKey key;
        HKEY opened = nullptr;
        if (::RegOpenKeyExW(location.root, location.key, 0, KEY_READ | location.view, &opened) !=
            ERROR_SUCCESS) {
            continue;
        }
        key.Reset(opened);
        if (::RegQueryValueExW(key.Get(), Wide(programPath), nullptr, nullptr, nullptr,
                               nullptr) == ERROR_SUCCESS) {
            return true;
        }
    }
    return false;
}

HResult RemoveCompatibilityEntries(const std::u16string& programPath,
                                   const CompatibilityFunctions& functions) {
    const bool view64 = Has64BitView(functions);
    HResult result = kResultOk;
    const auto keepFirst = [&result](LONG error) {
        if (Succeeded(result)) result = ResultFromWin32(static_cast<DWORD>(error));
    };
    for (const Location& location : kLocations) {
        if (location.view && !view64) continue;
        HKEY opened = nullptr;
        const LONG open =
            ::RegOpenKeyExW(location.root, location.key, 0, KEY_WRITE | location.view, &opened);
        if (open != ERROR_SUCCESS) {
            if (open == ERROR_ACCESS_DENIED) keepFirst(open);
            continue;
        }
        const UniqueKey key(opened);
        const LONG deleted = ::RegDeleteValueW(key.Get(), Wide(programPath));
        if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) keepFirst(deleted);
    }
    return result;
}

}  // namespace quarry
