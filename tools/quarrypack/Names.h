// Names as they travel from the Linux file system into the package and back
// out on Windows: UTF-8 validity, what Windows accepts as a file name, and
// keys for the case-insensitive comparisons the runner makes.
#pragma once

#include <string>
#include <string_view>

namespace quarry::pack {

// Valid UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);

// Checks one file or folder name for what the runner can create on Windows:
// not empty, no control characters, none of < > : " / \ | ? *, no trailing
// dot or space, not a device name (CON, NUL, COM1, ... with any extension).
// False with the reason otherwise.
bool CheckWindowsName(std::u16string_view name, std::string& reason);

// The text with every unit folded as EqualsNoCase folds it, for use as a key.
std::u16string FoldedKey(std::u16string_view text);

// Text for messages: the UTF-8 form in double quotes.
std::string Quoted(std::u16string_view text);

}  // namespace quarry::pack
