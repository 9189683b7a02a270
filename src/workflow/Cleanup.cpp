#include "workflow/Cleanup.h"

#include <windows.h>

#include "common/LinkSafe.h"
#include "common/WinResult.h"

namespace quarry {

namespace {

std::u16string WithoutTrailingBackslash(std::u16string path) {
    while (path.size() > 1 && path.back() == u'\\') path.pop_back();
    return path;
}

// Deletes the entry at `path`: a folder with everything below it, depth
// first, while the folder is held open so that it cannot be swapped for a
// link under the walk; a link as a link. True when the entry went.
bool DeleteEntryTree(const std::u16string& path, DWORD listedAttributes,
                     const LinkSafeFunctions& functions) {
    // FILE_WRITE_ATTRIBUTES to clear a read-only attribute; without it, or
    // without DELETE, a folder is still emptied as far as it can be.
    // FILE_LIST_DIRECTORY is reading data for a file, which one in use may
    // not share: asked for first, then done without. Without deletion and
    // listing by handle (Windows XP) the entry is deleted and listed by
    // name, which a held DELETE access would refuse.
    const bool byHandle = functions.setFileInformation && functions.getFileInformation;
    OpenedEntry entry =
        byHandle ? OpenEntryWithFirstOf(path, listedAttributes,
                                        {DELETE | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY,
                                         DELETE | FILE_WRITE_ATTRIBUTES,
                                         DELETE | FILE_LIST_DIRECTORY, DELETE,
                                         FILE_LIST_DIRECTORY})
                 : OpenEntryWithFirstOf(path, listedAttributes, {FILE_LIST_DIRECTORY});
    switch (entry.judgement.kind) {
    case TreeEntryKind::Unknown:
        return false;
    case TreeEntryKind::Link:
        // Removed as a link where the handle is the link; where the
        // platform opened what it points at, it stays: that is not ours.
        return DeleteEntry(entry, path, functions);
    case TreeEntryKind::Folder:
        ForEachEntry(entry, path, functions, [&](const std::u16string& child, DWORD attributes) {
            DeleteEntryTree(child, attributes, functions);
        });
        return DeleteEntry(entry, path, functions);
    case TreeEntryKind::File:
        return DeleteEntry(entry, path, functions);
    }
    return false;
}

void WalkFolder(const std::u16string& folder, DWORD listedAttributes,
                const LinkSafeFunctions& functions, const FileVisitor& predicate,
                bool& running) {
    // Held while it is listed: it cannot be renamed away or become a link.
    const OpenedEntry held = OpenEntry(folder, listedAttributes, FILE_LIST_DIRECTORY);
    if (held.judgement.kind != TreeEntryKind::Folder) return;
    ForEachEntry(held, folder, functions, [&](const std::u16string& path, DWORD attributes) {
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return;  // a link: never walked
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            WalkFolder(path, attributes, functions, predicate, running);
        } else if (!predicate(path, running)) {
            running = false;
        }
    });
}

}  // namespace

bool DeleteTree(const std::u16string& folder) {
    return DeleteTree(folder, SystemLinkSafeFunctions());
}

bool DeleteTree(const std::u16string& folder, const LinkSafeFunctions& functions) {
    const std::u16string path = WithoutTrailingBackslash(folder);
    // The tree's own top must be a folder or a link; a file of that name is
    // not a tree to remove.
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        return false;
    }
    return DeleteEntryTree(path, attributes, functions);
}

bool WalkFiles(const std::u16string& folder, const FileVisitor& predicate) {
    bool running = true;
    const std::u16string path = WithoutTrailingBackslash(folder);
    WalkFolder(path, ::GetFileAttributesW(Wide(path)), SystemLinkSafeFunctions(), predicate,
               running);
    return running;
}

}  // namespace quarry
