#include "execution/RunModeGate_win.h"

#include <tlhelp32.h>

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

}  // namespace

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
    // The same functions read both sides, so both paths have one form.
    ProcessIdentity self;
    if (!functions.processIdentity(selfId, self)) return false;
    DWORD parentId = 0;
    if (!functions.parentProcessId(selfId, parentId) || parentId == 0 || parentId == selfId) {
        return AcceptsRunRequest(self, nullptr);
    }
    ProcessIdentity parent;
    if (!functions.processIdentity(parentId, parent)) return AcceptsRunRequest(self, nullptr);
    return AcceptsRunRequest(self, &parent);
}

}  // namespace quarry
