#include "execution/ProcessTreeWatcher.h"

#include <process.h>
#include <tlhelp32.h>

#include <vector>

#include "common/SystemLibrary.h"
#include "common/Unique.h"
#include "common/WinResult.h"

namespace quarry {

namespace {

using GetModuleFileNameExFunction = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);

// psapi.dll's own GetModuleFileNameExW (Windows XP has no K32 name for it in
// kernel32), from the system folder by full path: psapi.dll is no KnownDLL,
// and an import would let the program's own folder supply it. Loaded once,
// kept for the life of the process; null when it cannot be had.
GetModuleFileNameExFunction ModuleFileNameExFunction() {
    static const GetModuleFileNameExFunction function =
        ProcAddress<GetModuleFileNameExFunction>(LoadSystemLibrary(u"psapi.dll"),
                                                 "GetModuleFileNameExW");
    return function;
}

constexpr DWORD kFirstInterval = 0;
constexpr DWORD kPassInterval = 1000;
constexpr DWORD kStopWaitMilliseconds = 10000;
constexpr std::size_t kInitialBuckets = 17;

struct ProcessEntry {
    std::u16string exeName;
    DWORD parentId;
    DWORD processId;
};

enum class Signal { None, Stop, RootChanged };

// Looks at both events without waiting.
Signal Poll(HANDLE stopEvent, HANDLE rootChangedEvent) {
    const HANDLE events[2] = {stopEvent, rootChangedEvent};
    switch (::WaitForMultipleObjects(2, events, FALSE, 0)) {
    case WAIT_OBJECT_0:
        return Signal::Stop;
    case WAIT_OBJECT_0 + 1:
        return Signal::RootChanged;
    default:
        return Signal::None;
    }
}

}  // namespace

