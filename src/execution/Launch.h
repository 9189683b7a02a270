// Starting the configured file through the run-mode copy of this program,
// the system calls behind it and its choice of the shell verb, and opening
// the extract folder for the user.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "common/Result.h"

namespace quarry {

// Replaceable so that a test can pose as a user who is no administrator, or
// see the shell request without starting anything. The defaults are the
// system's; CheckTokenMembership is in advapi32 on every supported Windows.
struct LaunchFunctions {
    BOOL(WINAPI* checkTokenMembership)(HANDLE, PSID, PBOOL) = ::CheckTokenMembership;
    BOOL(WINAPI* shellExecuteEx)(SHELLEXECUTEINFOW*) = ::ShellExecuteExW;
};

// Whether the caller is a member of the Administrators group: the
// well-known SID of the built-in alias 544, tested with CheckTokenMembership
// on a null token (the thread's impersonation token, else a copy of the
// process's). A token whose Administrators entry is for denying only, as
// the filtered token of User Account Control, is no member. False when the
// SID cannot be made or the test itself fails.
bool IsAdministrator(const LaunchFunctions& functions);

// The verb for the run-mode copy: "runas" when `forceElevation` and the
// caller is no administrator, else "open" (the membership is not asked then).
const wchar_t* LaunchVerb(bool forceElevation, const LaunchFunctions& functions);

class LibrarySearchGuard;

// What starting the configured file needs.
struct LaunchRequest {
    std::u16string programPath;  // this program's file, started in run mode
    std::u16string runFolder;    // the folder it starts in
    std::u16string filePath;     // the configured file
    std::u16string arguments;
    bool forceElevation = false;
    bool silent = false;
    std::uint32_t waitSeconds = 0;  // 0: no time limit
    HANDLE cancelEvent = nullptr;   // ends the wait (the started file runs on)
    // The field log, for the run-mode copy too unless it starts elevated.
    std::u16string logPath;
};

// Starts the run-mode copy of `programPath` for the file (elevated when
// forceElevation and the user is no administrator), waits for it and keeps
// its exit code in the exit-code slot. Returns 0, 0x80004004 when
// cancelled, or the launch's failure.
HResult LaunchAndWait(const LaunchRequest& launch, const LaunchFunctions& functions);

// Opens `extractFolder` in the shell, with the explorer's libraries loaded
// through `guard` first (when there is one). 0 when the shell took it.
HResult OpenExtractFolder(const std::u16string& extractFolder, LibrarySearchGuard* guard);

}  // namespace quarry
