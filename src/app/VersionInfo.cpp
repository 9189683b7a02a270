#include "app/VersionInfo.h"

#include <windows.h>

#include <vector>

#include "common/SystemLibrary.h"
#include "common/Unique.h"
#include "common/WinResult.h"

namespace quarry {

std::u16string ReadVersionProductName(const std::u16string& programPath) {
    // version.dll is no KnownDLL: imported, the loader would take it from the
    // program's own folder first. It is loaded here by its full path instead.
    const UniqueModule version(LoadSystemLibrary(u"version.dll"));
    const auto getInfoSize = ProcAddress<DWORD(WINAPI*)(LPCWSTR, LPDWORD)>(
        version.Get(), "GetFileVersionInfoSizeW");
    const auto getInfo = ProcAddress<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID)>(
        version.Get(), "GetFileVersionInfoW");
    const auto queryValue = ProcAddress<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>(
        version.Get(), "VerQueryValueW");
    if (!getInfoSize || !getInfo || !queryValue) return std::u16string();

    DWORD ignored = 0;
    const DWORD size = getInfoSize(Wide(programPath), &ignored);
    if (size == 0) return std::u16string();
    std::vector<BYTE> block(size);
    if (!getInfo(Wide(programPath), 0, size, block.data())) return std::u16string();

    struct Translation {
        WORD language;
        WORD codePage;
    };
    static_assert(sizeof(Translation) == 4, "a translation is two WORDs, packed");
    Translation* translations = nullptr;
    UINT length = 0;
    if (!queryValue(block.data(), L"\\VarFileInfo\\Translation",
                    reinterpret_cast<void**>(&translations), &length) ||
        !translations) {
        return std::u16string();
    }
    for (UINT i = 0; i < length / sizeof(Translation); ++i) {
        wchar_t query[64];
        ::wsprintfW(query, L"\\StringFileInfo\\%04x%04x\\%s", translations[i].language,
                    translations[i].codePage, L"ProductName");
        wchar_t* value = nullptr;
        UINT valueLength = 0;
        if (queryValue(block.data(), query, reinterpret_cast<void**>(&value), &valueLength) &&
            value && valueLength > 0 && value[0] != L'\0') {
            return FromWide(value);
        }
    }
    return std::u16string();
}

}  // namespace quarry
