// Helpers for the tests that start real processes: the test program, the
// process list, and a job that takes every started process and whatever it
// starts down with it when the test ends.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/Unique.h"
#include "common/WinResult.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace testing {

inline std::u16string TestProgram() { return WindowsPathOf(QUARRY_TESTPROG); }

// The ids of the live processes whose parent is `parentId`, with the given
// executable name when one is given.
inline std::vector<DWORD> ChildrenOf(DWORD parentId, const std::u16string& exeName = u"") {
    std::vector<DWORD> children;
    UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return children;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ParentProcessID == parentId && entry.th32ProcessID != parentId &&
            (exeName.empty() || ::lstrcmpiW(entry.szExeFile, Wide(exeName)) == 0)) {
            children.push_back(entry.th32ProcessID);
        }
    }
    return children;
}

// The first such child seen within `timeoutMilliseconds`, or 0.
inline DWORD WaitForChildOf(DWORD parentId, DWORD timeoutMilliseconds,
                            const std::u16string& exeName = u"") {
    const DWORD start = ::GetTickCount();
    do {
        const std::vector<DWORD> children = ChildrenOf(parentId, exeName);
        if (!children.empty()) return children.front();
        ::Sleep(50);
    } while (::GetTickCount() - start < timeoutMilliseconds);
    return 0;
}

inline bool IsRunning(DWORD processId) {
    UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    return process && ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

// Waits for a process given by id; true when it ended in time.
inline bool WaitForEnd(DWORD processId, DWORD timeoutMilliseconds) {
    UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    return !process || ::WaitForSingleObject(process.Get(), timeoutMilliseconds) == WAIT_OBJECT_0;
}

// Processes started through Start belong to a job; the processes they start
// join it too, and the whole lot is ended when the object goes away.
class ProcessGroup {
public:
    ProcessGroup() : job_(::CreateJobObjectW(nullptr, nullptr)) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ::SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits,
                                  sizeof limits);
    }
    ~ProcessGroup() {
        if (job_) ::TerminateJobObject(job_.Get(), 1);
    }
    ProcessGroup(const ProcessGroup&) = delete;
    ProcessGroup& operator=(const ProcessGroup&) = delete;

    // Starts `program` with `arguments`; the process handle, or an empty one.
    UniqueHandle Start(const std::u16string& program, const std::u16string& arguments,
                       DWORD* processId = nullptr) {
        std::u16string commandLine = u"\"" + program + u"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!::CreateProcessW(Wide(program), reinterpret_cast<wchar_t*>(&commandLine[0]),
                              nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                              &startup, &info)) {
            ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
            return UniqueHandle();
        }
        if (job_) ::AssignProcessToJobObject(job_.Get(), info.hProcess);
        ::ResumeThread(info.hThread);
        ::CloseHandle(info.hThread);
        if (processId) *processId = info.dwProcessId;
        return UniqueHandle(info.hProcess);
    }

private:
    UniqueHandle job_;
};

inline DWORD ExitCodeOf(HANDLE process) {
    DWORD code = 0xDEADBEEF;
    ::GetExitCodeProcess(process, &code);
    return code;
}

}  // namespace testing
}  // namespace quarry
