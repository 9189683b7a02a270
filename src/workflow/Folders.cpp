#include "workflow/Folders.h"

#include <objbase.h>
#include <shlwapi.h>

#include <vector>

#include "common/LinkSafe.h"
#include "common/PathText.h"
#include "common/SystemLibrary.h"
#include "common/Unique.h"
#include "common/WinFile.h"
#include "common/WinResult.h"
#include "package/AccessControl.h"
#include "package/AccessControl_win.h"
#include "workflow/Cleanup.h"
#include "workflow/FolderRules.h"

namespace quarry {

namespace {

// GetTempPathW's buffer; a longer temporary path counts as a failure.
constexpr DWORD kTempPathCapacity = 261;
// SHGetSpecialFolderPathW's buffer: 4096 bytes, zeroed.
constexpr std::size_t kSpecialFolderCapacity = 4096 / sizeof(wchar_t);

// FOLDERID_Downloads and KF_FLAG_CREATE: the SDK declares them only for
// Windows Vista and later builds.
constexpr GUID kFolderIdDownloads = {
    0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
constexpr DWORD kKnownFolderFlagCreate = 0x8000;

// The shell's unique-name function, exported only by ordinal 75: an output
// buffer of MAX_PATH characters, the wanted path, then a short and a long
// name to place in it, both optional. (PathYetAnotherMakeUniqueName.)
using UniqueNameFn = BOOL(WINAPI*)(PWSTR unique, PCWSTR path, PCWSTR shortName,
                                   PCWSTR longName);
constexpr WORD kUniqueNameOrdinal = 75;

bool Exists(const std::u16string& path) {
    return ::PathFileExistsW(Wide(path)) != FALSE;
}

}  // namespace

FolderFunctions SystemFolderFunctions() {
    FolderFunctions functions;
    // Windows Vista and later. shell32 is loaded already: the program
    // imports from it.
    if (HMODULE shell = ::GetModuleHandleW(L"shell32.dll")) {
        functions.getKnownFolderPath =
            ProcAddress<KnownFolderPathFn>(shell, "SHGetKnownFolderPath");
    }
    functions.getTempPath2 = ProcAddress<DWORD(WINAPI*)(DWORD, LPWSTR)>(
        ::GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W");
    return functions;
}

std::u16string GetWorkRoot() { return GetWorkRoot(SystemFolderFunctions()); }

std::u16string GetWorkRoot(const FolderFunctions& functions) {
    wchar_t temp[kTempPathCapacity] = {};
    const auto getTempPath =
        functions.getTempPath2 ? functions.getTempPath2 : functions.getTempPath;
    const DWORD length = getTempPath(kTempPathCapacity, temp);
    if (length != 0 && length < kTempPathCapacity) {
        const std::u16string tempFolder = WithTrailingBackslash(FromWide(temp, length));
        // TMP may name a folder that does not exist. The result is not
        // checked here: a failure shows when the work root is created.
        if (!Exists(tempFolder)) ::CreateDirectoryW(Wide(tempFolder), nullptr);
        return tempFolder + u"QuarryTool";
    }

    std::u16string commonData;
    if (!GetSpecialFolder(CSIDL_COMMON_APPDATA, commonData, functions)) return std::u16string();
    const std::u16string company = WithTrailingBackslash(commonData) + u"Norvik Corporation";
    if (!Exists(company) && !::CreateDirectoryW(Wide(company), nullptr)) {
        return std::u16string();
    }
    return WithTrailingBackslash(company) + u"Norvik Quarry Tool";
}

bool GetSpecialFolder(int csidl, std::u16string& path) {
    return GetSpecialFolder(csidl, path, FolderFunctions());
}

bool GetSpecialFolder(int csidl, std::u16string& path, const FolderFunctions& functions) {
    wchar_t buffer[kSpecialFolderCapacity] = {};
    if (!functions.getSpecialFolderPath(nullptr, buffer, csidl, TRUE)) return false;
    buffer[kSpecialFolderCapacity - 1] = 0;
    path = FromWide(buffer);
    return true;
}

bool GetDownloadsFolder(std::u16string& path) {
    return GetDownloadsFolder(path, SystemFolderFunctions());
}

bool GetDownloadsFolder(std::u16string& path, const FolderFunctions& functions) {
    if (functions.getKnownFolderPath) {
        PWSTR known = nullptr;
        const HRESULT hr = functions.getKnownFolderPath(kFolderIdDownloads,
                                                        kKnownFolderFlagCreate, nullptr, &known);
        std::u16string folder;
        if (Succeeded(hr) && known) folder = FromWide(known);
        // The buffer is the caller's to free, and CoTaskMemFree takes null.
        ::CoTaskMemFree(known);
        if (!folder.empty()) {
            path = WithTrailingBackslash(std::move(folder));
            return true;
        }
    }

    std::u16string documents;
    if (!GetSpecialFolder(CSIDL_PERSONAL, documents, functions)) return false;
    path = WithTrailingBackslash(documents) + u"Downloads";
    return Exists(path) || ::CreateDirectoryW(Wide(path), nullptr);
}

BOOL WINAPI SystemDiskFreeSpace(LPCWSTR folder, PULARGE_INTEGER available, PULARGE_INTEGER total,
                                PULARGE_INTEGER free) {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto query = kernel ? ProcAddress<DiskFreeSpaceFn>(kernel, "GetDiskFreeSpaceExW")
                              : nullptr;
    return query ? query(folder, available, total, free) : FALSE;
}

bool QueryFreeBytes(const std::u16string& folder, std::uint64_t& available,
                    DiskFreeSpaceFn query) {
    ULARGE_INTEGER availableToCaller = {};
    ULARGE_INTEGER total = {};
    ULARGE_INTEGER totalFree = {};
    if (query(Wide(folder), &availableToCaller, &total, &totalFree) != TRUE) return false;
    available = availableToCaller.QuadPart;
    return true;
}

bool MakeUniqueName(const std::u16string& wanted, std::u16string& unique) {
    // The shell function writes into a MAX_PATH buffer and does not check a
    // longer wanted path; such a path could not be created anyway.
    if (wanted.empty() || wanted.size() >= MAX_PATH) return false;
    HMODULE shell = ::GetModuleHandleW(L"shell32.dll");
    if (!shell) return false;
    const auto makeUnique =
        ProcAddress<UniqueNameFn>(shell, MAKEINTRESOURCEA(kUniqueNameOrdinal));
    if (!makeUnique) return false;
    // The wanted path goes in as its folder and its name, the documented
    // form: with no name part Wine appends "(null)" to every name it makes
    // ("Setup (2)(null)").
    const std::size_t cut = wanted.find_last_of(u'\\');
    if (cut == std::u16string::npos || cut + 1 == wanted.size()) return false;
    const std::u16string folder = wanted.substr(0, cut == 2 && wanted[1] == u':' ? 3 : cut);
    const std::u16string name = wanted.substr(cut + 1);
    wchar_t buffer[MAX_PATH] = {};
    if (!makeUnique(buffer, Wide(folder), nullptr, Wide(name)) || buffer[0] == 0) return false;
    unique = FromWide(buffer);
    return true;
}

HResult PrepareWorkRoot(const std::u16string& root, SECURITY_ATTRIBUTES* security,
                        std::u16string& usable, const AccessControlFunctions& access) {
    if (root.empty() || !security) return kResultFolderNotCreated;
    if (Succeeded(CreateNewFolder(root, security))) {
        usable = root;
        return kResultOk;
    }
    {
        // Held while it is checked: it cannot be swapped for another folder
        // or a link in the meantime.
        const OpenedEntry held = OpenEntry(root, INVALID_FILE_ATTRIBUTES, READ_CONTROL);
        if (held.judgement.kind == TreeEntryKind::Folder && held.judgement.handleIsEntry &&
            OnlyRunCanWriteFolder(root, access.runIdentity(), access)) {
            usable = root;
            return kResultOk;
        }
    }
    std::u16string fresh;
    if (Failed(CatchAllocationFailures([&] {
            fresh = root + u"." + NewGuidString();
            return kResultOk;
        }))) {
        return kResultFolderNotCreated;
    }
    if (Failed(CreateNewFolder(fresh, security))) return kResultFolderNotCreated;
    usable = fresh;
    return kResultOk;
}

int SweepStaleWorkFolders(const std::u16string& root, std::uint64_t now,
                          const AccessControlFunctions& access) {
    if (now == 0) {
        FILETIME current;
        ::GetSystemTimeAsFileTime(&current);
        now = FileTimeValue(current);
    }
    std::vector<std::u16string> stale;
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW(Wide(root + u"\\{*}"), &data));
    if (!find) return 0;
    do {
        const std::u16string name = FromWide(data.cFileName);
        if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                FILE_ATTRIBUTE_DIRECTORY &&
            IsWorkFolderName(name) &&
            IsStaleWorkFolder(FileTimeValue(data.ftCreationTime),
                              FileTimeValue(data.ftLastWriteTime), now)) {
            stale.push_back(root + u"\\" + name);
        }
    } while (::FindNextFileW(find.Get(), &data));

    int removed = 0;
    for (const std::u16string& folder : stale) {
        {
            // Listing access, sharing no reading: refused while a run holds
            // the folder. The probe is closed before anything is changed.
            const UniqueFile probe(::CreateFileW(
                Wide(folder), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            BY_HANDLE_FILE_INFORMATION information;
            if (!probe || !::GetFileInformationByHandle(probe.Get(), &information) ||
                (information.dwFileAttributes &
                 (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                    FILE_ATTRIBUTE_DIRECTORY) {
                continue;
            }
        }
        SetTreeAccess(folder, true, access);
        if (DeleteTree(folder)) ++removed;
    }
    return removed;
}

}  // namespace quarry
