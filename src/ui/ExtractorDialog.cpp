#include "ui/ExtractorDialog.h"

#include <commctrl.h>

#include "common/PathText.h"
#include "common/SystemLibrary.h"
#include "common/WinResult.h"
#include "restrictions/WindowsVersion.h"
#include "ui/DialogTemplate_win.h"
#include "ui/Strings.h"
#include "workflow/DialogMessages.h"
#include "workflow/ExtractionJob.h"

namespace quarry {

namespace {

constexpr int kCreepLimit = 100;     // where the bar stops before sizes are known
constexpr int kMeasuredLimit = 990;  // where measured progress stops
constexpr int kPausedLimit = 20;     // how far the bar moves while the browser is open

constexpr DWORD kRestartNoCrashNoHang = 3;  // RESTART_NO_CRASH | RESTART_NO_HANG

// The command line without the program path and the blanks after it: a
// quoted path up to its closing quote, or the first blank-delimited word.
const wchar_t* CommandLineTail(const wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line == L'"') ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

void RegisterForRestart() {
    using RegisterFn = HRESULT(WINAPI*)(PCWSTR, DWORD);
    const auto registerRestart =
        ProcAddress<RegisterFn>(::GetModuleHandleW(L"kernel32.dll"), "RegisterApplicationRestart");
    if (registerRestart) registerRestart(CommandLineTail(::GetCommandLineW()), kRestartNoCrashNoHang);
}

struct PopupCloser {
    DWORD processId;
    HWND except;
};

BOOL CALLBACK ClosePopupWindow(HWND window, LPARAM context) {
    const auto* closer = reinterpret_cast<const PopupCloser*>(context);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId == closer->processId && window != closer->except &&
        (::GetWindowLongW(window, GWL_STYLE) & WS_POPUP)) {
        ::SendMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

// Closes the boxes this process shows beside `dialog` (a message, the
// folder browser), as their Close or Cancel would.
void CloseOwnPopups(HWND dialog) {
    PopupCloser closer = {::GetCurrentProcessId(), dialog};
    ::EnumWindows(ClosePopupWindow, reinterpret_cast<LPARAM>(&closer));
}

// Centres `window` over its visible owner, else over the work area of the
// nearest monitor, and keeps it inside that work area.
void CentreWindow(HWND window) {
    RECT self;
    if (!::GetWindowRect(window, &self)) return;
    const int width = self.right - self.left;
    const int height = self.bottom - self.top;

    const HWND owner = ::GetWindow(window, GW_OWNER);
    const HMONITOR monitor =
        ::MonitorFromWindow(owner ? owner : window, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (!::GetMonitorInfoW(monitor, &info)) return;
    const RECT work = info.rcWork;

    RECT centre = work;
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &centre);
    int left = (centre.left + centre.right) / 2 - width / 2;
    int top = (centre.top + centre.bottom) / 2 - height / 2;
    if (left + width > work.right) left = work.right - width;
    if (top + height > work.bottom) top = work.bottom - height;
    if (left < work.left) left = work.left;
    if (top < work.top) top = work.top;
    ::SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

int MeasuredProgressPosition(std::uint64_t done, std::uint64_t total) {
    return kCreepLimit + static_cast<int>(static_cast<double>(done) / static_cast<double>(total) *
                                          (kMeasuredLimit - kCreepLimit));
}

HResult ExtractionModeResult(INT_PTR modalResult, bool workerDone, HResult endCode,
                             DWORD exitCodeSlot) {
    if (modalResult < 0) return static_cast<HResult>(modalResult);
    // A loop ended by a quit message (session end) returns 0 whatever
    // happened: a failed or cancelled run keeps its code, and before the
    // worker's last word what the started file returned is not known (the
    // slot may still say "running").
    if (Failed(endCode)) return endCode;
    if (!workerDone) return kResultCancelledByUser;
    return static_cast<HResult>(exitCodeSlot);
}

UINT FinishStatusString(HResult result) {
    if (Succeeded(result)) return kStringCompleted;
    return IsCancellation(result) ? kStringCancelled : kStringFailed;
}

CExtractorDialog::CExtractorDialog(bool silentRun, bool askAfterIntegrity,
                                   bool askAfterRestriction, const std::u16string& arguments,
                                   LibrarySearchGuard* guard, FieldLog* fieldLog)
    : silent(silentRun),
      askAfterIntegrityFailure(askAfterIntegrity),
      askAfterRestrictionFailure(askAfterRestriction),
      extraArguments(arguments),
      libraryGuard(guard),
      log(fieldLog) {
    if (!IsWindowsVersionOrLater(6, 0)) templateId = kDialogTemplateXp;
    defaultTitle = LoadResourceString(kStringProductDefault);
    messageCaption = defaultTitle;
    windowTitle = defaultTitle;
}

CExtractorDialog::~CExtractorDialog() {
    if (job) job->Cancel();
    if (largeIcon) ::DestroyIcon(largeIcon);
    if (smallIcon) ::DestroyIcon(smallIcon);
    StopJob();
    taskbar.Reset();
}

HGLOBAL CExtractorDialog::BuildDialogTemplate() const { return BuildDialogTemplateBlock(templateId); }

void CExtractorDialog::StopJob() {
    std::unique_ptr<ExtractionJob> detached = std::move(job);
    if (detached) detached->Stop();
}

bool CExtractorDialog::AutoCloseWhenSuccess() const {
    return job && job->Settings().AutoCloseWindowWhenSuccess;
}

void CExtractorDialog::SetStatusText(UINT stringId) {
    ::SetDlgItemTextW(m_hWnd, kControlStatus, Wide(LoadResourceString(stringId)));
}

void CExtractorDialog::SwitchToClose() {
    ::SetWindowTextW(cancelButton, Wide(LoadResourceString(kStringClose)));
    ::EnableWindow(cancelButton, TRUE);
    ::EnableMenuItem(::GetSystemMenu(m_hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    // Disabling the button for the clean-up took the keyboard focus away;
    // without it Escape and Enter reach no control.
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancelButton), TRUE);
}

void CExtractorDialog::ShowOrHide(bool hide) { ::ShowWindow(m_hWnd, hide ? SW_HIDE : SW_SHOW); }

LRESULT CExtractorDialog::OnInitDialog() {
    if (silent) {
        ::SetWindowLongW(m_hWnd, GWL_STYLE, ::GetWindowLongW(m_hWnd, GWL_STYLE) & ~WS_VISIBLE);
        ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, WS_EX_TOOLWINDOW);
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    }
    ::EnableMenuItem(::GetSystemMenu(m_hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);

    const HINSTANCE module = ::GetModuleHandleW(nullptr);
    largeIcon = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(kIconProgram), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXICON),
                                                ::GetSystemMetrics(SM_CYICON), 0));
    smallIcon = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(kIconProgram), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXSMICON),
                                                ::GetSystemMetrics(SM_CYSMICON), 0));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));

    ::SetDlgItemTextW(m_hWnd, kControlCancel, Wide(LoadResourceString(kStringCancel)));
    SetStatusText(kStringExtracting);
    cancelButton = ::GetDlgItem(m_hWnd, kControlCancel);
    progressBar = ::GetDlgItem(m_hWnd, kControlProgress);
    ::SendMessageW(progressBar, PBM_SETRANGE32, 0, kProgressRange);
    ::SendMessageW(progressBar, PBM_SETSTEP, 1, 0);

    // A silent window is hidden and has no taskbar button, so it makes no
    // taskbar list: its steps are skipped as when the list is unavailable.
    if (!silent && Succeeded(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_ALL,
                                                IID_ITaskbarList3, taskbar.PutVoid()))) {
        taskbar->SetProgressState(m_hWnd, TBPF_NORMAL);
        taskbar->SetProgressValue(m_hWnd, 0, kProgressRange);
    } else {
        taskbar.Reset();
    }

    CentreWindow(m_hWnd);
    timerId = ::SetTimer(m_hWnd, kProgressTimer, kProgressTimerPeriod, nullptr);
    ::ShowWindow(m_hWnd, silent ? SW_HIDE : SW_SHOW);
    progressMeasurable = messagePhaseOver = executing = finished = hiddenByUser = false;

    // Without a worker nothing would ever end the dialog: a job that cannot
    // be made or started ends it with the reason.
    const HResult started = CatchAllocationFailures([this] {
        JobOptions options;
        options.extraArguments = extraArguments;
        options.silent = silent;
        options.askAfterIntegrityFailure = askAfterIntegrityFailure;
        options.askAfterRestrictionFailure = askAfterRestrictionFailure;
        options.libraryGuard = libraryGuard;
        options.log = log;
        job = std::make_unique<ExtractionJob>(m_hWnd, std::move(options));
        const HResult result = job->Start();
        if (Succeeded(result) && cancelBeforeJob) job->Cancel();
        return result;
    });
    if (Failed(started)) {
        job.reset();
        endCode = started;
        EndDialog(endCode);
    }
    return TRUE;
}

