// Names as they travel from the Linux file system into the package and back
// out on Windows: UTF-8 validity, what Windows accepts as a file name, and
// keys for the case-insensitive comparisons the runner makes.
#pragma once

#include <string>
#include <string_view>

#include "package/PackageFormat.h"

namespace quarry::pack {

// Valid UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);

// Why Windows cannot hold `name` (a file name, or a path for the faults of
// a path), for messages: "a Windows device name", "character '|' is not
// allowed in Windows file names". `fault` comes from NameComponentFault or
// RelativePathFault on `name`; empty for NameFault::None.
std::string NameFaultReason(NameFault fault, std::u16string_view name);

// The text with every unit folded as EqualsNoCase folds it, for use as a key.
std::u16string FoldedKey(std::u16string_view text);

// A name for printing: UTF-8, with every control character (below 0x20,
// 0x7F, 0x80 to 0x9F) written as "\x" and two lower-case hex digits, so
// that a name can neither move the cursor, nor start a terminal escape,
// nor pass for two lines. A "\" is printed as it is: it separates folders.
std::string Printable(std::u16string_view text);

// Text for messages: the Printable form in double quotes.
std::string Quoted(std::u16string_view text);

}  // namespace quarry::pack
