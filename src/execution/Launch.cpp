// Starting the configured file through the run-mode copy of this program,
// and opening the extract folder for the user.
#include <windows.h>
#include <shellapi.h>

#include "common/LibrarySearchGuard_win.h"
#include "common/SystemLibrary.h"
#include "common/Unique.h"
#include "common/WinFile.h"
#include "common/WinResult.h"
#include "execution/Command_win.h"
#include "execution/ExitCodeSlot.h"
#include "execution/Launch.h"
#include "execution/RunRequest.h"

namespace quarry {

namespace {

constexpr ULONG kShellExecuteMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
// How long a cancelled launch waits for the run-mode copy to end: it ends
// at once once told, unless the start itself hangs.
constexpr DWORD kRunModeCopyEndMilliseconds = 5000;

// The last error as a result: 0x8007xxxx for an error, 0 for none.
HResult LastErrorOrZero() {
    const DWORD error = ::GetLastError();
    return error == 0 ? kResultOk : ResultFromWin32(error);
}

}  // namespace

bool IsAdministrator(const LaunchFunctions& functions) {
    // The documented test behind shell32's undocumented ordinal 245, which
    // some systems (Wine among them) have only as a stub.
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    administrators.Put())) {
        return false;
    }
    BOOL member = FALSE;
    return functions.checkTokenMembership(nullptr, administrators.Get(), &member) && member;
}

const wchar_t* LaunchVerb(bool forceElevation, const LaunchFunctions& functions) {
    return forceElevation && !IsAdministrator(functions) ? L"runas" : L"open";
}

HResult LaunchAndWait(const LaunchRequest& launch, const LaunchFunctions& functions) {
    const wchar_t* verb = LaunchVerb(launch.forceElevation, functions);

    const std::u16string eventGuid = NewGuidString();
    const std::u16string eventName = u"Local\\Quarry_Exec_" + eventGuid;
    const UniqueHandle runEvent(::CreateEventW(nullptr, TRUE, FALSE, Wide(eventName)));

    const ProgramCommand command = BuildProgramCommand(launch.filePath, launch.arguments,
                                                       launch.silent);
    RunRequest request;
    request.waitSeconds = launch.waitSeconds;
    request.systemProgram = command.systemProgram;
    request.hideWindow = command.hideWindow;
    request.program = command.program;
    // An elevated copy writes nothing of the log: its path is the unelevated
    // caller's to choose, and the copy would write where the caller may not.
    if (::lstrcmpW(verb, L"runas") != 0) request.logPath = launch.logPath;
    const std::u16string parameters = RunModeParameters(eventGuid, request, command.arguments);

    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = kShellExecuteMask;
    execute.lpVerb = verb;
    execute.lpFile = Wide(launch.programPath);
    execute.lpParameters = Wide(parameters);
    execute.lpDirectory = Wide(launch.runFolder);
    execute.nShow = SW_SHOWNORMAL;

    if (!functions.shellExecuteEx(&execute) || !execute.hProcess) return LastErrorOrZero();
    const UniqueHandle process(execute.hProcess);
    WriteExitCodeSlot(kExitCodeStillRunning);
    const HANDLE handles[] = {process.Get(), launch.cancelEvent};
    const DWORD wait = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    HResult result = kResultUnexpected;
    if (wait == WAIT_OBJECT_0) {
        result = kResultOk;
    } else if (wait == WAIT_OBJECT_0 + 1) {
        // The run-mode copy stops waiting and ends with 1223; the program
        // it started keeps running. The copy may not have started it yet:
        // its end is waited for, a little, so that the caller's hold on the
        // file lasts as long as the copy could still start it.
        ::SetEvent(runEvent.Get());
        DWORD copyCode = 0;
        const bool unstarted =
            ::WaitForSingleObject(process.Get(), kRunModeCopyEndMilliseconds) == WAIT_OBJECT_0 &&
            ::GetExitCodeProcess(process.Get(), &copyCode) &&
            static_cast<HResult>(copyCode) == kResultCancelledByUser;
        // A copy that had not started the file yet started nothing: a
        // cancel before the launch.
        result = unstarted ? kResultCancelledByUser : kResultAbort;
    } else if (wait == WAIT_FAILED) {
        result = LastErrorOrZero();
    }
    DWORD exitCode = kExitCodeStillRunning;
    if (::GetExitCodeProcess(process.Get(), &exitCode)) WriteExitCodeSlot(exitCode);
    return result;
}

HResult OpenExtractFolder(const std::u16string& extractFolder, LibrarySearchGuard* guard) {
    // Opening a folder in the shell starts the explorer's own libraries.
    if (guard) guard->PreloadOnDemand(false, false, true);
    std::u16string path = extractFolder;
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    path += u'\\';
    const auto opened = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", Wide(path), nullptr, nullptr, SW_SHOW));
    if (opened > 32 || opened == 0) return kResultOk;
    return ResultFromWin32(static_cast<std::uint32_t>(opened));
}

}  // namespace quarry
