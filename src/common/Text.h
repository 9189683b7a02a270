// UTF-16 string helpers for the pure code. Text in the program is UTF-16;
// these work on std::u16string so that they behave the same natively (where
// wchar_t is 32 bits) and under Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

// Upper-cases one UTF-16 unit the way the invariant locale folds case for
// the characters that switch, group, file and extension names use: ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic. Other units are unchanged.
char16_t FoldCase(char16_t c);

// Case-insensitive equality with FoldCase.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// Literal UTF-16 text from ASCII, for comparisons with the system's names.
std::u16string Ascii(std::string_view text);

// Trims leading and trailing white space (space, tab, CR, LF, VT, FF).
std::u16string_view TrimWhite(std::u16string_view text);

bool IsWhiteSpace(char16_t c);

// The pieces of `text` between any of the `separators`, in order, empty
// pieces left out. The views point into `text`.
std::vector<std::u16string_view> SplitNonEmpty(std::u16string_view text,
                                               std::u16string_view separators);

// UTF-8 to UTF-16 and back. Each byte that does not start a well-formed
// sequence becomes U+FFFD; unpaired surrogates on the way back become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace quarry
