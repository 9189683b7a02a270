// The worker of extraction mode: makes the work folder, opens the package,
// checks space and restrictions, prepares the destination, extracts, locks
// and verifies the tree, hands over to execution and cleans up, reporting
// each stage to the progress dialog through the messages of
// DialogMessages.h, and through nothing else.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/DialogAnswer.h"
#include "common/Result.h"
#include "common/Unique.h"
#include "execution/Launch.h"
#include "package/AccessControl_win.h"
#include "package/PackageReader.h"
#include "restrictions/Restrictions.h"
#include "workflow/FileUseChecker.h"
#include "workflow/Folders.h"

namespace quarry {

class FieldLog;
class LibrarySearchGuard;

// True when this process runs as SYSTEM or elevated (CurrentRunIdentity).
bool RunIsPrivileged();

// What extraction mode (or a test) asks of a job.
struct JobOptions {
    bool silent = false;
    bool askAfterIntegrityFailure = false;
    bool askAfterRestrictionFailure = false;
    // The arguments after the program's own switches, for the command line.
    std::u16string extraArguments;
    // The program file that carries the package; empty: the running module.
    std::u16string programPath;
    // Loads the libraries a shell step needs from the system folder; null
    // where there is no guard (tests, or a program without one).
    LibrarySearchGuard* libraryGuard = nullptr;
    // The field log ("-log"), or null.
    FieldLog* log = nullptr;
    RestrictionFunctions restrictionFunctions;
    // The administrator test and the shell call of LaunchAndWait.
    LaunchFunctions launchFunctions;
    // What the wait for the extracted files to be released uses.
    InUseWaitSettings inUseWait;
    // The access-control and free-space calls.
    AccessControlFunctions accessControl;
    DiskFreeSpaceFn diskFreeSpace = SystemDiskFreeSpace;
    // Whether this run is elevated or runs as SYSTEM, when a tree that could
    // not be locked stops the run (0x8004000D).
    bool (*runIsPrivileged)() = RunIsPrivileged;
};

class ExtractionJob {
public:
    // `dialogWindow` is the progress dialog the worker reports to, or null
    // for none. Throws ResultError when the cancel event cannot be made.
    ExtractionJob(HWND dialogWindow, JobOptions options);
    ~ExtractionJob();
    ExtractionJob(const ExtractionJob&) = delete;
    ExtractionJob& operator=(const ExtractionJob&) = delete;

    // Resets the cancel event and starts the worker thread.
    HResult Start();

    // Asks the worker to stop and waits for it up to 10 seconds; a worker
    // still running then is terminated. Returns the worker's exit code.
    DWORD Stop();

    // Sets the cancel event: every wait of the worker ends, and a question
    // of the worker that is open gives up.
    void Cancel();
    // Whether the cancel event is set.
    bool Cancelled() const;

    // The bytes written so far and the bytes to write, for the progress bar.
    void GetProgress(std::uint64_t& done, std::uint64_t& total);

    // A synchronous call into the dialog's thread that gives up as soon as
    // the cancel event is set (Cancelled). The dialog's reply `goOn` is
    // Proceed, any other reply Decline.
    DialogAnswer CallDialog(UINT message, WPARAM wParam, LPARAM lParam, LRESULT goOn);

    // Shows an error through the dialog; Decline when there is no dialog.
    DialogAnswer ReportError(HResult code, LPARAM argument);

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

    // What the dialog and the tests read of the run.
    const PackageReader& Package() const { return package_; }
    const PackageSettings& Settings() const { return package_.settings; }
    const JobOptions& Options() const { return options_; }
    const std::u16string& WorkFolder() const { return workFolder_; }
    const std::u16string& SupportFolder() const { return supportFolder_; }
    const std::u16string& RunFolder() const { return runFolder_; }
    const std::u16string& ExtractFolder() const { return extractFolder_; }

private:
    friend struct JobInternals;  // the tests' way to plant a run's state

    void Post(UINT message, WPARAM wParam);
    bool CancelRequested(DWORD milliseconds, HResult& waitResult);
    FailureQuestion AskAboutFailure();
    void Log(const char16_t* phase, const std::u16string& text);
    void LogSettings();

    // The steps of Run and Extract, in their order.
    HResult RunAfterExtraction();
    HResult MakeWorkFolder(const std::u16string& workRoot, SECURITY_ATTRIBUTES* runOnly);
    HResult OpenPackage(const std::u16string& workRoot, std::uint64_t programSize,
                        bool& errorReported);
    HResult ExtractAndLock();
    HResult CheckExtractedTree(const std::u16string& workRoot, std::uint64_t programSize,
                               bool& errorReported);

    HWND dialogWindow_ = nullptr;
    JobOptions options_;
    std::u16string runFolder_;
    std::u16string extractFolder_;
    std::u16string supportFolder_;
    std::u16string workFolder_;
    // The work folder, held open from its creation to the cleanup.
    UniqueFile workFolderHold_;
    // The extracted-files log of this run, named once the tree is checked.
    std::u16string extractedFilesLog_;
    UniqueHandle workerThread_;
    UniqueHandle cancelEvent_;
    WindowsVersionWords versionWords_;
    PackageReader package_;
};

// Thread entry of the worker; the context is the ExtractionJob.
DWORD WINAPI ExtractThreadProc(LPVOID context);

}  // namespace quarry
