// The worker of extraction mode: makes the work folder, opens the package,
// checks space and restrictions, prepares the destination, extracts, locks
// and verifies the tree, hands over to execution and cleans up, reporting
// each stage to the progress dialog through the messages of
// DialogMessages.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/Result.h"
#include "common/Unique.h"
#include "execution/Launch.h"
#include "package/AccessControl_win.h"
#include "package/PackageReader.h"
#include "restrictions/Restrictions.h"
#include "workflow/FileUseChecker.h"
#include "workflow/Folders.h"

namespace quarry {

class CExtractorDialog;

// True when this process runs as SYSTEM or elevated (CurrentRunIdentity).
bool RunIsPrivileged();

class ExtractionJob {
public:
    // Throws ResultError when the cancel event or the reader cannot be made.
    ExtractionJob(HWND dialogWindow, CExtractorDialog* dialog);
    ~ExtractionJob();
    ExtractionJob(const ExtractionJob&) = delete;
    ExtractionJob& operator=(const ExtractionJob&) = delete;

    // Resets the cancel event and starts the worker thread.
    HResult Start();

    // Asks the worker to stop and waits for it up to 10 seconds; a worker
    // still running then is terminated. Returns the worker's exit code.
    DWORD Stop();

    // A synchronous call into the dialog's thread that gives up as soon as
    // the cancel event is set (0x80004004). Returns the dialog's answer.
    INT_PTR CallDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Shows an error through the dialog; 0 when there is no dialog window.
    INT_PTR ReportError(HResult code, LPARAM argument);

    // The whole sequence; posts kMsgWorkerDone at its end. Returns 0.
    HResult Run();
    // The extraction phase. Returns its result.
    HResult Extract();
    // Builds and runs the configured command and waits for the extracted
    // files to be released; 1 when nothing was run.
    HResult Execute(const std::u16string& arguments);
    // Starts the run-mode copy of this program for `filePath` with
    // `arguments` (elevated when `forceElevation` and the user is no
    // administrator), waits for it and keeps its exit code in the exit-code
    // slot. Returns 0, 0x80004004 when cancelled, or the launch's failure.
    HResult LaunchAndWait(const std::u16string& filePath, const std::u16string& arguments,
                          bool forceElevation, std::uint32_t waitSeconds);
    // When the package asks for it (bit 1 of WaitMode) and the files were
    // extracted into the work folder: waits until no process uses them, up
    // to WaitTimeout + 90 s after `executeStartTick`, or until cancelled.
    void WaitForFilesReleased(DWORD executeStartTick, const ExecutionSettings& execution);
    HResult ShowExtractFolder();
    // Removes the work folder, and the extract folder too when asked.
    void Cleanup(bool removeExtractFolder);
    // Signature, manufacturer, Windows version and build, compatibility
    // mode, in this order; 0 or the first failure's code (0x80040007 to
    // 0x8004000C), asking where askAfterRestrictionFailure says so.
    HResult CheckRestrictions(bool& errorReported);
    // True when the folder's volume has more than `required` bytes free, or
    // the user chose to go on.
    bool CheckFreeSpace(std::uint64_t required, const std::u16string& folder,
                        bool& errorReported);
    // Forms, checks and creates the extract folder when the package asks
    // for one; otherwise leaves `extractFolderPath` as it is.
    HResult PrepareDestination(std::uint64_t required, std::u16string& extractFolderPath,
                               bool& errorReported);

    HWND dialogWindow = nullptr;
    CExtractorDialog* dialog = nullptr;
    std::u16string runFolder;
    std::u16string extractFolder;
    std::u16string supportFolder;
    std::u16string workFolder;
    // The work folder, held open from its creation to the cleanup.
    UniqueFile workFolderHold;
    // The extracted-files log of this run, named once the tree is checked.
    std::u16string extractedFilesLog;
    UniqueHandle workerThread;
    UniqueHandle cancelEvent;
    std::u16string extraArguments;
    bool silent = false;
    bool askAfterIntegrityFailure = false;
    bool askAfterRestrictionFailure = false;
    std::uint32_t trueVersion = 0;
    std::uint32_t trueBuild = 0;
    std::uint32_t reportedVersion = 0;
    std::uint32_t reportedBuild = 0;
    PackageReader package;
    RestrictionFunctions restrictionFunctions;

    // The program file that carries the package: the running module unless
    // a test points the job at another file.
    std::u16string programPath;
    // The administrator test and the shell call of LaunchAndWait.
    LaunchFunctions launchFunctions;
    // Whether this run is elevated or runs as SYSTEM, when a tree that could
    // not be locked stops the run (0x8004000D).
    bool (*runIsPrivileged)() = RunIsPrivileged;
    // The access-control, free-space and in-use calls, replaceable by a test.
    AccessControlFunctions accessControl;
    DiskFreeSpaceFn diskFreeSpace = SystemDiskFreeSpace;
    InUseWaitSettings inUseWait;

private:
    void Post(UINT message, WPARAM wParam);
    bool CancelRequested(DWORD milliseconds, HResult& waitResult);
};

// Thread entry of the worker; the context is the ExtractionJob.
DWORD WINAPI ExtractThreadProc(LPVOID context);

}  // namespace quarry
