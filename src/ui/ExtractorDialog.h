// The progress dialog of extraction mode: a status line, a progress bar and
// a Cancel/Close button. It owns the ExtractionJob, starts its worker, and
// answers the worker's messages and questions (DialogMessages.h). Its end
// code is the result of the run. A silent dialog handles everything but is
// never shown.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <memory>
#include <string>

#include "common/Result.h"
#include "common/Unique.h"
#include "ui/DialogBase.h"
#include "ui/DialogResources.h"

namespace quarry {

class ExtractionJob;
class FieldLog;
class LibrarySearchGuard;

// Progress-bar states (the commctrl.h of older SDKs lacks them).
constexpr UINT kProgressBarSetState = WM_USER + 16;  // PBM_SETSTATE
constexpr UINT kProgressBarGetState = WM_USER + 17;  // PBM_GETSTATE
constexpr int kBarNormal = 1;                        // PBST_NORMAL
constexpr int kBarError = 2;                         // PBST_ERROR
constexpr int kBarPaused = 3;                        // PBST_PAUSED

constexpr UINT_PTR kProgressTimer = 45;
constexpr UINT kProgressTimerPeriod = 66;
constexpr int kProgressRange = 1000;

class CExtractorDialog : public CDialogBase {
public:
    // `libraryGuard` (null for none) loads the libraries of the shell's
    // windows from the system folder before they open.
    CExtractorDialog(bool silent, bool askAfterIntegrityFailure, bool askAfterRestrictionFailure,
                     const std::u16string& extraArguments,
                     LibrarySearchGuard* libraryGuard = nullptr, FieldLog* log = nullptr);
    ~CExtractorDialog() override;

    bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT& result) override;

    // A fixed global block with template `templateId`, its font replaced
    // by the language's dialog font; null when that cannot be done.
    HGLOBAL BuildDialogTemplate() const;

    // Error report for `code` (message kMsgReportError); the message-box
    // answer, or 1 when nothing was asked.
    INT_PTR ShowErrorReport(HResult code, LPARAM argument);
    // The pre-execution message from the package's message file; false when
    // the user declined it.
    bool ShowMessageFile(const std::u16string& path, bool okOnly);
    // The folder browser (message kMsgChooseFolder), on the dialog's thread:
    // the chosen folder, or an empty string when the user cancelled. A
    // silent dialog returns `startFolder` and shows nothing.
    std::u16string ShowFolderSelection(const std::u16string& startFolder,
                                       const std::u16string& folderName,
                                       const std::u16string& productName);

    WORD templateId = kDialogTemplateVista;
    HICON largeIcon = nullptr;
    HICON smallIcon = nullptr;
    bool silent = false;
    bool askAfterIntegrityFailure = false;
    bool askAfterRestrictionFailure = false;
    std::u16string extraArguments;
    LibrarySearchGuard* libraryGuard = nullptr;
    FieldLog* log = nullptr;
    HResult endCode = kResultCancelledByUser;
    bool progressMeasurable = false;
    bool messagePhaseOver = false;
    bool executing = false;
    bool finished = false;
    bool hiddenByUser = false;
    // The worker's last message (0x8119) has arrived: the exit-code slot
    // holds what the run leaves.
    bool workerDone = false;
    std::u16string defaultTitle;
    std::u16string messageCaption;
    std::u16string windowTitle;
    HWND cancelButton = nullptr;
    HWND progressBar = nullptr;
    UINT_PTR timerId = 0;
    std::unique_ptr<ExtractionJob> job;
    ComPtr<ITaskbarList3> taskbar;
    volatile LONG browseCount = 0;
    // A cancel that came while initialisation still waited for the
    // platform, before the job existed; the job gets it once started.
    bool cancelBeforeJob = false;

private:
    bool ProcessWorkerMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    LRESULT OnInitDialog();
    void OnProgressTimer();
    void OnCancelCommand();
    void OnClose();
    void OnQueryEndSession(LPARAM lParam);
    // Cancels the job, or the one still to be made.
    void CancelWorker();
    void OnEndSession();
    void OnPaint();
    void OnPackageOpened();
    void OnExtractionDone(HResult result);
    void OnLaunching();
    void OnLaunchEnded(HResult result);
    void OnWorkerDone(HResult result);
    void SwitchToClose();
    void SetStatusText(UINT stringId);
    void ShowOrHide(bool hide);
    void StopJob();
    bool AutoCloseWhenSuccess() const;
};

// Where the measured share puts the bar: 100 + done / total * 890, truncated
// (total not 0).
int MeasuredProgressPosition(std::uint64_t done, std::uint64_t total);

// The process exit code of extraction mode once the modal loop has ended
// with `modalResult`: a negative modal result as it is, else `endCode`
// when it is a failure; else the exit-code slot when the worker had
// finished, or 0x80040002 when it had not. So a loop that ends without the
// end code (a quit message) never turns a failure or an unfinished run into
// 0 or 259.
HResult ExtractionModeResult(INT_PTR modalResult, bool workerDone, HResult endCode,
                             DWORD exitCodeSlot);

// The status text id after the worker's final result: Completed, Cancelled
// (E_ABORT, a cancelled elevation, or the user's cancel) or Failed.
UINT FinishStatusString(HResult result);

}  // namespace quarry
