// Path text as the shell reads it: the file name and extension parts of a
// path, and a trailing backslash. Pure text: nothing here touches a disk.
#pragma once

#include <string>
#include <string_view>

namespace quarry {

// The file name part of a path as PathFindFileNameW finds it: the text after
// the last "\", "/" or ":" that is followed by something other than another
// separator. "C:\dir\Setup.exe" gives "Setup.exe"; a trailing "\" stays with
// the last component ("C:\dir\" gives "dir\"); a path without separators is
// its own name.
std::u16string FileNamePart(std::u16string_view path);

// The extension of a name as PathFindExtensionW finds it: from the last "."
// that is not followed by a "\" or a space, to the end. Empty when there is
// none. ".hidden" is all extension; "my.file name" has none.
std::u16string_view ExtensionPart(std::u16string_view name);

// `path` with a "\" appended when it does not already end in one; an empty
// path becomes "\".
std::u16string WithTrailingBackslash(std::u16string path);

}  // namespace quarry