void CExtractorDialog::OnProgressTimer() {
    int position = static_cast<int>(::SendMessageW(progressBar, PBM_GETPOS, 0, 0));
    if (position >= kMeasuredLimit || finished) return;
    const bool browsing = ::InterlockedCompareExchange(&browseCount, 0, 0) > 0;
    const int targetState = browsing ? kBarPaused : kBarNormal;

    if (!browsing || position < kPausedLimit) {
        if (progressMeasurable && job) {
            std::uint64_t done = 0;
            std::uint64_t total = 0;
            job->GetProgress(done, total);
            if (total != 0) {
                ::SendMessageW(progressBar, PBM_SETPOS, MeasuredProgressPosition(done, total), 0);
            } else {
                ::SendMessageW(progressBar, PBM_STEPIT, 0, 0);
            }
        } else if (position < kCreepLimit) {
            ::SendMessageW(progressBar, PBM_STEPIT, 0, 0);
        }
    }

    position = static_cast<int>(::SendMessageW(progressBar, PBM_GETPOS, 0, 0));
    if (::SendMessageW(progressBar, kProgressBarGetState, 0, 0) != targetState) {
        ::SendMessageW(progressBar, kProgressBarSetState, targetState, 0);
    }
    if (taskbar) {
        taskbar->SetProgressValue(m_hWnd, static_cast<ULONGLONG>(position), kProgressRange);
        taskbar->SetProgressState(m_hWnd, browsing ? TBPF_PAUSED | TBPF_NORMAL : TBPF_NORMAL);
    }
}

