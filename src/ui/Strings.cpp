#include "ui/Strings.h"

#include "common/Result.h"
#include "ui/StringTable.h"

namespace quarry {

std::u16string LoadResourceString(UINT id) {
    const LPCWSTR block = MAKEINTRESOURCEW(StringBlockNumber(id));
    // Neutral language: the loader picks the thread's UI language and falls
    // back on its own. The program never sets a thread language itself.
    HRSRC resource =
        ::FindResourceExW(nullptr, RT_STRING, block, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    if (!resource) resource = ::FindResourceW(nullptr, block, RT_STRING);
    if (!resource) return std::u16string();
    const HGLOBAL loaded = ::LoadResource(nullptr, resource);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) return std::u16string();
    return StringTableEntry(data, ::SizeofResource(nullptr, resource), id);
}

std::u16string FormatResourceStringWith(UINT id, const std::vector<FormatArgument>& arguments) {
    const std::u16string format = LoadResourceString(id);
    if (format.empty()) throw ResultError{kResultFail};
    return FormatString(format, arguments);
}

}  // namespace quarry
