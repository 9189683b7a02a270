// The run's folders on Windows: the work root under the temporary folder,
// the run GUID, the special folders an extract folder may live under, the
// shell's unique-name and folder-tree functions, and the free-space query.
// The pure rules they rest on are in FolderRules.h.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>

#include "common/Result.h"
#include "package/AccessControl_win.h"

namespace quarry {

using KnownFolderPathFn = HRESULT(WINAPI*)(const GUID& id, DWORD flags, HANDLE token,
                                           PWSTR* path);

// The system functions behind the folder lookups, replaceable so that a test
// can take the fallbacks or keep the shell away from the user's real
// folders. A default-constructed set is the system's, except that
// getKnownFolderPath is null, as on a system without known folders; see
// SystemFolderFunctions.
struct FolderFunctions {
    DWORD(WINAPI* getTempPath)(DWORD, LPWSTR) = ::GetTempPathW;
    // GetTempPath2W (Windows 11 and later updates): for SYSTEM the
    // temporary folder only SYSTEM can write. Null where there is none; then
    // getTempPath.
    DWORD(WINAPI* getTempPath2)(DWORD, LPWSTR) = nullptr;
    BOOL(WINAPI* getSpecialFolderPath)(HWND, LPWSTR, int, BOOL) = ::SHGetSpecialFolderPathW;
    KnownFolderPathFn getKnownFolderPath = nullptr;
};

// The system's functions, with SHGetKnownFolderPath looked up by name in the
// already loaded shell32 (null before Windows Vista) and GetTempPath2W in
// kernel32.
FolderFunctions SystemFolderFunctions();

// The per-machine scratch folder shared by all runs, without a trailing
// "\": the temporary folder (GetTempPath2W where the system has it, else
// GetTempPathW) + "QuarryTool". The temporary folder itself is
// created when it is missing; the work root is not. When the temporary
// folder cannot be had, the common application-data folder +
// "\Norvik Corporation\Norvik Quarry Tool", its "Norvik Corporation" part
// created when missing. Empty when neither can be had.
std::u16string GetWorkRoot();
std::u16string GetWorkRoot(const FolderFunctions& functions);

// SHGetSpecialFolderPathW for a CSIDL value, creating the folder when it is
// missing. Returns false, leaving `path` unchanged, when the shell has no
// such folder.
bool GetSpecialFolder(int csidl, std::u16string& path);
bool GetSpecialFolder(int csidl, std::u16string& path, const FolderFunctions& functions);

// The user's Downloads folder: the known folder, created when missing, with
// a trailing "\". Windows XP has no known folders; there, or when the
// known-folder call fails, it is the Documents folder + "\Downloads",
// created when missing, without a trailing "\". False when the Documents
// folder cannot be had (`path` unchanged) or Downloads cannot be made below
// it (`path` set all the same, so that the caller's own creation reports
// the failure).
bool GetDownloadsFolder(std::u16string& path);
bool GetDownloadsFolder(std::u16string& path, const FolderFunctions& functions);

// The free-space query, GetDiskFreeSpaceExW's shape.
using DiskFreeSpaceFn = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                      PULARGE_INTEGER);

// GetDiskFreeSpaceExW looked up by name in kernel32, not imported: a system
// without it must skip the free-space check, never refuse to start the
// program. FALSE when there is no such function.
BOOL WINAPI SystemDiskFreeSpace(LPCWSTR folder, PULARGE_INTEGER available, PULARGE_INTEGER total,
                                PULARGE_INTEGER free);

// The bytes available to the caller on the volume of `folder`, through
// `query` (a test's fake disk, or the system's). False when the call does
// not return 1; the free-space check then passes.
bool QueryFreeBytes(const std::u16string& folder, std::uint64_t& available,
                    DiskFreeSpaceFn query = SystemDiskFreeSpace);

// A path that names no existing file or folder, made from `wanted` by the
// shell's unique-name function (shell32 ordinal 75) with a 260-character
// buffer. True with the name in `unique`; false, leaving `unique` alone,
// when the function is missing or fails, in which case the caller keeps
// `wanted`.
bool MakeUniqueName(const std::u16string& wanted, std::u16string& unique);

// The work root this run uses, in `usable`, for the work root `root` that
// GetWorkRoot gave. A work root that is there already is shared with every
// other run and user, so it is trusted only when it is a real folder (not a
// link, which would send the run's writes elsewhere), owned by the run's
// account, SYSTEM or Administrators, and writable by none but them. A
// missing one is created with the run's protected list (`security`).
// Anything else is left alone, and the run makes a fresh root of its own
// beside it, `root` + "." + a new GUID, created new with that list: failing
// instead would let any user stop every run on the machine by planting a
// folder. `access` reads the run's identity and the folder's list.
// 0, or 0x8004000F when no work root can be had.
HResult PrepareWorkRoot(const std::u16string& root, SECURITY_ATTRIBUTES* security,
                        std::u16string& usable,
                        const AccessControlFunctions& access = AccessControlFunctions());

// Removes the work folders that runs killed or cut off by a power failure
// left below the trusted work root `root`: folders named as runs name theirs
// (IsWorkFolderName), made and last changed more than seven days before
// `now` (a FILETIME value; 0: the current time), and not in use. A run holds
// its work folder open for listing, sharing no reading, until it has
// cleaned up: a folder that cannot be opened that way is in use and stays,
// and so does a link or anything not a folder. A stale folder is unlocked,
// then deleted without following links (DeleteTree); what cannot be deleted
// stays. Returns how many folders were removed.
int SweepStaleWorkFolders(const std::u16string& root, std::uint64_t now = 0,
                          const AccessControlFunctions& access = AccessControlFunctions());

}  // namespace quarry