void CExtractorDialog::OnCancelCommand() {
    if (finished) {
        EndDialog(endCode);
    } else if (executing) {
        hiddenByUser = true;
        ShowOrHide(true);
    } else if (job) {
        job->Cancel();
    }
}

void CExtractorDialog::OnClose() {
    // The window's X, Task Manager's End task and taskkill all come here, to
    // a hidden silent dialog too. Ending the dialog now would end the
    // process before its worker, with no code that tells what happened: a
    // close is handled as the button is, and the process ends with the
    // worker's result.
    if (finished || executing) {
        // Finished: ends with the end code. Running the file: the window
        // hides, the run goes on and ends with the file's exit code.
        OnCancelCommand();
        return;
    }
    // Before the launch a close is a cancel. Whoever closed the window wants
    // it gone: it hides and the dialog ends as soon as the worker has
    // cleaned up, with the cancel's code. The cancel goes first: hiding can
    // take a while (the shell is told), and the worker must not get past
    // its last cancel check meanwhile.
    CancelWorker();
    hiddenByUser = true;
    ShowOrHide(true);
    // A box the dialog shows for the worker (the pre-execution message, the
    // folder browser) goes with it: left open, it would keep the process
    // running, hidden, until someone answers it.
    CloseOwnPopups(m_hWnd);
}

void CExtractorDialog::OnQueryEndSession(LPARAM lParam) {
    if ((lParam & ENDSESSION_CLOSEAPP) && !messagePhaseOver) RegisterForRestart();
    CancelWorker();
}

void CExtractorDialog::CancelWorker() {
    if (job) {
        job->Cancel();
    } else {
        // Sent messages can arrive while initialisation waits (for COM, say):
        // the job starts cancelled.
        cancelBeforeJob = true;
    }
}

void CExtractorDialog::OnEndSession() {
    std::unique_ptr<ExtractionJob> detached = std::move(job);
    CloseOwnPopups(m_hWnd);
    ::PostQuitMessage(static_cast<int>(kResultAbort));
    if (detached) detached->Stop();
}

void CExtractorDialog::OnPaint() {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, largeIcon);
    ::EndPaint(m_hWnd, &paint);
}

void CExtractorDialog::OnPackageOpened() {
    if (!job) return;
    const PackageSettings& settings = job->Settings();
    if (!settings.ProductName.empty()) messageCaption = settings.ProductName;
    if (!settings.WindowTitle.empty()) {
        windowTitle = settings.WindowTitle;
        ::SetWindowTextW(m_hWnd, Wide(windowTitle));
    }
}

void CExtractorDialog::OnExtractionDone(HResult result) {
    if (Succeeded(result)) {
        ::SendMessageW(progressBar, PBM_SETPOS, kProgressRange, 0);
        if (taskbar) {
            taskbar->SetProgressValue(m_hWnd, kProgressRange, kProgressRange);
            taskbar->SetProgressState(m_hWnd, TBPF_NOPROGRESS);
        }
    } else if (IsCancellation(result)) {
        if (taskbar) taskbar->SetProgressState(m_hWnd, TBPF_NOPROGRESS);
    }
    if (timerId) ::KillTimer(m_hWnd, timerId);
    timerId = 0;
}

