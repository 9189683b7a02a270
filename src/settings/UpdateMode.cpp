#include "settings/UpdateMode.h"

#include <windows.h>

#include "common/Unique.h"

namespace quarry {

namespace {

bool ReadUpdateModeValue(const wchar_t* name) {
    UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvik Corporation\\Tervo update", 0,
                        KEY_READ, key.Put()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegQueryValueExW(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                           &size) != ERROR_SUCCESS) {
        return false;
    }
    return value == 1;
}

}  // namespace

bool ReadSilentExecutionFlag() { return ReadUpdateModeValue(L"SilentExecution"); }

bool ReadLaunchInstallerFlag() { return ReadUpdateModeValue(L"LaunchInstaller"); }

}  // namespace quarry
