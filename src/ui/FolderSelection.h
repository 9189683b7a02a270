// The shell's folder browser that lets the user pick the parent of the
// extract folder, and the rule that decides which folders it lets the user
// confirm. CExtractorDialog::ShowFolderSelection wraps the two for the
// worker.
#pragma once

#include <windows.h>

#include <string>

namespace quarry {

// Whether the browser enables OK for `path`. False for an empty path and for
// a root folder ("C:\", "\\server\share"). Otherwise true unless the folder's
// security descriptor and the caller's token could both be read and an
// access check finds that the caller may not list the folder, add files and
// folders to it, traverse it, and read and write its attributes: any failure
// to read leaves OK enabled.
bool IsFolderConfirmable(const std::u16string& path);

// Shows the folder browser modally on the calling thread, owned by `owner`
// (may be null), with `prompt` above the tree and `startFolder` selected and
// expanded. OK is enabled only for folders IsFolderConfirmable accepts.
// Returns the chosen folder's path (no trailing "\" except for a root), or an
// empty string when the user cancelled or the browser could not be shown.
std::u16string BrowseForWritableFolder(HWND owner, const std::u16string& startFolder,
                                       const std::u16string& prompt);

}  // namespace quarry
