#include "common/LinkSafe.h"

#include <cstdint>
#include <vector>

#include "common/FileInformation.h"
#include "common/SystemLibrary.h"
#include "common/WinResult.h"

namespace quarry {

namespace {

constexpr DWORD kListingBufferSize = 64 * 1024;

// Every attribute deletion does not mind, kept when read-only is cleared:
// hidden, system, archive, normal, temporary, offline and
// not-content-indexed.
constexpr DWORD kAttributesKeptForDelete = 0x31A6;

bool ClearReadOnly(HANDLE handle, DWORD attributes, const LinkSafeFunctions& functions) {
    FileBasicInfo info = {};  // zero times: left as they are
    info.fileAttributes = attributes & kAttributesKeptForDelete;
    if (info.fileAttributes == 0) info.fileAttributes = FILE_ATTRIBUTE_NORMAL;
    return functions.setFileInformation(handle, kFileBasicInfo, &info, sizeof(info)) != FALSE;
}

bool DeleteByName(const std::u16string& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ::RemoveDirectoryW(Wide(path)) != FALSE;
    if (::DeleteFileW(Wide(path))) return true;
    if (::GetLastError() != ERROR_ACCESS_DENIED || !(attributes & FILE_ATTRIBUTE_READONLY)) {
        return false;
    }
    ::SetFileAttributesW(Wide(path), attributes & kAttributesKeptForDelete);
    return ::DeleteFileW(Wide(path)) != FALSE;
}

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

bool IsDotName(const std::u16string& name) { return name == u"." || name == u".."; }

void ForEachEntryByName(const std::u16string& base, const EntryVisitor& visit) {
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW(Wide(base + u"*"), &data));
    if (!find) return;
    do {
        if (IsDotEntry(data.cFileName)) continue;
        visit(base + FromWide(data.cFileName), data.dwFileAttributes);
    } while (::FindNextFileW(find.Get(), &data));
}

}  // namespace

bool MarkForDeletion(HANDLE handle, const LinkSafeFunctions& functions) {
    if (!functions.setFileInformation) return false;
    FileDispositionInfo info = {TRUE};
    return functions.setFileInformation(handle, kFileDispositionInfo, &info, sizeof(info)) != FALSE;
}

LinkSafeFunctions SystemLinkSafeFunctions() {
    LinkSafeFunctions functions;
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    functions.setFileInformation =
        ProcAddress<SetFileInformationFn>(kernel, "SetFileInformationByHandle");
    functions.getFileInformation =
        ProcAddress<GetFileInformationFn>(kernel, "GetFileInformationByHandleEx");
    return functions;
}

OpenedEntry OpenEntry(const std::u16string& path, DWORD listedAttributes, DWORD access) {
    OpenedEntry entry;
    entry.handle.Reset(::CreateFileW(Wide(path), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     kShareAllButDelete, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr));
    if (entry.handle) {
        BY_HANDLE_FILE_INFORMATION information;
        if (::GetFileInformationByHandle(entry.handle.Get(), &information)) {
            entry.attributes = information.dwFileAttributes;
        }
    }
    // Asked after the open: a name swapped for a link before it shows here
    // even where the platform followed the link.
    const DWORD byPath = ::GetFileAttributesW(Wide(path));
    entry.judgement = JudgeTreeEntry(entry.attributes, listedAttributes, byPath);
    return entry;
}

OpenedEntry OpenEntryWithFirstOf(const std::u16string& path, DWORD listedAttributes,
                                 std::initializer_list<DWORD> accesses) {
    for (const DWORD access : accesses) {
        OpenedEntry entry = OpenEntry(path, listedAttributes, access);
        if (entry.handle) return entry;
    }
    return OpenEntry(path, listedAttributes, 0);
}

bool DeleteEntry(OpenedEntry& entry, const std::u16string& path,
                 const LinkSafeFunctions& functions) {
    if (!entry.handle || !entry.judgement.handleIsEntry) {
        entry.handle.Reset();
        return false;
    }
    if (!functions.setFileInformation) {
        // The held handle shares no deletion: it must go first.
        entry.handle.Reset();
        return DeleteByName(path, entry.attributes);
    }
    bool deleted = MarkForDeletion(entry.handle.Get(), functions);
    if (!deleted && ::GetLastError() == ERROR_ACCESS_DENIED &&
        (entry.attributes & FILE_ATTRIBUTE_READONLY) &&
        ClearReadOnly(entry.handle.Get(), entry.attributes, functions)) {
        deleted = MarkForDeletion(entry.handle.Get(), functions);
    }
    entry.handle.Reset();
    return deleted;
}

void ForEachEntry(const OpenedEntry& held, const std::u16string& folder,
                  const LinkSafeFunctions& functions, const EntryVisitor& visit) {
    std::u16string base = folder;
    if (base.empty() || base.back() != u'\\') base += u'\\';
    if (!functions.getFileInformation) {
        ForEachEntryByName(base, visit);
        return;
    }
    // Read through the held handle: a listing by name would open the folder
    // anew, and the held handle's DELETE access would make that fail.
    std::vector<std::uint64_t> buffer(kListingBufferSize / sizeof(std::uint64_t));
    int informationClass = kFileIdBothDirectoryRestartInfo;
    while (functions.getFileInformation(held.handle.Get(), informationClass, buffer.data(),
                                        kListingBufferSize)) {
        informationClass = kFileIdBothDirectoryInfo;
        const auto* bytes = reinterpret_cast<const BYTE*>(buffer.data());
        for (DWORD offset = 0;;) {
            const auto* record = reinterpret_cast<const FileIdBothDirectoryInfo*>(bytes + offset);
            const std::u16string name =
                FromWide(record->fileName, record->fileNameLength / sizeof(WCHAR));
            if (!IsDotName(name)) visit(base + name, record->fileAttributes);
            if (record->nextEntryOffset == 0) break;
            offset += record->nextEntryOffset;
        }
    }
}

namespace {

bool HoldEntry(const std::u16string& path, DWORD listedAttributes, bool top,
               std::vector<UniqueFile>& held, const LinkSafeFunctions& functions) {
    // No DELETE: a folder held with it could not be listed by name, which
    // is how the tree reset that follows finds its way.
    OpenedEntry entry = OpenEntry(path, listedAttributes, FILE_LIST_DIRECTORY);
    if (!entry.handle) entry = OpenEntry(path, listedAttributes, 0);
    switch (entry.judgement.kind) {
    case TreeEntryKind::Unknown:
        return false;
    case TreeEntryKind::Link: {
        if (top) return false;
        // Opened again to delete it (the first handle shares no deletion),
        // and judged again: it must still be a link.
        entry.handle.Reset();
        OpenedEntry link = OpenEntry(path, listedAttributes, DELETE);
        return link.judgement.kind == TreeEntryKind::Link && DeleteEntry(link, path, functions);
    }
    case TreeEntryKind::File:
        held.push_back(std::move(entry.handle));
        return true;
    case TreeEntryKind::Folder:
        break;
    }
    bool clean = true;
    ForEachEntry(entry, path, functions, [&](const std::u16string& child, DWORD attributes) {
        if (!HoldEntry(child, attributes, false, held, functions)) clean = false;
    });
    held.push_back(std::move(entry.handle));
    return clean;
}

}  // namespace

bool HoldTreeWithoutLinks(const std::u16string& path, std::vector<UniqueFile>& held,
                          const LinkSafeFunctions& functions) {
    std::u16string top = path;
    while (top.size() > 1 && top.back() == u'\\') top.pop_back();
    return HoldEntry(top, ::GetFileAttributesW(Wide(top)), true, held, functions);
}

}  // namespace quarry
