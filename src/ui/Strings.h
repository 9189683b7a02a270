// String-table access in the language the platform selects for the thread.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "ui/StringFormat.h"

namespace quarry {

// Text of string `id` from this program's string tables. The block is looked
// up with the neutral language, so the platform picks the table of the
// thread's user-interface language and applies its own fallback. Returns an
// empty string when the id is missing in every table.
// Throws std::bad_alloc when no storage for the text can be had (see
// CatchAllocationFailures).
std::u16string LoadResourceString(UINT id);

// Loads string `id` and formats it with `arguments` (see FormatString).
// Throws ResultError{kResultFail} when the string is missing,
// ResultError{kResultInvalidArg} when the arguments do not fit the string's
// directives, and std::bad_alloc when storage cannot be had.
std::u16string FormatResourceStringWith(UINT id, const std::vector<FormatArgument>& arguments);

namespace detail {
// Windows wide text is UTF-16; the pure code spells it char16_t.
inline FormatArgument ToFormatArgument(const wchar_t* text) {
    return FormatArgument(reinterpret_cast<const char16_t*>(text));
}
inline FormatArgument ToFormatArgument(const std::wstring& text) {
    return FormatArgument(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}
inline FormatArgument ToFormatArgument(const FormatArgument& argument) { return argument; }
}  // namespace detail

// FormatResourceString(257, detail, code): the arguments may be wide or
// UTF-16 texts (for "%s") and 32-bit integers (for "%d" and "%08x").
template <typename... Args>
std::u16string FormatResourceString(UINT id, const Args&... args) {
    return FormatResourceStringWith(id, {detail::ToFormatArgument(args)...});
}

}  // namespace quarry
