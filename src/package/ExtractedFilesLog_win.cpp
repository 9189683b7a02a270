// The integrity check on the real folders and the extracted-files log.
#include "package/ExtractedFilesLog_win.h"

#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinResult.h"
#include "workflow/FolderRules.h"
#include "package/PackageReader.h"
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

HResult PackageReader::WriteExtractedFilesLog(int mode, const std::u16string& logPath,
                                              const std::u16string& programPath,
                                              std::uint64_t programSize) {
    const std::u16string folder =
        WithTrailingBackslash(mode == 0 ? destinationFolder : supportFolder_);
    ExpectedFiles expected(mode == 0 ? destinationFiles : supportFiles);
    TreeDifferences differences;
    const bool match = CompareFolderTree(folder, folder, expected, differences);
    const HResult code = DifferenceResultCode(match, differences);
    if (match) return code;
    if (!logPath.empty()) {
        AppendToLog(logPath, programPath, programSize, FormatLogBlock(folder, code, differences));
    }
    return code;
}

}  // namespace quarry
