// The platform calls of the access control, replaceable by a test: Wine keeps
// no access lists on its files (it reads back a default list whatever was
// set) and its TreeResetNamedSecurityInfoW changes nothing, so a test hands in
// the lists to read and looks at what would have been applied.
#pragma once

#include <windows.h>

#include <aclapi.h>

#include <string>
#include <vector>

#include "common/Result.h"
#include "common/Unique.h"
#include "package/PackageFormat.h"

namespace quarry {

// The identities a run counts as its own.
struct RunIdentity {
    std::vector<BYTE> account;  // the token's user SID; empty when unreadable
    // The account is SYSTEM, or the token holds the Administrators group
    // enabled: an elevated run, or an administrator on Windows XP. Such a run
    // reaches its folders as SYSTEM or Administrators.
    bool privileged = false;
};

// The identity of this process's token.
RunIdentity CurrentRunIdentity();

// Whether a lock by the run `run` counts `sid` as the run's own and denies it
// nothing: SYSTEM, Administrators, and the run's account unless the run is
// privileged (then the account is the same user's unelevated programs too).
bool IsRunTrustee(const RunIdentity& run, PSID sid);

// The security attributes for a folder the run creates: the protected list
// of CreationGrants. Attributes() is null when it could not be built; the
// folder must then not be created.
class FolderSecurity {
public:
    FolderSecurity(const RunIdentity& run, bool userReadable);
    FolderSecurity(const FolderSecurity&) = delete;
    FolderSecurity& operator=(const FolderSecurity&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return valid_ ? &attributes_ : nullptr; }

private:
    UniqueLocal acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool valid_ = false;
};

// Whether the folder at `path` may serve as the work root (OnlyRunCanWrite):
// owned by the run's account, SYSTEM or Administrators, and writable by none
// but them. The caller holds the folder open as a real folder, so the owner
// and list read here by name are its own.

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
    // The identity whose entries a lock leaves alone.
    RunIdentity (*runIdentity)() = CurrentRunIdentity;
};

// Whether the folder at `path` may serve as the work root (OnlyRunCanWrite):
// owned by the run's account, SYSTEM or Administrators, and writable by none
// but them. The caller holds the folder open as a real folder, so the owner
// and list read here by name are its own.
bool OnlyRunCanWriteFolder(const std::u16string& path, const RunIdentity& run,
                           const AccessControlFunctions& functions = AccessControlFunctions());

// Locks (unlock false) or unlocks (unlock true) the tree at `path`. 0 when
// the new list was applied (or a lock holds without it). A path without a
// DACL (a null DACL, as on file systems without security), or a protected
// list that lets others write, is not changed and gives 0x8004000D; a list
// that cannot be read, built or applied gives its Win32 error, which is
// also left as the thread's last error when the tree reset failed.
HResult SetTreeAccess(const std::u16string& path, bool unlock,
                      const AccessControlFunctions& functions = AccessControlFunctions());

// Makes sure every writable item exists below `destinationFolder`: folder
// items are created with their parents, file items empty (without creating
// their parent); each file created is appended to `destinationFiles` with
// size 0. Failures of single items are not reported.
void CreateWritableItems(const std::u16string& destinationFolder,
                         const std::vector<std::u16string>& writableItems,
                         std::vector<ExtractedFileRecord>& destinationFiles);

// Unlocks every writable item that exists as the kind it names.
void UnlockWritableItems(const std::u16string& destinationFolder,
                         const std::vector<std::u16string>& writableItems,
                         const AccessControlFunctions& functions = AccessControlFunctions());

}  // namespace quarry
