// Helpers for the tests that start real processes: the test program, the
// process list, and a job that takes every started process and whatever it
// starts down with it when the test ends.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/Unique.h"
#include "common/WinResult.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace testing {

inline std::u16string TestProgram() { return WindowsPathOf(QUARRY_TESTPROG); }

// A fresh braced GUID, as run mode's event name takes it.
inline std::u16string NewGuid() {
    GUID guid = {};
    ::CoCreateGuid(&guid);
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return FromWide(text);
}

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
    // With a `parent`, the new process is that process's child as the
    // process list shows it (what a caller that spoofs its parent gets);
    // `suspended` leaves its first thread suspended; `directory` is its
    // current folder (null: this process's).
    UniqueHandle Start(const std::u16string& program, const std::u16string& arguments,
                       DWORD* processId = nullptr, HANDLE parent = nullptr,
                       bool suspended = false, const wchar_t* directory = nullptr) {
        std::u16string commandLine = u"\"" + program + u"\" " + arguments;
        // STARTUPINFOEXW, its constants and functions, which the headers
        // show only to programs built for Windows Vista and later.
        struct StartupInfoEx {
            STARTUPINFOW startup;
            void* attributes;
        } startup = {};
        constexpr DWORD_PTR kParentProcessAttribute = 0x00020000;
        constexpr DWORD kExtendedStartupInfoPresent = 0x00080000;
        using InitializeListFn = BOOL(WINAPI*)(void*, DWORD, DWORD, SIZE_T*);
        using UpdateListFn = BOOL(WINAPI*)(void*, DWORD, DWORD_PTR, void*, SIZE_T, void*, SIZE_T*);
        using DeleteListFn = void(WINAPI*)(void*);
        const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
        const auto initializeList = reinterpret_cast<InitializeListFn>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(kernel32, "InitializeProcThreadAttributeList")));
        const auto updateList = reinterpret_cast<UpdateListFn>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(kernel32, "UpdateProcThreadAttribute")));
        const auto deleteList = reinterpret_cast<DeleteListFn>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(kernel32, "DeleteProcThreadAttributeList")));
        startup.startup.cb = sizeof startup.startup;
        DWORD flags = CREATE_SUSPENDED;
        std::vector<std::uint8_t> attributeList;
        if (parent) {
            SIZE_T size = 0;
            if (initializeList && updateList && deleteList) {
                initializeList(nullptr, 1, 0, &size);
                attributeList.resize(size);
                startup.attributes = attributeList.data();
            }
            if (!startup.attributes || !initializeList(startup.attributes, 1, 0, &size) ||
                !updateList(startup.attributes, 0, kParentProcessAttribute, &parent,
                            sizeof parent, nullptr, nullptr)) {
                ADD_FAILURE() << "the parent attribute cannot be set: " << ::GetLastError();
                return UniqueHandle();
            }
            startup.startup.cb = sizeof startup;
            flags |= kExtendedStartupInfoPresent;
        }
        PROCESS_INFORMATION info = {};
        const BOOL created = ::CreateProcessW(
            Wide(program), reinterpret_cast<wchar_t*>(&commandLine[0]), nullptr, nullptr, FALSE,
            flags, nullptr, directory, reinterpret_cast<STARTUPINFOW*>(&startup), &info);
        const DWORD error = ::GetLastError();
        if (startup.attributes) deleteList(startup.attributes);
        if (!created) {
            ADD_FAILURE() << "CreateProcessW failed: " << error;
            return UniqueHandle();
        }
        if (job_) ::AssignProcessToJobObject(job_.Get(), info.hProcess);
        if (!suspended) ::ResumeThread(info.hThread);
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
