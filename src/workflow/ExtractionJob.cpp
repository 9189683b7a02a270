#include "workflow/ExtractionJob.h"

#include <shlwapi.h>

#include "app/LibrarySearchGuard_win.h"
#include "common/LinkSafe.h"
#include "common/Text.h"
#include "common/WinFile.h"
#include "common/WinResult.h"
#include "package/AccessControl.h"
#include "package/AccessControl_win.h"
#include "package/ExtractedFilesLog.h"
#include "restrictions/WindowsVersion.h"
#include "ui/ExtractorDialog.h"
#include "workflow/Cleanup.h"
#include "workflow/DialogMessages.h"
#include "workflow/FolderRules.h"
#include "workflow/Folders.h"
#include "workflow/UpdateMode.h"

namespace quarry {

namespace {

constexpr DWORD kStopWaitMilliseconds = 10000;

// The reply of one synchronous call. It is shared by the call and by the
// completion callback, which may run after the call has given up on a
// cancel; whichever finishes last frees it, so a late reply never touches
// freed memory or a closed event.
struct ReplySlot {
    LONG references = 2;
    LRESULT reply = 0;
    HANDLE replied = nullptr;
};

void ReleaseSlot(ReplySlot* slot) {
    if (::InterlockedDecrement(&slot->references) == 0) {
        ::CloseHandle(slot->replied);
        delete slot;
    }
}

void CALLBACK OnDialogReply(HWND, UINT, ULONG_PTR data, LRESULT result) {
    auto* slot = reinterpret_cast<ReplySlot*>(data);
    slot->reply = result;
    ::SetEvent(slot->replied);
    ReleaseSlot(slot);
}

bool HasPayloadEntry(const PackageDirectory& directory) {
    for (const PackageGroup& group : directory.groups) {
        if (ClassifyGroup(group.name) != GroupKind::Main) continue;
        for (const PackageEntry& entry : group.entries) {
            if (EqualsNoCase(entry.name, kCabinetEntryName)) return true;
        }
    }
    return false;
}

// A negative TotalFileSize cannot describe a payload; it counts as none.
std::uint64_t PayloadSize(const PackageSettings& settings) {
    return settings.TotalFileSize > 0 ? static_cast<std::uint64_t>(settings.TotalFileSize) : 0;
}

}  // namespace

ExtractionJob::ExtractionJob(HWND window, CExtractorDialog* owner)
    : dialogWindow(window), dialog(owner), programPath(ModuleFileName()) {
    cancelEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!cancelEvent) throw ResultError{LastErrorResult()};
    const WindowsVersionWords words = MeasureWindowsVersion();
    trueVersion = words.trueVersion;
    trueBuild = words.trueBuild;
    reportedVersion = words.reportedVersion;
    reportedBuild = words.reportedBuild;
}

ExtractionJob::~ExtractionJob() { Stop(); }

HResult ExtractionJob::Start() {
    ::ResetEvent(cancelEvent.Get());
    HANDLE thread = ::CreateThread(nullptr, 0, ExtractThreadProc, this, 0, nullptr);
    RETURN_LAST_ERROR_IF_NULL(thread);
    workerThread.Reset(thread);
    return kResultOk;
}

DWORD ExtractionJob::Stop() {
    ::SetEvent(cancelEvent.Get());
    DWORD exitCode = 0;
    if (workerThread) {
        if (::WaitForSingleObject(workerThread.Get(), kStopWaitMilliseconds) == WAIT_OBJECT_0) {
            ::GetExitCodeThread(workerThread.Get(), &exitCode);
        } else {
            // A worker stuck in a platform call for this long will not come
            // back; the process is about to end.
            ::TerminateThread(workerThread.Get(), static_cast<DWORD>(kResultAbort));
            exitCode = static_cast<DWORD>(kResultAbort);
        }
        workerThread.Reset();
    }
    return exitCode;
}

