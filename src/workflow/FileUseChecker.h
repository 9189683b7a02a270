// Whether any process still uses the files below a folder: the Restart
// Manager on Windows Vista and later, an open probe on older systems.
#pragma once

#include <windows.h>
#include <restartmanager.h>

#include <string>

#include "common/Result.h"
#include "package/AccessControl_win.h"
#include "settings/PackageSettings.h"

namespace quarry {

// The four Restart Manager entry points the check needs.
// Rstrtmgr.dll fills these as laid out in both Windows builds alike.
static_assert(sizeof(RM_UNIQUE_PROCESS) == 12 && sizeof(RM_PROCESS_INFO) == 668,
              "Restart Manager structures");

struct RestartManagerApi {
    DWORD(WINAPI* startSession)(DWORD*, DWORD, WCHAR[]) = nullptr;
    DWORD(WINAPI* registerResources)(DWORD, UINT, LPCWSTR[], UINT, RM_UNIQUE_PROCESS[], UINT,
                                     LPCWSTR[]) = nullptr;
    DWORD(WINAPI* getList)(DWORD, UINT*, UINT*, RM_PROCESS_INFO[], LPDWORD) = nullptr;
    DWORD(WINAPI* endSession)(DWORD) = nullptr;
};

class FileUseChecker {
public:
    FileUseChecker() = default;
    // A checker over given entry points (a test's); nothing is loaded.
    explicit FileUseChecker(const RestartManagerApi& api);
    ~FileUseChecker();
    FileUseChecker(const FileUseChecker&) = delete;
    FileUseChecker& operator=(const FileUseChecker&) = delete;

    // Loads "Rstrtmgr.dll" from the system folder once and resolves the four
    // entry points; false when any is missing.
    bool LoadRestartManager();

    // True when some process uses a file below `folder`. `error` receives
    // 50 (not supported) when the Restart Manager is missing, else the
    // result of starting its session. Nothing usable answers false.
    bool IsAnyFileInUse(const std::u16string& folder, DWORD& error);

private:
    RestartManagerApi api_;
    HMODULE module_ = nullptr;
    bool tried_ = false;
    bool available_ = false;
};

// The open probe over every file below `folder`: true when a file is locked
// (its open fails with a sharing violation). `readOnly` opens for read and
// delete, otherwise for read, write and delete. Any other open failure is
// kept in `error` and does not count as locked.
bool IsAnyFileLocked(const std::u16string& folder, bool readOnly, DWORD& error);

// What the in-use wait uses; tests replace it where Wine's Restart Manager
// cannot tell, and shorten the pause between checks. The defaults are the
// system's.
struct InUseWaitSettings {
    const RestartManagerApi* restartManager = nullptr;  // null: the system's
    DWORD recheckMilliseconds = 30000;
};

// The wait for the extracted files to be released, after the started file.
struct ReleaseWait {
    std::u16string workFolder;
    std::u16string runFolder;  // where the files are
    const ExecutionSettings& execution;
    DWORD startTick = 0;       // when the execution phase began
    HANDLE cancelEvent = nullptr;
    InUseWaitSettings settings;
    // Unlocks the files before the open probe of older systems.
    AccessControlFunctions accessControl;
};

// When the package asks for it (bit 1 of WaitMode) and the files were
// extracted into the work folder: waits until no process uses them, up to
// WaitTimeout + 90 s after `startTick`, or until cancelled. 0 when they are
// released or nothing is waited for; 0x800705B4 when the time ran out;
// 0x80004004 on a cancel.
HResult WaitForFilesReleased(const ReleaseWait& wait);

}  // namespace quarry
