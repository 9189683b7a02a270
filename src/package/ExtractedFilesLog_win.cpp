// The integrity check on the real folders and the extracted-files log.
#include "package/ExtractedFilesLog_win.h"

#include <vector>

#include "common/LinkSafe.h"
#include "common/PathText.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinResult.h"
#include "restrictions/Signature.h"

namespace quarry {

namespace {

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Appends `text` as UTF-16LE to the log, with the byte-order mark and the
// header first when the log is empty. Failures are silent: the check's
// result does not depend on its log.
void AppendToLog(const std::u16string& logPath, const std::u16string& programPath,
                 std::uint64_t programSize, const std::u16string& text) {
    UniqueFile log(::CreateFileW(Wide(logPath), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log) return;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(log.Get(), &size)) return;
    std::u16string whole;
    if (size.QuadPart != 0) {
        LARGE_INTEGER zero = {};
        if (!::SetFilePointerEx(log.Get(), zero, nullptr, FILE_END)) return;
    } else {
        std::u16string signer;
        const bool verifies = VerifyFileSignature(programPath);
        ReadSignerName(programPath, signer);
        whole += u'\xFEFF';
        whole += FormatLogHeader(programSize, programPath, verifies, signer);
    }
    whole += text;
    const DWORD bytes = static_cast<DWORD>(whole.size() * sizeof(char16_t));
    DWORD written = 0;
    ::WriteFile(log.Get(), whole.data(), bytes, &written, nullptr);
}

}  // namespace

bool CompareFolderTree(const std::u16string& rootFolder, const std::u16string& currentFolder,
                       ExpectedFiles& expected, TreeDifferences& differences) {
    const std::u16string root = WithTrailingBackslash(rootFolder);
    const std::u16string current = WithTrailingBackslash(currentFolder);
    bool match = true;

    WIN32_FIND_DATAW found;
    UniqueFind search(::FindFirstFileW(Wide(current + u"*"), &found));
    if (search) {
        // One buffer for every path of the folder: a check of many files
        // allocates next to nothing per file.
        std::u16string path = current;
        do {
            if (IsDotEntry(found.cFileName)) continue;
            path.resize(current.size());
            path += reinterpret_cast<const char16_t*>(found.cFileName);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!CompareFolderTree(root, path, expected, differences)) match = false;
                continue;
            }
            const std::uint64_t size =
                (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            if (!RecordFoundFile(expected, std::u16string_view(path).substr(root.size()), size,
                                 differences)) {
                match = false;
            }
        } while (::FindNextFileW(search.Get(), &found));
        if (::GetLastError() != ERROR_NO_MORE_FILES) match = false;
    }

    if (EqualsNoCase(root, current) && !RecordMissingFiles(expected, differences)) match = false;
    return match;
}

HResult VerifyExtractedTree(const TreeCheck& check) {
    const std::u16string folder = WithTrailingBackslash(check.folder);
    ExpectedFiles expected(check.written);
    TreeDifferences differences;
    const bool match = CompareFolderTree(folder, folder, expected, differences);
    const HResult code = DifferenceResultCode(match, differences);
    if (match) return code;
    if (!check.logPath.empty()) {
        AppendToLog(check.logPath, check.programPath, check.programSize,
                    FormatLogBlock(folder, code, differences));
    }
    return code;
}

namespace {

// Opens a folder to hold it: others may still list it and create or remove
// what is inside, but not rename or delete the folder itself. Opened as the
// cleanup opens what it walks, so a link in its place is refused, also where
// the platform followed it.
UniqueFile HoldFolder(std::u16string folder) {
    while (folder.size() > 3 && folder.back() == u'\\') folder.pop_back();
    OpenedEntry entry = OpenEntry(folder, INVALID_FILE_ATTRIBUTES, FILE_LIST_DIRECTORY);
    if (entry.judgement.kind != TreeEntryKind::Folder || !entry.judgement.handleIsEntry) {
        return UniqueFile();
    }
    return std::move(entry.handle);
}

// The SHA-256 of the open file from its start, and its size; false when it
// cannot be read whole or is not a plain file.
bool FingerprintOpenFile(HANDLE file, Sha256Digest& digest, std::uint64_t& size) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        return false;
    }
    size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) |
           information.nFileSizeLow;
    std::vector<std::uint8_t> buffer(1u << 20);
    Sha256 hash;
    std::uint64_t read = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return false;
        }
        if (got == 0) break;
        hash.Update(buffer.data(), got);
        read += got;
    }
    digest = hash.Finish();
    return read == size;
}

}  // namespace

HResult HoldLaunchFile(const TreeCheck& check, const std::u16string& relativePath,
                       std::vector<UniqueFile>& held) {
    held.clear();
    const std::u16string folder = WithTrailingBackslash(check.folder);
    std::u16string path = relativePath;
    for (char16_t& c : path) {
        if (c == u'/') c = u'\\';
    }
    const ExtractedFileRecord* record = nullptr;
    for (const ExtractedFileRecord& written : check.written) {
        if (written.fingerprinted && EqualsNoCase(written.relativePath, path)) record = &written;
    }

    std::vector<UniqueFile> handles;
    bool same = record != nullptr && IsSafeRelativePath(path);
    // The folders first, from the top: once one is held, nothing above the
    // file can be renamed away and replaced while the file is checked.
    for (std::size_t end = 0; same && end != std::u16string::npos;
         end = path.find(u'\\', end + 1)) {
        handles.push_back(HoldFolder(folder + path.substr(0, end)));
        same = static_cast<bool>(handles.back());
    }
    std::uint64_t sizeOnDisk = 0;
    if (same) {
        UniqueFile file(::CreateFileW(Wide(folder + path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                      nullptr));
        Sha256Digest digest{};
        same = file && FingerprintOpenFile(file.Get(), digest, sizeOnDisk) &&
               sizeOnDisk == record->size && digest == record->digest;
        // The loader and the shell read the file through handles of their
        // own; this one stays with the others from the first byte on.
        handles.push_back(std::move(file));
    }
    if (same) {
        held = std::move(handles);
        return kResultOk;
    }

    TreeDifferences differences;
    if (record) {
        differences.changed.push_back(
            {static_cast<std::int64_t>(sizeOnDisk - record->size), path});
    } else {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (::GetFileAttributesExW(Wide(folder + path), GetFileExInfoStandard, &data)) {
            sizeOnDisk = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
        differences.created.push_back({static_cast<std::int64_t>(sizeOnDisk), path});
    }
    const HResult code = DifferenceResultCode(false, differences);
    if (!check.logPath.empty()) {
        AppendToLog(check.logPath, check.programPath, check.programSize,
                    FormatLogBlock(folder, code, differences));
    }
    return code;
}

}  // namespace quarry
