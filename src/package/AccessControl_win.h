// The platform calls of the access control, replaceable by a test: Wine keeps
// the lists that are set but enforces none of them, and its
// TreeResetNamedSecurityInfoW changes nothing, so a test looks at what would
// have been applied instead.
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

struct AccessControlFunctions {
    TreeResetNamedSecurityInfoFn (*findTreeReset)() = FindTreeResetNamedSecurityInfo;
};
extern AccessControlFunctions gAccessControlFunctions;

}  // namespace quarry