INT_PTR ExtractionJob::CallDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HANDLE replied = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!replied) return kResultUnexpected;
    auto* slot = new ReplySlot;
    slot->replied = replied;
    if (!::SendMessageCallbackW(window, message, wParam, lParam, OnDialogReply,
                                reinterpret_cast<ULONG_PTR>(slot))) {
        // The callback will never run: both references are ours.
        ReleaseSlot(slot);
        ReleaseSlot(slot);
        return kResultUnexpected;
    }
    const HANDLE handles[] = {cancelEvent.Get(), replied};
    INT_PTR result = kResultUnexpected;
    for (;;) {
        const DWORD wait = ::MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0) {
            result = kResultAbort;
            break;
        }
        if (wait == WAIT_OBJECT_0 + 1) {
            result = static_cast<INT_PTR>(slot->reply);
            break;
        }
        if (wait != WAIT_OBJECT_0 + 2) break;
        // The reply arrives as a callback delivered while this thread takes
        // its messages.
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (::GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    ReleaseSlot(slot);
    return result;
}

INT_PTR ExtractionJob::ReportError(HResult code, LPARAM argument) {
    if (!dialogWindow) return 0;
    return CallDialog(dialogWindow, kMsgReportError, static_cast<WPARAM>(code), argument);
}

void ExtractionJob::Post(UINT message, WPARAM wParam) {
    // Without a window there is nobody to tell; a null window would post to
    // this thread's own queue instead.
    if (dialogWindow) ::PostMessageW(dialogWindow, message, wParam, 0);
}

// Waits on the cancel event. True when it is set; `waitResult` is 0x8000FFFF
// when the wait neither timed out nor saw the event.
bool ExtractionJob::CancelRequested(DWORD milliseconds, HResult& waitResult) {
    const DWORD wait = ::WaitForSingleObject(cancelEvent.Get(), milliseconds);
    waitResult = wait == WAIT_OBJECT_0 ? kResultAbort
                 : wait == WAIT_TIMEOUT ? kResultOk
                                        : kResultUnexpected;
    return wait == WAIT_OBJECT_0;
}

bool RunIsPrivileged() { return CurrentRunIdentity().privileged; }

DWORD WINAPI ExtractThreadProc(LPVOID context) {
    if (!context) return static_cast<DWORD>(kResultInvalidArg);
    static_cast<ExtractionJob*>(context)->Run();
    return 0;
}

HResult ExtractionJob::Run() {
    HResult result = Extract();
    if (Failed(result)) {
        if (dialogWindow) ::SendMessageW(dialogWindow, kMsgLeavingExtraction, result, 0);
    } else {
        HResult waitResult = kResultOk;
        // A cancel in this pause, as one during the extraction, comes before
        // anything was started: both end with the one code a deployment tool
        // reads as "cancelled before the launch".
        if (CancelRequested(1000, waitResult)) {
            result = kResultCancelledByUser;
        } else if (Failed(waitResult)) {
            result = waitResult;
        } else {
            const PackageSettings& settings = package.settings;
            INT_PTR proceed = 1;
            if (dialogWindow) {
                bool show = false;
                if (!settings.TervoUpdateMode) {
                    show = silent ? settings.ShowMessageBoxWhenSilent : settings.ShowMessageBox;
                } else if (silent) {
                    show = settings.ShowMessageBoxWhenSilent && ReadSilentExecutionFlag();
                } else {
                    show = settings.ShowMessageBox && !ReadSilentExecutionFlag();
                }
                if (show) {
                    PreExecutionMessageRecord record;
                    record.okOnly = settings.DialogButtonType ? 1 : 0;
                    record.supportFolder = Wide(supportFolder);
                    proceed = CallDialog(dialogWindow, kMsgShowMessageFile, 0,
                                         reinterpret_cast<LPARAM>(&record));
                }
            }
            if (dialogWindow) ::SendMessageW(dialogWindow, kMsgLeavingExtraction, result, 0);
            if (proceed == 1) {
                if (!silent) ShowExtractFolder();
                result = Execute(extraArguments);
            } else {
                result = kResultCancelledByUser;
            }
        }
    }
    Post(kMsgCleanupBegins, result);
    if (!workFolder.empty()) Cleanup(false);
    Post(kMsgWorkerDone, result);
    return kResultOk;
}

