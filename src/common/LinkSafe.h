// File-system access that never follows a link: entries opened with
// FILE_FLAG_OPEN_REPARSE_POINT and judged by their own attributes
// (TreeEntry.h), deleted through the handle that was judged, and folders
// held open while they are listed so that none can be renamed away or
// replaced by a link in the meantime.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/TreeEntry.h"
#include "common/Unique.h"

namespace quarry {

// SetFileInformationByHandle and GetFileInformationByHandleEx, Windows
// Vista and later; null before.
using SetFileInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
using GetFileInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

struct LinkSafeFunctions {
    SetFileInformationFn setFileInformation = nullptr;
    GetFileInformationFn getFileInformation = nullptr;
};

// Both looked up by name in kernel32.
LinkSafeFunctions SystemLinkSafeFunctions();

// Marks the entry `handle` holds (opened with DELETE) to be deleted as its
// last handle closes; false without SetFileInformationByHandle.
bool MarkForDeletion(HANDLE handle, const LinkSafeFunctions& functions);

// The sharing of every handle held here: others may read and write, but
// nobody can rename or delete the entry while it is held.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct OpenedEntry {
    UniqueFile handle;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;  // the handle's own
    TreeEntryJudgement judgement;
};

// Opens `path` (no trailing "\") without following a reparse point, with
// `access` and FILE_READ_ATTRIBUTES, shared as kShareAllButDelete, and
// judges it with the attributes the listing gave (`listedAttributes`,
// INVALID_FILE_ATTRIBUTES when none). Unknown when it cannot be opened.
OpenedEntry OpenEntry(const std::u16string& path, DWORD listedAttributes, DWORD access);

// OpenEntry asking for each access of `accesses` in turn (the first that
// the system grants), ending with no access beyond reading attributes.
OpenedEntry OpenEntryWithFirstOf(const std::u16string& path, DWORD listedAttributes,
                                 std::initializer_list<DWORD> accesses);

// Deletes the entry that `entry` holds through its handle, which must have
// been opened with DELETE; a read-only file first loses that attribute (its
// others kept) when the handle also has FILE_WRITE_ATTRIBUTES. A folder
// must be empty. Nothing is done when the handle is not the entry itself
// (a link the platform followed). Without SetFileInformationByHandle
// (Windows XP, which has no symbolic links) the handle is closed and the
// entry deleted by name. True when the entry is gone or goes as the handle
// closes; the handle is closed either way.
bool DeleteEntry(OpenedEntry& entry, const std::u16string& path,
                 const LinkSafeFunctions& functions);

// Calls `visit` with the full path and the listed attributes of every entry
// of the folder `held` holds (opened with FILE_LIST_DIRECTORY), `folder`
// being its path, other than "." and "..". The listing is read through the
// handle; without GetFileInformationByHandleEx (Windows XP) by path.
using EntryVisitor = std::function<void(const std::u16string& path, DWORD listedAttributes)>;
void ForEachEntry(const OpenedEntry& held, const std::u16string& folder,
                  const LinkSafeFunctions& functions, const EntryVisitor& visit);

// Opens the entry at `path` and, when it is a folder, everything below it,
// without following links, and keeps every handle in `held`, so that while
// they are held nothing in the tree can be renamed, deleted or swapped for
// a link. A link found below `path` is removed as a link. False when `path`
// itself is a link or cannot be opened, or a link below it could not be
// removed (the platform opened what it points at, or access was denied):
// a walk by name over that tree would follow it.
bool HoldTreeWithoutLinks(const std::u16string& path, std::vector<UniqueFile>& held,
                          const LinkSafeFunctions& functions);

}  // namespace quarry
