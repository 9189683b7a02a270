// The system calls behind ExtractionJob::LaunchAndWait and its choice of the
// shell verb.
#pragma once

#include <windows.h>
#include <shellapi.h>

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

}  // namespace quarry