HResult ExtractionJob::Extract() {
    const std::uint64_t programSize = GetFileSize64(programPath);
    // The run's folders get their list as they are made: none of them is
    // ever writable by anyone but the run, not even for a moment.
    const RunIdentity run = accessControl.runIdentity();
    FolderSecurity runOnly(run, false);
    std::u16string workRoot;
    if (Failed(PrepareWorkRoot(GetWorkRoot(), runOnly.Attributes(), workRoot, accessControl))) {
        return kResultFolderNotCreated;
    }

    bool errorReported = false;
    HResult result = kResultOk;
    try {
        // Each step either falls through or ends the phase with `result`.
        do {
            // The run's own folders are new, or the run does not use them:
            // one that is there already was made by someone else.
            const std::u16string newWorkFolder = workRoot + u"\\" + NewGuidString() + u"\\";
            if (Failed(CreateNewFolder(newWorkFolder, runOnly.Attributes()))) {
                result = kResultFolderNotCreated;
                break;
            }
            workFolder = newWorkFolder;
            // Held, sharing no deletion, until the cleanup: nobody can rename
            // it away and put another folder of that name in its place, even
            // where the work root lets the same user's other programs write.
            workFolderHold = std::move(OpenEntry(newWorkFolder.substr(0, newWorkFolder.size() - 1),
                                                 INVALID_FILE_ATTRIBUTES, 0)
                                           .handle);
            supportFolder = workFolder + u"Support\\";
            if (Failed(CreateNewFolder(supportFolder))) {
                result = kResultFolderNotCreated;
                break;
            }

            result = package.Open(programPath, supportFolder);
            if (Succeeded(result)) {
                result = package.LoadSettings();
                Post(kMsgPackageOpened, 0);
            }
            const bool hasPayload = HasPayloadEntry(package.Directory());
            if (Failed(result)) break;

            const PackageSettings& settings = package.settings;
            std::uint64_t required = AddWithCarry(programSize, kFreeSpaceMargin);
            if (hasPayload && !settings.SpecifiedExtractFolder) {
                required = AddWithCarry(required, PayloadSize(settings));
            }
            if (!CheckFreeSpace(required, workRoot, errorReported)) {
                result = kResultNotEnoughSpace;
                break;
            }

            result = CheckRestrictions(errorReported);
            if (Failed(result)) break;

            result = PrepareDestination(AddWithCarry(PayloadSize(settings), kFreeSpaceMargin),
                                        extractFolder, errorReported);
            if (Succeeded(result)) Post(kMsgExtractionBegins, 0);
            HResult waitResult = kResultOk;
            if (CancelRequested(500, waitResult)) {
                result = kResultAbort;
                break;
            }
            if (Failed(result)) break;

            // The extract folder was made new by PrepareDestination.
            runFolder = settings.SpecifiedExtractFolder ? extractFolder + u"\\"
                                                        : workFolder + u"Package\\";
            if (!settings.SpecifiedExtractFolder && Failed(CreateNewFolder(runFolder))) {
                result = kResultFolderNotCreated;
                break;
            }

            package.fingerprintPath = ChooseExecutionSettings(settings).FileName;
            result = package.ExtractAll(runFolder, cancelEvent.Get());
            if (Failed(result)) break;

            // The lock covers the GUID work folder, and Support and Package
            // with it, so that neither can be renamed away and replaced; it
            // comes first, since its reset clears what is below.
            CreateWritableItems(runFolder, settings.WritableItems, package.destinationFiles);
            bool locked = Succeeded(SetTreeAccess(workFolder, false, accessControl));
            if (settings.SpecifiedExtractFolder) {
                locked = Succeeded(SetTreeAccess(runFolder, false, accessControl)) && locked;
            }
            UnlockWritableItems(runFolder, settings.WritableItems, accessControl);
            // A tree others could still change must not feed a program that
            // runs with more rights than they have.
            const bool startsElevated = ChooseExecutionSettings(settings).ForceElevation;
            if (!locked && (runIsPrivileged() || startsElevated)) {
                result = kResultTreeNotLocked;
                break;
            }

            SYSTEMTIME now;
            ::GetLocalTime(&now);
            const std::u16string logPath =
                workRoot + u"\\" +
                ExtractedFilesLogName(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                      now.wSecond, now.wMilliseconds);
            extractedFilesLog = logPath;
            const HResult destinationCheck =
                package.WriteExtractedFilesLog(0, logPath, programPath, programSize);
            const HResult supportCheck =
                package.WriteExtractedFilesLog(1, logPath, programPath, programSize);
            result = Failed(destinationCheck) ? destinationCheck : supportCheck;
            if (Failed(result)) {
                if (!askAfterIntegrityFailure) break;
                if (ReportError(result, 0) != kAnswerYes) {
                    errorReported = true;
                    break;
                }
            }
            Post(kMsgExtractionDone, 0);
            return kResultOk;
        } while (false);
    } catch (...) {
        result = kResultFail;
    }

    Cleanup(true);
    if (IsCancellation(result)) result = kResultCancelledByUser;
    if (!errorReported && result != kResultCancelledByUser) {
        const std::uint32_t code = static_cast<std::uint32_t>(result);
        const bool ownCode = (code >= 0x80040000u && code <= 0x8004000Fu) ||
                             (code >= 0x80040100u && code <= 0x8004013Fu);
        ReportError(ownCode ? result : kResultGenericFailure, 0);
    }
    Post(kMsgExtractionDone, result);
    return result;
}

