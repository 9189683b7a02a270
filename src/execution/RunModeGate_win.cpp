#include "execution/RunModeGate_win.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "common/SystemLibrary.h"
#include "common/Unique.h"
#include "common/WinResult.h"
#include "execution/ProcessTreeWatcher.h"

namespace quarry {

namespace {

using QueryFullProcessImageNameFunction = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

// Windows Vista and later; it needs only the limited query right, which a
// process of a higher integrity level still grants.
QueryFullProcessImageNameFunction FullImageNameFunction() {
    static const QueryFullProcessImageNameFunction function =
        ProcAddress<QueryFullProcessImageNameFunction>(::GetModuleHandleW(L"kernel32.dll"),
                                                       "QueryFullProcessImageNameW");
    return function;
}

std::u16string ImagePath(HANDLE process) {
    if (const QueryFullProcessImageNameFunction queryName = FullImageNameFunction()) {
        // Paths longer than MAX_PATH exist; 32,767 characters hold any.
        std::u16string path(32768, u'\0');
        DWORD length = static_cast<DWORD>(path.size());
        if (queryName(process, 0, reinterpret_cast<wchar_t*>(&path[0]), &length)) {
            path.resize(length);
            return path;
        }
    }
    return ModuleImagePath(process);
}

using NtQuerySystemInformationFunction = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);

constexpr ULONG kSystemProcessInformation = 5;
constexpr ULONG kSystemProcessIdInformation = 88;  // Windows Vista on
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// The start of one record of kSystemProcessInformation; natural alignment
// gives the system's offsets in 32-bit and 64-bit programs alike.
struct ListedProcess {
    ULONG nextEntryOffset;
    ULONG numberOfThreads;
    LARGE_INTEGER workingSetPrivateSize;
    ULONG hardFaultCount;
    ULONG numberOfThreadsHighWatermark;
    ULONGLONG cycleTime;
    LARGE_INTEGER createTime;
    LARGE_INTEGER userTime;
    LARGE_INTEGER kernelTime;
    UNICODE_STRING imageName;
    LONG basePriority;
    HANDLE uniqueProcessId;
};

static_assert(offsetof(ListedProcess, createTime) == 0x20, "the record's creation time");
static_assert(offsetof(ListedProcess, uniqueProcessId) == (sizeof(void*) == 8 ? 0x50 : 0x44),
              "the record's process id");

struct ProcessIdInformation {
    HANDLE processId;
    UNICODE_STRING imageName;
};

// ntdll is in every process already: nothing is loaded to look it up.
NtQuerySystemInformationFunction SystemInformationFunction() {
    static const NtQuerySystemInformationFunction function =
        ProcAddress<NtQuerySystemInformationFunction>(::GetModuleHandleW(L"ntdll.dll"),
                                                      "NtQuerySystemInformation");
    return function;
}

std::uint64_t ListedCreationTime(NtQuerySystemInformationFunction query, DWORD processId) {
    std::vector<std::uint8_t> buffer(256 * 1024);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(kSystemProcessInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == kStatusInfoLengthMismatch) {
            // The list grows while it is asked for: some room to spare.
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 64 * 1024));
            continue;
        }
        if (status < 0) return 0;
        for (std::size_t at = 0; at + sizeof(ListedProcess) <= buffer.size();) {
            ListedProcess entry;
            std::memcpy(&entry, buffer.data() + at, sizeof entry);
            if (reinterpret_cast<ULONG_PTR>(entry.uniqueProcessId) == processId) {
                return static_cast<std::uint64_t>(entry.createTime.QuadPart);
            }
            if (entry.nextEntryOffset == 0) break;
            at += entry.nextEntryOffset;
        }
        return 0;
    }
    return 0;
}

}  // namespace

bool ReadListedProcessIdentity(DWORD processId, ProcessIdentity& identity) {
    const NtQuerySystemInformationFunction query = SystemInformationFunction();
    if (!query) return false;
    // The longest path the system names, in bytes, fits the 16-bit length.
    std::vector<wchar_t> path(32767);
    ProcessIdInformation information = {};
    information.processId = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(processId));
    information.imageName.MaximumLength = static_cast<USHORT>((path.size() - 1) * sizeof(wchar_t));
    information.imageName.Buffer = path.data();
    if (query(kSystemProcessIdInformation, &information, sizeof information, nullptr) < 0) {
        return false;
    }
    identity.imagePath = FromWide(path.data(), information.imageName.Length / sizeof(wchar_t));
    identity.creationTime = ListedCreationTime(query, processId);
    return !identity.imagePath.empty() && identity.creationTime != 0;
}

bool ParentProcessId(DWORD processId, DWORD& parentId) {
    UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == processId) {
            parentId = entry.th32ParentProcessID;
            return true;
        }
    }
    return false;
}

bool ReadProcessIdentity(DWORD processId, ProcessIdentity& identity) {
    const UniqueHandle process = OpenProcessForQuery(processId);
    if (!process) return false;
    FILETIME created = {};
    FILETIME exited = {};
    FILETIME kernel = {};
    FILETIME user = {};
    if (!::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) return false;
    identity.creationTime =
        (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    identity.imagePath = ImagePath(process.Get());
    return !identity.imagePath.empty() && identity.creationTime != 0;
}

bool IsStartedBySameProgram(const RunModeGateFunctions& functions) {
    const DWORD selfId = ::GetCurrentProcessId();
    DWORD parentId = 0;
    if (!functions.parentProcessId(selfId, parentId) || parentId == 0 || parentId == selfId) {
        return false;
    }
    for (const auto read : {functions.processIdentity, functions.listedProcessIdentity}) {
        ProcessIdentity self;
        ProcessIdentity parent;
        if (read(selfId, self) && read(parentId, parent)) return AcceptsRunRequest(self, &parent);
    }
    return false;
}

}  // namespace quarry
