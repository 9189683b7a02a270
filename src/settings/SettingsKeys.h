// Every section and key of "Settings.ini" that the program knows, with the
// kind of value it expects: the one list that the packager's checks and the
// documentation follow. PackageSettings::LoadFrom reads exactly the keys of
// this table that are not `Unread`, in this order (a test holds the two
// together).
#pragma once

#include <cstddef>
#include <string_view>

namespace quarry {

enum class SettingsValueKind {
    String,
    Bool,      // "true" or "1" is true, any other text false
    Unsigned,  // 32-bit, base 0 (wcstoul)
    Signed,    // 32-bit, base 0 (wcstol)
    Int64,     // signed 64-bit, base 0 (_wcstoi64)
    List,      // "|"-separated relative paths (WritableItems)
    Unread,    // may appear in the file; nothing reads it
};

struct SettingsKey {
    std::u16string_view section;
    std::u16string_view key;
    SettingsValueKind kind;
};

// The table, sections in file order: Package, Message, Restriction,
// Extraction, Execution_x86, Execution_x64.
const SettingsKey* SettingsKeyTable(std::size_t& count);

// The key of `section` named `key` (both compared without regard to case),
// or null.
const SettingsKey* FindSettingsKey(std::u16string_view section, std::u16string_view key);

// True when some key of the table lives in `section` (case-insensitive).
bool IsSettingsSection(std::u16string_view section);

}  // namespace quarry
