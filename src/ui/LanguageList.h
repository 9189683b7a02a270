// The ordered list of preferred language names that selects the language
// section of a package's message file. The platform queries live in
// LanguageList_win.cpp; this half is the pure list logic.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// Normalises a language name: with a "-", the part before the first "-" in
// lower case and everything after it in upper case ("EN-us" -> "en-US",
// "zh-hant-tw" -> "zh-HANT-TW"); without one, the whole name in lower case.
std::u16string NormalizeLanguageName(std::u16string_view name);

// The three-letter code of a language name from the 22-row code table
// ("ja-JP" -> "JPN", "uk-UA" -> "RUS"), compared case-insensitively; empty
// when the name is not in the table.
std::u16string LanguageCode(std::u16string_view name);

// True when `code` is one of the three-letter codes of that table, compared
// exactly as the message file's element names are ("JPN", not "jpn").
bool IsLanguageCode(std::u16string_view code);

// Splits a double-zero-terminated list of `length` units (as the preferred
// UI language functions return it) into its names. Stops at the first empty
// name or at `length`, whichever comes first.
std::vector<std::u16string> SplitNameList(const char16_t* list, std::size_t length);

// The language list from the thread's and the user's preferred names, both
// in preference order and not yet normalised: the normalised thread names,
// then the user names, without duplicates (the first stays); then the codes
// of those names in the same order; then "en-US", "en" and "ENG"; again
// without duplicates. Empty names are skipped.
std::vector<std::u16string> AssembleLanguageList(const std::vector<std::u16string>& threadNames,
                                                 const std::vector<std::u16string>& userNames);

// Windows only (LanguageList_win.cpp): the list for the calling thread and
// user, from GetThreadPreferredUILanguages and GetUserPreferredUILanguages
// (Vista and later), else from the thread locale, the user's default UI
// language and the user's default locale. Always ends with "en-US", "en"
// and "ENG" unless they came earlier.
// Throws std::bad_alloc when storage cannot be had (see
// CatchAllocationFailures).
std::vector<std::u16string> BuildLanguageList();

}  // namespace quarry
