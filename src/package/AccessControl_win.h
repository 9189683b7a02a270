// The platform calls of the access control, replaceable by a test: Wine keeps
// no access lists on its files (it reads back a default list whatever was
// set) and its TreeResetNamedSecurityInfoW changes nothing, so a test hands in
// the lists to read and looks at what would have been applied.
#pragma once

#include <windows.h>

#include <aclapi.h>

namespace quarry {

using TreeResetNamedSecurityInfoFn = DWORD(WINAPI*)(LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                                    PSID, PSID, PACL, PACL, BOOL, FN_PROGRESS,
                                                    PROG_INVOKE_SETTING, PVOID);

// TreeResetNamedSecurityInfoW of the advapi32.dll already loaded in the
// process, looked up by name; null when the module or the function is
// missing (it is not there before Windows Vista).
TreeResetNamedSecurityInfoFn FindTreeResetNamedSecurityInfo();

using GetNamedSecurityInfoFn = DWORD(WINAPI*)(LPCWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                              PSID*, PSID*, PACL*, PACL*, PSECURITY_DESCRIPTOR*);

struct AccessControlFunctions {
    TreeResetNamedSecurityInfoFn (*findTreeReset)() = FindTreeResetNamedSecurityInfo;
    // Reads the list of a file or folder; the descriptor is freed with LocalFree.
    GetNamedSecurityInfoFn readSecurity = ::GetNamedSecurityInfoW;
};
extern AccessControlFunctions gAccessControlFunctions;

}  // namespace quarry