bool ExtractionJob::CheckFreeSpace(std::uint64_t required, const std::u16string& folder,
                                   bool& errorReported) {
    std::uint64_t available = 0;
    if (!QueryFreeBytes(folder, available, diskFreeSpace) ||
        HasEnoughFreeSpace(available, required)) {
        return true;
    }
    const std::u16string drive = DriveText(folder);
    if (dialogWindow &&
        CallDialog(dialogWindow, kMsgReportError, static_cast<WPARAM>(kResultNotEnoughSpace),
                   reinterpret_cast<LPARAM>(Wide(drive))) == kAnswerYes) {
        return true;
    }
    errorReported = true;
    return false;
}

HResult ExtractionJob::PrepareDestination(std::uint64_t required,
                                          std::u16string& extractFolderPath,
                                          bool& errorReported) {
    const PackageSettings& settings = package.settings;
    if (!settings.SpecifiedExtractFolder) return kResultOk;

    // Without a parent the folder would land at the root of the current
    // drive: an unknown parent type, or a parent folder that cannot be had,
    // ends the step instead.
    std::u16string parent;
    bool haveParent = false;
    const std::optional<ParentFolderKind> kind =
        ParentFolderKindFromSetting(settings.TargetParentFolderType);
    if (kind == ParentFolderKind::ProgramFolder) {
        parent = programPath.substr(0, programPath.size() - FileNamePart(programPath).size());
        haveParent = true;
    } else if (kind == ParentFolderKind::Desktop) {
        haveParent = GetSpecialFolder(CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, parent);
    } else if (kind == ParentFolderKind::Downloads) {
        haveParent = GetDownloadsFolder(parent);
    }
    if (!haveParent || parent.empty()) return kResultFolderNotCreated;

    const std::u16string folderName = ExtractFolderName(
        settings.TargetFolderName.empty() ? FolderNameFromProgramName(FileNamePart(programPath))
                                          : settings.TargetFolderName);

    if (dialog && !silent && settings.SelectExtractFolder) {
        // The folder browser loads much of the shell.
        if (gLibrarySearchGuard) gLibrarySearchGuard->PreloadOnDemand(false, true, false);
        const std::u16string chosen =
            dialog->ShowFolderSelection(parent, folderName, settings.ProductName);
        if (chosen.empty()) {
            errorReported = true;
            return kResultCancelledByUser;
        }
        parent = chosen;
    }

    parent = WithTrailingBackslash(parent);
    std::u16string candidate = parent + folderName;
    std::u16string unique;
    if (MakeUniqueName(candidate, unique)) candidate = unique;

    if (!CheckFreeSpace(required, parent, errorReported)) return kResultNotEnoughSpace;
    // The extract folder is one this run makes, never one that is there:
    // a failed run removes it with all it holds. A name the shell could not
    // make unique, or a folder made in between, ends the step. It is made
    // with the run's list, which lets users open it afterwards.
    RETURN_IF_FAILED(CreateFolderTree(parent));
    FolderSecurity userReadable(accessControl.runIdentity(), true);
    if (!userReadable.Attributes() ||
        Failed(CreateNewFolder(candidate, userReadable.Attributes()))) {
        return kResultFolderNotCreated;
    }
    extractFolderPath = candidate;
    return kResultOk;
}

void ExtractionJob::Cleanup(bool removeExtractFolder) {
    // The hold shares no deletion: it must go before the folder can.
    workFolderHold.Reset();
    if (!workFolder.empty()) {
        SetTreeAccess(workFolder, true, accessControl);
        DeleteTree(workFolder);
    }
    if (removeExtractFolder && !extractFolder.empty()) {
        SetTreeAccess(extractFolder, true, accessControl);
        DeleteTree(extractFolder);
    }
}

}  // namespace quarry
