#include "workflow/Cleanup.h"

#include <windows.h>

#include "common/Unique.h"
#include "common/WinResult.h"
#include "workflow/FolderRules.h"

namespace quarry {

namespace {

// Every attribute DeleteFileW does not mind, kept when read-only is
// cleared: hidden, system, archive, normal, temporary, offline and
// not-content-indexed.
constexpr DWORD kAttributesKeptForDelete = 0x31A6;

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

void DeleteOneFile(const std::u16string& path) {
    if (::DeleteFileW(Wide(path))) return;
    if (::GetLastError() != ERROR_ACCESS_DENIED) return;
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
    ::SetFileAttributesW(Wide(path), attributes & kAttributesKeptForDelete);
    // Still in use, or denied for another reason: it stays.
    ::DeleteFileW(Wide(path));
}

// A junction or a folder symbolic link names a folder elsewhere; going into
// it would delete or visit files outside the tree, or loop for ever when it
// points above itself.
bool IsFolderLink(const WIN32_FIND_DATAW& data) {
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void WalkFolder(const std::u16string& folder, const FileVisitor& predicate, bool& running) {
    const std::u16string base = WithTrailingBackslash(folder);
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW(Wide(base + u"*"), &data));
    if (!find) return;
    do {
        if (IsDotEntry(data.cFileName)) continue;
        const std::u16string path = base + FromWide(data.cFileName);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!IsFolderLink(data)) WalkFolder(path, predicate, running);
        } else if (!predicate(path, running)) {
            running = false;
        }
    } while (::FindNextFileW(find.Get(), &data));
}

}  // namespace

bool DeleteTree(const std::u16string& folder) {
    const std::u16string base = WithTrailingBackslash(folder);
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW(Wide(base + u"*"), &data));
    if (find) {
        do {
            if (IsDotEntry(data.cFileName)) continue;
            const std::u16string path = base + FromWide(data.cFileName);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                // A link goes by itself; what it points to is not ours.
                if (IsFolderLink(data)) {
                    ::RemoveDirectoryW(Wide(path));
                } else {
                    DeleteTree(path);
                }
            } else {
                DeleteOneFile(path);
            }
        } while (::FindNextFileW(find.Get(), &data));
        // The search holds the folder open; it must go before the folder can.
        find.Reset();
    }
    return ::RemoveDirectoryW(Wide(folder)) != FALSE;
}

bool WalkFiles(const std::u16string& folder, const FileVisitor& predicate) {
    bool running = true;
    WalkFolder(folder, predicate, running);
    return running;
}

}  // namespace quarry
