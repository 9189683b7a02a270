// Narrows where the system looks for the libraries this program loads, before
// the C runtime starts and before any library is loaded on demand. Where the
// system cannot narrow it (no SetDefaultDllDirectories: Windows XP, Vista and
// 7 without update KB2533623), the guard loads the system libraries the
// program will need from the system folder first, and refuses to run beside
// a file that would be picked up in their place.
//
// The constructor runs in the program's own entry point, ahead of the C
// runtime: it and everything it calls use only Win32 calls, plain arrays and
// the constant lists of LibrarySearchGuard.h; no static object, no heap.
#pragma once

#include <windows.h>

#include "common/LibrarySearchGuard.h"

namespace quarry {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// The system's SetDefaultDllDirectories when the module already loaded from
// `kernel32Path` exports it; null otherwise.
SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories(const wchar_t* kernel32Path);

// What the guard asks of the system, replaceable so that a test can pose as a
// system without SetDefaultDllDirectories, or as any Windows version, and
// watch what would be loaded. The defaults are the system's. A local object:
// taking the address of an imported function is code, not a constant, and
// must not become a static initializer that runs after the guard.
struct LibrarySearchFunctions {
    SetDefaultDllDirectoriesFunction (*findSetDefaultDllDirectories)(const wchar_t*) =
        FindSetDefaultDllDirectories;
    BOOL(WINAPI* getVersionEx)(LPOSVERSIONINFOW) = ::GetVersionExW;
    HMODULE(WINAPI* loadLibraryEx)(LPCWSTR, HANDLE, DWORD) = ::LoadLibraryExW;
};

class LibrarySearchGuard {
public:
    // Takes the current folder out of the search; then either has the system
    // search only its own folder or preloads the base group and refuses
    // neighbour files. Ends the process (ShowBlockedMessage) when one is
    // found. Every other failure is ignored.
    explicit LibrarySearchGuard(const LibrarySearchFunctions& functions);
    LibrarySearchGuard(const LibrarySearchGuard&) = delete;
    LibrarySearchGuard& operator=(const LibrarySearchGuard&) = delete;

    // Loads each requested group of the running version that is not loaded
    // yet; nothing when the system narrows the search itself. Called by one
    // thread at a time: the worker, or the dialog while the worker waits.
    void PreloadOnDemand(bool base, bool shell, bool explorer);

    // LoadLibraryExW with LOAD_WITH_ALTERED_SEARCH_PATH of each name's full
    // path in the system folder; missing libraries are skipped. The modules
    // stay loaded until the process ends.
    void PreloadSystemLibraries(const LibraryList& list);

    // ShowBlockedMessage for the first name of `list`, in list order, that
    // exists beside the program file; returns when there is none.
    void RefuseNeighbourFiles(const LibraryList& list);

    // Message 256 naming `fileName` with caption 128, then ExitProcess with
    // 0x8000FFFF. Shown in every mode, silent or not: the command line has
    // not been read yet.
    [[noreturn]] static void ShowBlockedMessage(const wchar_t* fileName);

    bool defaultDirectoriesSet = false;
    bool baseGroupLoaded = false;
    bool shellGroupLoaded = false;
    bool explorerGroupLoaded = false;

private:
    // GetVersionExW with the basic structure; 0.0 when it fails.
    void ReadVersion(DWORD& major, DWORD& minor) const;

    LibrarySearchFunctions functions_;
};

}  // namespace quarry