void CExtractorDialog::OnLaunching() {
    executing = true;
    SetStatusText(kStringExecuting);
    SwitchToClose();
    ShowOrHide(silent || hiddenByUser || AutoCloseWhenSuccess());
}

void CExtractorDialog::OnLaunchEnded(HResult result) {
    ShowOrHide(silent || hiddenByUser || (AutoCloseWhenSuccess() && Succeeded(result)));
}

void CExtractorDialog::OnWorkerDone(HResult result) {
    workerDone = true;
    finished = true;
    endCode = result;
    SetStatusText(FinishStatusString(result));
    SwitchToClose();
    if (silent || hiddenByUser || (AutoCloseWhenSuccess() && Succeeded(result))) {
        EndDialog(endCode);
    } else {
        ShowOrHide(false);
    }
}

bool CExtractorDialog::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam,
                                            LRESULT& result) {
    result = 0;
    switch (message) {
        case WM_INITDIALOG:
            result = OnInitDialog();
            return true;
        case WM_TIMER:
            if (wParam != kProgressTimer) return false;
            OnProgressTimer();
            return true;
        case WM_PAINT:
            if (!::IsIconic(m_hWnd)) return false;
            OnPaint();
            return true;
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<LRESULT>(largeIcon);
            return true;
        case WM_WINDOWPOSCHANGING:
            if (!silent) return false;
            if (auto* position = reinterpret_cast<WINDOWPOS*>(lParam)) {
                position->flags = (position->flags & ~SWP_SHOWWINDOW) | SWP_HIDEWINDOW;
            }
            return true;
        case WM_KEYDOWN:
            return wParam == VK_ESCAPE || wParam == VK_RETURN;
        case WM_SYSKEYDOWN:
            return wParam == VK_F4;
        case WM_COMMAND:
            if (LOWORD(wParam) == kControlCancel) {
                OnCancelCommand();
                return true;
            }
            if (LOWORD(wParam) == SC_CLOSE) {
                if (finished || executing) OnCancelCommand();
                return true;
            }
            return false;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != SC_CLOSE) return false;
            if (finished || executing) OnCancelCommand();
            return true;
        case WM_CLOSE:
            OnClose();
            return true;
        case WM_QUERYENDSESSION:
            OnQueryEndSession(lParam);
            result = TRUE;
            return true;
        case WM_ENDSESSION:
            OnEndSession();
            return true;
        default:
            if (message >= kMsgReportError && message <= kMsgWorkerDone) {
                return ProcessWorkerMessage(message, wParam, lParam, result);
            }
            return false;
    }
}

// The worker's messages (DialogMessages.h).
bool CExtractorDialog::ProcessWorkerMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                            LRESULT& result) {
    switch (message) {
        case kMsgReportError:
            // A call overtakes the posted "settings loaded" notice: take the
            // package's titles now, while the worker waits for the answer.
            OnPackageOpened();
            result = ShowErrorReport(static_cast<HResult>(wParam), lParam);
            return true;
        case kMsgShowMessageFile:
            if (const auto* record = reinterpret_cast<const PreExecutionMessageRecord*>(lParam)) {
                OnPackageOpened();
                const std::u16string path =
                    WithTrailingBackslash(FromWide(record->supportFolder)) + u"MessageInfo.xml";
                result = ShowMessageFile(path, record->okOnly == 1) ? 1 : 0;
            }
            return true;
        case kMsgChooseFolder:
            if (auto* record = reinterpret_cast<FolderChoiceRecord*>(lParam)) {
                record->chosen = ShowFolderSelection(FromWide(record->startFolder),
                                                     FromWide(record->folderName),
                                                     FromWide(record->productName));
                result = record->chosen.empty() ? 0 : 1;
            }
            return true;
        case kMsgPackageOpened:
            OnPackageOpened();
            return true;
        case kMsgExtractionBegins:
            progressMeasurable = true;
            return true;
        case kMsgExtractionDone:
            OnExtractionDone(static_cast<HResult>(wParam));
            return true;
        case kMsgLeavingExtraction:
            messagePhaseOver = true;
            return true;
        case kMsgExtractFolderOpened:
            return true;
        case kMsgLaunching:
            OnLaunching();
            return true;
        case kMsgLaunchEnded:
            OnLaunchEnded(static_cast<HResult>(wParam));
            return true;
        case kMsgCleanupBegins:
            SetStatusText(kStringCleaningUp);
            ::EnableWindow(cancelButton, FALSE);
            return true;
        case kMsgWorkerDone:
            OnWorkerDone(static_cast<HResult>(wParam));
            return true;
        default:
            return false;
    }
}

}  // namespace quarry
