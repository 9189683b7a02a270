#include "common/SystemLibrary.h"

#include "common/WinResult.h"

namespace quarry {

std::u16string SystemFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    return FromWide(folder, length);
}

std::u16string SystemFilePath(const std::u16string& name) {
    std::u16string path = SystemFolder();
    if (path.empty()) return {};
    if (path.back() != u'\\') path += u'\\';
    return path + name;
}

HMODULE LoadSystemLibrary(const std::u16string& name) {
    const std::u16string path = SystemFilePath(name);
    if (path.empty()) return nullptr;
    return ::LoadLibraryExW(Wide(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace quarry
