// Run mode: the second copy of quarry.exe that the extraction-mode process
// starts (elevated when the package asks for it). It starts the configured
// program through the shell, waits for it and, when asked, for what it leaves
// running, and ends with the program's exit code. It shows nothing.
#include <windows.h>
#include <shellapi.h>

#include "app/Modes.h"
#include "common/FieldLogText.h"
#include "common/FieldLog_win.h"
#include "common/Unique.h"
#include "common/WinFile.h"
#include "common/WinResult.h"
#include "execution/FsRedirection.h"
#include "execution/ProcessTreeWatcher.h"
#include "execution/RunModeGate_win.h"
#include "execution/RunRequest.h"

namespace quarry {

namespace {

constexpr DWORD kCancelEventAccess = SYNCHRONIZE | EVENT_MODIFY_STATE;  // 0x00100002
constexpr ULONG kShellExecuteMask =
    SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;  // 0x540
constexpr DWORD kDescendantRecheckMilliseconds = 5000;

static_assert(sizeof(void*) != 4 || sizeof(SHELLEXECUTEINFOW) == 60, "the shell request of a 32-bit program");

// Starts the requested program and waits for it and for what it leaves
// running; its result is run mode's.
HResult StartAndWait(const RunRequest& request, const std::u16string& runEventGuid,
                     const std::u16string& extraArguments, FieldLog& log);

// Anything tracked besides this process itself is still to be waited for.
bool TracksAnotherProcess(const TrackedProcesses& tracked, DWORD self) {
    for (const auto& process : tracked) {
        const DWORD id = process.first;
        if (id != 0 && id != 0xFFFFFFFFu && id != self) return true;
    }
    return false;
}


// The started program's exit code; 1223 when the wait is cancelled (the
// program keeps running, only the waiting ends); 0 without a process to wait
// for (the shell handed the file to a running program).
HResult WaitForProgram(HANDLE process, HANDLE cancelEvent) {
    const HANDLE handles[2] = {process, cancelEvent};
    switch (::WaitForMultipleObjects(2, handles, FALSE, INFINITE)) {
    case WAIT_OBJECT_0: {
        DWORD exitCode = 0;
        ::GetExitCodeProcess(process, &exitCode);
        return static_cast<HResult>(exitCode);
    }
    case WAIT_OBJECT_0 + 1:
        return ERROR_CANCELLED;
    default:
        return kResultOk;
    }
}

// Waits while processes the program started still run, up to
// `waitMilliseconds` after `startTick`, or until the cancel event is set.
void WaitForLeftProcesses(ProcessTreeWatcher& watcher, HANDLE cancelEvent, DWORD startTick,
                          DWORD waitMilliseconds) {
    if (!watcher.Running() || IsSignalled(cancelEvent)) return;
    // A fresh pass at once, so that the program itself has left the set
    // before the first look at it.
    ::SetEvent(watcher.RootChangedEvent());
    ::WaitForSingleObject(watcher.PassDoneEvent(), waitMilliseconds);
    const DWORD self = ::GetCurrentProcessId();
    DWORD elapsed = ::GetTickCount() - startTick;
    while (elapsed < waitMilliseconds && !IsSignalled(cancelEvent)) {
        if (!TracksAnotherProcess(watcher.CopyTracked(), self)) break;
        ::WaitForSingleObject(cancelEvent, kDescendantRecheckMilliseconds);
        elapsed = ::GetTickCount() - startTick;
    }
    ::SetEvent(watcher.StopEvent());
}

}  // namespace

HResult RunExecutor(const std::u16string& runEventGuid, const std::u16string& runRequest,
                    const std::u16string& extraArguments) {
    return RunExecutor(runEventGuid, runRequest, extraArguments, RunModeGateFunctions());
}

HResult RunExecutor(const std::u16string& runEventGuid, const std::u16string& runRequest,
                    const std::u16string& extraArguments, const RunModeGateFunctions& gate) {
    if (runEventGuid.empty() || runRequest.empty()) return kResultRunRequestMissing;
    const std::optional<RunRequest> request = DecodeRunRequest(runRequest);
    if (!request) return kResultRunRequestMalformed;
    // A request from any other process is refused like a malformed one,
    // before the event is even looked for.
    if (!IsStartedBySameProgram(gate)) return kResultRunRequestMalformed;
    // Only now is the request's log file one to write to: it came from this
    // program's own extraction-mode copy.
    FieldLog log(request->logPath);
    const HResult result = StartAndWait(*request, runEventGuid, extraArguments, log);
    const auto code = static_cast<std::uint32_t>(result);
    log.Line(u"run mode", u"ends with " + CodeText(code));
    return result;
}

namespace {

HResult StartAndWait(const RunRequest& request, const std::u16string& runEventGuid,
                     const std::u16string& extraArguments, FieldLog& log) {
    // Seconds to milliseconds in 32-bit unsigned arithmetic, as the sender
    // expects: a huge wait wraps rather than saturates.
    const DWORD waitMilliseconds = request.waitSeconds * 1000u;

    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = kShellExecuteMask;
    execute.hwnd = nullptr;
    execute.lpVerb = L"open";
    execute.lpFile = Wide(request.program);
    execute.lpParameters = Wide(extraArguments);
    // No folder: the program starts in this process's current folder, which
    // the extraction-mode process made the run folder.
    execute.lpDirectory = nullptr;
    execute.nShow = request.hideWindow ? SW_HIDE : SW_SHOW;

    const std::u16string eventName = u"Local\\Quarry_Exec_" + runEventGuid;
    UniqueHandle cancelEvent(::OpenEventW(kCancelEventAccess, FALSE, Wide(eventName)));
    if (!cancelEvent) {
        log.Line(u"run mode", u"the run's cancel event is missing");
        return kResultRunRequestMalformed;
    }
    // A cancel that came before the start leaves the file unstarted, and
    // says so with the code of a cancel before the launch.
    if (IsSignalled(cancelEvent.Get())) {
        log.Line(u"run mode", u"cancelled before the start: nothing is started");
        return kResultCancelledByUser;
    }
    log.Line(u"run mode", u"starts \"" + request.program + u"\" " + extraArguments +
                              (request.systemProgram ? u" (system program)" : u""));

    ProcessTreeWatcher watcher;
    if (waitMilliseconds != 0) {
        watcher.SetRoot(ModuleFileName(), ::GetCurrentProcessId());
        watcher.Start();
    }

    // Redirection is off only around the start: cmd.exe from the system
    // folder must be the native one, and nothing else here is affected.
    FsRedirection redirection;
    if (request.systemProgram) DisableFsRedirection(redirection);
    const BOOL started = ::ShellExecuteExW(&execute);
    // A plain Win32 code, as the extraction-mode process reads it; a failed
    // start never reads as success.
    const DWORD startError = started ? ERROR_SUCCESS : ::GetLastError();
    if (redirection.off) RevertFsRedirection(redirection);

    HResult result = kResultOk;
    if (!started) {
        result = startError != ERROR_SUCCESS ? static_cast<HResult>(startError) : kResultFail;
        log.Line(u"run mode", u"the start failed with " +
                                  CodeText(static_cast<std::uint32_t>(result)));
    } else {
        UniqueHandle process(execute.hProcess);
        const DWORD processId = process ? ::GetProcessId(process.Get()) : 0;
        if (processId != 0 && processId != 0xFFFFFFFFu) {
            watcher.SetRoot(request.program, processId);
        }
        const DWORD startTick = ::GetTickCount();
        result = WaitForProgram(process.Get(), cancelEvent.Get());
        process.Reset();
        log.Line(u"run mode", result == ERROR_CANCELLED && IsSignalled(cancelEvent.Get())
                                  ? std::u16string(u"the wait was cancelled; the program runs on")
                                  : u"the program ended with " +
                                        CodeText(static_cast<std::uint32_t>(result)));
        // The processes the program left running. This never changes the
        // result.
        WaitForLeftProcesses(watcher, cancelEvent.Get(), startTick, waitMilliseconds);
    }

    watcher.Stop();
    return result;
}

}  // namespace

}  // namespace quarry