ProcessTreeWatcher::ProcessTreeWatcher() : trackedProcesses(kInitialBuckets) {
    ::InitializeCriticalSection(&lock);
    trackedProcesses.max_load_factor(0.75f);
    stopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    rootChangedEvent.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    passDoneEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

ProcessTreeWatcher::~ProcessTreeWatcher() {
    if (!stopped) Stop();
    ::DeleteCriticalSection(&lock);
}

void ProcessTreeWatcher::SetRoot(const std::u16string& imagePath, DWORD processId) {
    LockGuard guard(lock);
    if (processId == rootProcessId || processId == 0) return;
    trackedProcesses[processId] = imagePath;
    rootProcessId = processId;
    rootImagePath = imagePath;
    if (rootChangedEvent) ::SetEvent(rootChangedEvent.Get());
}

HResult ProcessTreeWatcher::Start() {
    if (running) return kResultOk;
    if (stopped || !stopEvent || !rootChangedEvent || !passDoneEvent) return kResultUnexpected;
    ::ResetEvent(stopEvent.Get());
    // The runtime's own thread start, so that the runtime's per-thread data
    // is set up for the thread.
    ::SetLastError(ERROR_SUCCESS);
    const uintptr_t handle = ::_beginthreadex(nullptr, 0, ThreadProc, this, 0, nullptr);
    if (handle == 0) return LastErrorOr(kResultFail);
    thread.Reset(reinterpret_cast<HANDLE>(handle));
    running = true;
    return kResultOk;
}

TrackedProcesses ProcessTreeWatcher::CopyTracked() {
    LockGuard guard(lock);
    return trackedProcesses;
}

void ProcessTreeWatcher::Stop() {
    if (stopEvent) ::SetEvent(stopEvent.Get());
    running = false;
    if (thread) {
        if (::WaitForSingleObject(thread.Get(), kStopWaitMilliseconds) != WAIT_OBJECT_0) {
            ::TerminateThread(thread.Get(), static_cast<DWORD>(kResultAbort));
        }
        thread.Reset();
    }
    // No lock: the thread is gone, and one ended by TerminateThread may have
    // died holding it.
    rootProcessId = static_cast<DWORD>(-1);
    rootImagePath.clear();
    stopEvent.Reset();
    rootChangedEvent.Reset();
    passDoneEvent.Reset();
    stopped = true;
}

unsigned __stdcall ProcessTreeWatcher::ThreadProc(void* context) {
    return static_cast<ProcessTreeWatcher*>(context)->Run();
}

DWORD ProcessTreeWatcher::Run() {
    const HANDLE waitEvents[2] = {stopEvent.Get(), rootChangedEvent.Get()};
    DWORD interval = kFirstInterval;
    for (;;) {
        if (::WaitForMultipleObjects(2, waitEvents, FALSE, interval) == WAIT_OBJECT_0) return 0;
        interval = kPassInterval;
        ::ResetEvent(rootChangedEvent.Get());

        // Never under the lock: a snapshot of every process takes a while.
        UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        const DWORD snapshotError = snapshot ? 0 : ::GetLastError();
        const bool snapshotFailed = !snapshot;
        if (!RunPass(snapshot)) return 0;
        if (snapshotFailed) return snapshotError;
    }
}

bool ProcessTreeWatcher::RunPass(UniqueFile& snapshot) {
    const HANDLE stop = stopEvent.Get();
    const HANDLE rootChanged = rootChangedEvent.Get();
    if (const Signal signal = Poll(stop, rootChanged); signal != Signal::None) {
        return signal == Signal::RootChanged;
    }
    std::vector<ProcessEntry> list;
    if (snapshot) {
        if (::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) return false;
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
             more = ::Process32NextW(snapshot.Get(), &entry)) {
            list.push_back({FromWide(entry.szExeFile), entry.th32ParentProcessID,
                            entry.th32ProcessID});
        }
        snapshot.Reset();
    }

    std::unordered_map<DWORD, bool> seen;
    {
        LockGuard guard(lock);
        for (const auto& tracked : trackedProcesses) seen.emplace(tracked.first, false);
    }
    if (const Signal signal = Poll(stop, rootChanged); signal != Signal::None) {
        return signal == Signal::RootChanged;
    }

    // A child listed before its parent is caught by the next pass over the
    // same list.
    bool added = true;
    bool abandoned = false;
    while (added && !abandoned) {
        added = false;
        for (const ProcessEntry& process : list) {
            const auto found = seen.find(process.processId);
            if (found != seen.end()) {
                found->second = true;
                continue;
            }
            if (!trackAll && seen.find(process.parentId) == seen.end()) continue;
            // Never under the lock: opening another process can block.
            const std::u16string path = GetProcessImagePath(process.processId);
            {
                LockGuard guard(lock);
                if (trackAll || trackedProcesses.count(process.parentId) != 0) {
                    trackedProcesses[process.processId] = path.empty() ? process.exeName : path;
                }
            }
            if (Poll(stop, rootChanged) != Signal::None) {
                abandoned = true;
                break;
            }
            seen[process.processId] = true;
            added = true;
        }
    }

    if (const Signal signal = Poll(stop, rootChanged); signal != Signal::None) {
        return signal == Signal::RootChanged;
    }
    {
        LockGuard guard(lock);
        for (const auto& entry : seen) {
            if (!entry.second) trackedProcesses.erase(entry.first);
        }
    }
    // A pulse: it releases only a thread that is already waiting.
    ::SetEvent(passDoneEvent.Get());
    ::ResetEvent(passDoneEvent.Get());
    return true;
}

UniqueHandle OpenProcessForQuery(DWORD processId) {
    // The limited rights come second: Windows XP does not know them, and a
    // process of a higher integrity level grants only them.
    constexpr DWORD kQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION, Vista on
    static const DWORD kAccessRights[] = {
        PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
        kQueryLimited | PROCESS_VM_READ,
        PROCESS_QUERY_INFORMATION,
        kQueryLimited,
    };
    UniqueHandle process;
    for (const DWORD access : kAccessRights) {
        process.Reset(::OpenProcess(access, FALSE, processId));
        if (process) break;
    }
    return process;
}

std::u16string ModuleImagePath(HANDLE process) {
    const GetModuleFileNameExFunction moduleFileNameEx = ModuleFileNameExFunction();
    if (!moduleFileNameEx) return {};
    wchar_t path[MAX_PATH] = {};
    const DWORD length = moduleFileNameEx(process, nullptr, path, MAX_PATH);
    return FromWide(path, length < MAX_PATH ? length : MAX_PATH - 1);
}

std::u16string GetProcessImagePath(DWORD processId) {
    const UniqueHandle process = OpenProcessForQuery(processId);
    if (!process) return {};
    return ModuleImagePath(process.Get());
}

}  // namespace quarry
