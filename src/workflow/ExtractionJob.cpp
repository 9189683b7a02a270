#include "workflow/ExtractionJob.h"

#include <shlwapi.h>

#include "common/FieldLogText.h"
#include "common/FieldLog_win.h"
#include "common/LibrarySearchGuard_win.h"
#include "common/LinkSafe.h"
#include "common/PathText.h"
#include "common/Text.h"
#include "common/WinFile.h"
#include "common/WinResult.h"
#include "execution/Command_win.h"
#include "execution/ExitCodeSlot.h"
#include "package/AccessControl.h"
#include "package/AccessControl_win.h"
#include "package/ExtractedFilesLog.h"
#include "package/PackageLayout.h"
#include "settings/UpdateMode.h"
#include "workflow/Cleanup.h"
#include "workflow/DialogMessages.h"
#include "workflow/FolderRules.h"
#include "workflow/Folders.h"

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
    return FindMainEntry(directory, kCabinetEntryName) != nullptr;
}

// A negative TotalFileSize cannot describe a payload; it counts as none.
std::uint64_t PayloadSize(const PackageSettings& settings) {
    return settings.TotalFileSize > 0 ? static_cast<std::uint64_t>(settings.TotalFileSize) : 0;
}

// Whether the pre-execution message is shown: by the package's settings, and
// in update mode also by the silent-execution flag the updater leaves.
bool ShowsPreExecutionMessage(const PackageSettings& settings, bool silent) {
    if (!settings.TervoUpdateMode) {
        return silent ? settings.ShowMessageBoxWhenSilent : settings.ShowMessageBox;
    }
    if (silent) return settings.ShowMessageBoxWhenSilent && ReadSilentExecutionFlag();
    return settings.ShowMessageBox && !ReadSilentExecutionFlag();
}

// The codes the error report names as they are; any other failure is
// reported as the generic one.
bool IsOwnResultCode(HResult result) {
    const std::uint32_t code = static_cast<std::uint32_t>(result);
    return (code >= 0x80040000u && code <= 0x8004000Fu) ||
           (code >= 0x80040100u && code <= 0x8004013Fu);
}

}  // namespace

ExtractionJob::ExtractionJob(HWND window, JobOptions options)
    : dialogWindow_(window), options_(std::move(options)) {
    if (options_.programPath.empty()) options_.programPath = ModuleFileName();
    cancelEvent_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!cancelEvent_) throw ResultError{LastErrorResult()};
    versionWords_ = MeasureWindowsVersion();
}

ExtractionJob::~ExtractionJob() { Stop(); }

HResult ExtractionJob::Start() {
    ::ResetEvent(cancelEvent_.Get());
    HANDLE thread = ::CreateThread(nullptr, 0, ExtractThreadProc, this, 0, nullptr);
    RETURN_LAST_ERROR_IF_NULL(thread);
    workerThread_.Reset(thread);
    return kResultOk;
}

DWORD ExtractionJob::Stop() {
    Cancel();
    DWORD exitCode = 0;
    if (workerThread_) {
        if (::WaitForSingleObject(workerThread_.Get(), kStopWaitMilliseconds) == WAIT_OBJECT_0) {
            ::GetExitCodeThread(workerThread_.Get(), &exitCode);
        } else {
            // A worker stuck in a platform call for this long will not come
            // back; the process is about to end.
            ::TerminateThread(workerThread_.Get(), static_cast<DWORD>(kResultAbort));
            exitCode = static_cast<DWORD>(kResultAbort);
        }
        workerThread_.Reset();
    }
    return exitCode;
}

void ExtractionJob::Cancel() { ::SetEvent(cancelEvent_.Get()); }

bool ExtractionJob::Cancelled() const {
    return ::WaitForSingleObject(cancelEvent_.Get(), 0) == WAIT_OBJECT_0;
}

void ExtractionJob::GetProgress(std::uint64_t& done, std::uint64_t& total) {
    package_.GetProgress(done, total);
}

DialogAnswer ExtractionJob::CallDialog(UINT message, WPARAM wParam, LPARAM lParam, LRESULT goOn) {
    HANDLE replied = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!replied) return DialogAnswer::Failed;
    auto* slot = new ReplySlot;
    slot->replied = replied;
    if (!::SendMessageCallbackW(dialogWindow_, message, wParam, lParam, OnDialogReply,
                                reinterpret_cast<ULONG_PTR>(slot))) {
        // The callback will never run: both references are ours.
        ReleaseSlot(slot);
        ReleaseSlot(slot);
        return DialogAnswer::Failed;
    }
    const HANDLE handles[] = {cancelEvent_.Get(), replied};
    DialogAnswer answer = DialogAnswer::Failed;
    for (;;) {
        const DWORD wait = ::MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0) {
            answer = DialogAnswer::Cancelled;
            break;
        }
        if (wait == WAIT_OBJECT_0 + 1) {
            answer = slot->reply == goOn ? DialogAnswer::Proceed : DialogAnswer::Decline;
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
    return answer;
}

DialogAnswer ExtractionJob::ReportError(HResult code, LPARAM argument) {
    if (!dialogWindow_) return DialogAnswer::Decline;
    return CallDialog(kMsgReportError, static_cast<WPARAM>(code), argument, kAnswerYes);
}

FailureQuestion ExtractionJob::AskAboutFailure() {
    return [this](HResult code, std::intptr_t argument) {
        return ReportError(code, static_cast<LPARAM>(argument));
    };
}

void ExtractionJob::Log(const char16_t* phase, const std::u16string& text) {
    LogLine(options_.log, phase, text);
}

// The settings that decide the run, once they are read.
void ExtractionJob::LogSettings() {
    if (!options_.log) return;
    const PackageSettings& settings = package_.settings;
    const ExecutionSettings& execution = ChooseExecutionSettings(settings);
    const auto yes = [](bool value) { return std::u16string(value ? u"yes" : u"no"); };
    Log(u"settings", u"product \"" + settings.ProductName + u"\", file \"" + execution.FileName +
                         u"\", options \"" + execution.Options + u"\", elevated " +
                         yes(execution.ForceElevation) + u", wait timeout " +
                         Ascii(std::to_string(execution.WaitTimeout)) + u" s" +
                         (execution.waitTimed ? u" (timed)" : u"") + u", wait for release " +
                         yes(execution.waitForRelease));
    Log(u"settings", u"signature check " + yes(settings.CheckDigitalSignature) +
                         u", manufacturer check " + yes(settings.CheckManufacturer) +
                         u", extract folder " + yes(settings.SpecifiedExtractFolder) +
                         u", payload " + Ascii(std::to_string(settings.TotalFileSize)) +
                         u" bytes");
}

void ExtractionJob::Post(UINT message, WPARAM wParam) {
    // Without a window there is nobody to tell; a null window would post to
    // this thread's own queue instead.
    if (dialogWindow_) ::PostMessageW(dialogWindow_, message, wParam, 0);
}

// Waits on the cancel event. True when it is set; `waitResult` is 0x8000FFFF
// when the wait neither timed out nor saw the event.
bool ExtractionJob::CancelRequested(DWORD milliseconds, HResult& waitResult) {
    const DWORD wait = ::WaitForSingleObject(cancelEvent_.Get(), milliseconds);
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
    Log(u"extraction", u"ended with " + CodeText(static_cast<std::uint32_t>(result)));
    if (Failed(result)) {
        if (dialogWindow_) ::SendMessageW(dialogWindow_, kMsgLeavingExtraction, result, 0);
    } else {
        result = RunAfterExtraction();
    }
    Post(kMsgCleanupBegins, result);
    if (!workFolder_.empty()) Cleanup(false);
    Log(u"cleanup", u"done; the run's result is " + CodeText(static_cast<std::uint32_t>(result)));
    Post(kMsgWorkerDone, result);
    return kResultOk;
}

HResult ExtractionJob::RunAfterExtraction() {
    HResult waitResult = kResultOk;
    // A cancel in this pause, as one during the extraction, comes before
    // anything was started: both end with the one code a deployment tool
    // reads as "cancelled before the launch".
    if (CancelRequested(1000, waitResult)) {
        Log(u"cancel", u"cancelled before the launch");
        return kResultCancelledByUser;
    }
    if (Failed(waitResult)) return waitResult;

    DialogAnswer proceed = DialogAnswer::Proceed;
    if (dialogWindow_ && ShowsPreExecutionMessage(package_.settings, options_.silent)) {
        PreExecutionMessageRecord record;
        record.okOnly = package_.settings.DialogButtonType ? 1 : 0;
        record.supportFolder = Wide(supportFolder_);
        proceed = CallDialog(kMsgShowMessageFile, 0, reinterpret_cast<LPARAM>(&record), 1);
    }
    if (dialogWindow_) ::SendMessageW(dialogWindow_, kMsgLeavingExtraction, kResultOk, 0);
    if (proceed != DialogAnswer::Proceed) {
        Log(u"message", u"the pre-execution message was declined");
        return kResultCancelledByUser;
    }
    if (!options_.silent) ShowExtractFolder();
    return Execute(options_.extraArguments);
}

HResult ExtractionJob::Extract() {
    const std::uint64_t programSize = GetFileSize64(options_.programPath);
    // The run's folders get their list as they are made: none of them is
    // ever writable by anyone but the run, not even for a moment.
    const RunIdentity run = options_.accessControl.runIdentity();
    FolderSecurity runOnly(run, false);
    std::u16string workRoot;
    if (Failed(PrepareWorkRoot(GetWorkRoot(), runOnly.Attributes(), workRoot,
                               options_.accessControl))) {
        Log(u"folders", u"no work root could be had");
        return kResultFolderNotCreated;
    }
    Log(u"folders", u"work root " + workRoot);
    // Only the shared root, once it is trusted, holds other runs' folders.
    if (workRoot == GetWorkRoot()) {
        const int swept = SweepStaleWorkFolders(workRoot, 0, options_.accessControl);
        if (swept > 0) {
            Log(u"folders", u"removed " + Ascii(std::to_string(swept)) +
                                u" work folders older than seven days");
        }
    }

    bool errorReported = false;
    HResult result = kResultOk;
    try {
        result = MakeWorkFolder(workRoot, runOnly.Attributes());
        if (Succeeded(result)) result = OpenPackage(workRoot, programSize, errorReported);
        if (Succeeded(result)) result = ExtractAndLock();
        if (Succeeded(result)) result = CheckExtractedTree(workRoot, programSize, errorReported);
        if (Succeeded(result)) {
            Post(kMsgExtractionDone, 0);
            return kResultOk;
        }
    } catch (...) {
        result = kResultFail;
    }

    Cleanup(true);
    if (IsCancellation(result)) result = kResultCancelledByUser;
    if (!errorReported && result != kResultCancelledByUser) {
        ReportError(IsOwnResultCode(result) ? result : kResultGenericFailure, 0);
    }
    Post(kMsgExtractionDone, result);
    return result;
}

HResult ExtractionJob::MakeWorkFolder(const std::u16string& workRoot,
                                      SECURITY_ATTRIBUTES* runOnly) {
    // The run's own folders are new, or the run does not use them: one that
    // is there already was made by someone else.
    const std::u16string newWorkFolder = workRoot + u"\\" + NewGuidString() + u"\\";
    if (Failed(CreateNewFolder(newWorkFolder, runOnly))) return kResultFolderNotCreated;
    workFolder_ = newWorkFolder;
    // Held, sharing no deletion, until the cleanup: nobody can rename it away
    // and put another folder of that name in its place, even where the work
    // root lets the same user's other programs write. The hold lists the
    // folder, which is what tells a later run's sweep that it is in use.
    workFolderHold_ = std::move(OpenEntry(newWorkFolder.substr(0, newWorkFolder.size() - 1),
                                          INVALID_FILE_ATTRIBUTES, FILE_LIST_DIRECTORY)
                                    .handle);
    supportFolder_ = workFolder_ + u"Support\\";
    Log(u"folders", u"work folder " + workFolder_);
    return Succeeded(CreateNewFolder(supportFolder_)) ? kResultOk : kResultFolderNotCreated;
}

HResult ExtractionJob::OpenPackage(const std::u16string& workRoot, std::uint64_t programSize,
                                   bool& errorReported) {
    HResult result = package_.Open(options_.programPath, supportFolder_);
    if (Succeeded(result)) {
        result = package_.LoadSettings();
        Post(kMsgPackageOpened, 0);
    }
    const bool hasPayload = HasPayloadEntry(package_.Directory());
    Log(u"package", u"opened and read with " + CodeText(static_cast<std::uint32_t>(result)));
    RETURN_IF_FAILED(result);
    LogSettings();

    const PackageSettings& settings = package_.settings;
    std::uint64_t required = AddWithCarry(programSize, kFreeSpaceMargin);
    if (hasPayload && !settings.SpecifiedExtractFolder) {
        required = AddWithCarry(required, PayloadSize(settings));
    }
    if (!CheckFreeSpace(required, workRoot, errorReported)) {
        Log(u"space", u"not enough free space for the work folder");
        return kResultNotEnoughSpace;
    }

    const HResult restrictions = CheckRestrictions(errorReported);
    Log(u"restrictions", u"checked with " + CodeText(static_cast<std::uint32_t>(restrictions)));
    RETURN_IF_FAILED(restrictions);

    result = PrepareDestination(AddWithCarry(PayloadSize(settings), kFreeSpaceMargin),
                                extractFolder_, errorReported);
    if (Succeeded(result)) Post(kMsgExtractionBegins, 0);
    if (!extractFolder_.empty()) Log(u"folders", u"extract folder " + extractFolder_);
    HResult waitResult = kResultOk;
    if (CancelRequested(500, waitResult)) return kResultAbort;
    return result;
}

HResult ExtractionJob::ExtractAndLock() {
    const PackageSettings& settings = package_.settings;
    // The extract folder was made new by PrepareDestination.
    runFolder_ = settings.SpecifiedExtractFolder ? extractFolder_ + u"\\"
                                                 : workFolder_ + u"Package\\";
    if (!settings.SpecifiedExtractFolder && Failed(CreateNewFolder(runFolder_))) {
        return kResultFolderNotCreated;
    }

    const ExecutionSettings& execution = ChooseExecutionSettings(settings);
    package_.fingerprintPath = execution.FileName;
    const HResult extracted = package_.ExtractAll(runFolder_, cancelEvent_.Get());
    Log(u"extraction", u"files written to " + runFolder_ + u" with " +
                           CodeText(static_cast<std::uint32_t>(extracted)));
    RETURN_IF_FAILED(extracted);

    // The lock covers the GUID work folder, and Support and Package with it,
    // so that neither can be renamed away and replaced; it comes first,
    // since its reset clears what is below.
    CreateWritableItems(runFolder_, settings.WritableItems, package_.destinationFiles);
    const AccessControlFunctions& access = options_.accessControl;
    bool locked = Succeeded(SetTreeAccess(workFolder_, false, access));
    if (settings.SpecifiedExtractFolder) {
        locked = Succeeded(SetTreeAccess(runFolder_, false, access)) && locked;
    }
    UnlockWritableItems(runFolder_, settings.WritableItems, access);
    Log(u"lock", locked ? u"the tree is locked" : u"the tree could not be locked");
    // A tree others could still change must not feed a program that runs
    // with more rights than they have.
    if (!locked && (options_.runIsPrivileged() || execution.ForceElevation)) {
        return kResultTreeNotLocked;
    }
    return kResultOk;
}

HResult ExtractionJob::CheckExtractedTree(const std::u16string& workRoot,
                                          std::uint64_t programSize, bool& errorReported) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    extractedFilesLog_ = workRoot + u"\\" +
                         ExtractedFilesLogName(now.wYear, now.wMonth, now.wDay, now.wHour,
                                               now.wMinute, now.wSecond, now.wMilliseconds);
    const HResult destinationCheck = package_.WriteExtractedFilesLog(
        0, extractedFilesLog_, options_.programPath, programSize);
    const HResult supportCheck = package_.WriteExtractedFilesLog(
        1, extractedFilesLog_, options_.programPath, programSize);
    const HResult result = Failed(destinationCheck) ? destinationCheck : supportCheck;
    Log(u"integrity", u"checked with " + CodeText(static_cast<std::uint32_t>(result)) +
                          u"; the extracted-files log is " + extractedFilesLog_);
    if (Succeeded(result) || !options_.askAfterIntegrityFailure) return result;
    if (ReportError(result, 0) != DialogAnswer::Proceed) {
        errorReported = true;
        return result;
    }
    return kResultOk;
}

bool ExtractionJob::CheckFreeSpace(std::uint64_t required, const std::u16string& folder,
                                   bool& errorReported) {
    std::uint64_t available = 0;
    if (!QueryFreeBytes(folder, available, options_.diskFreeSpace) ||
        HasEnoughFreeSpace(available, required)) {
        return true;
    }
    const std::u16string drive = DriveText(folder);
    if (dialogWindow_ && ReportError(kResultNotEnoughSpace, reinterpret_cast<LPARAM>(Wide(drive))) ==
                             DialogAnswer::Proceed) {
        return true;
    }
    errorReported = true;
    return false;
}

HResult ExtractionJob::PrepareDestination(std::uint64_t required,
                                          std::u16string& extractFolderPath,
                                          bool& errorReported) {
    const PackageSettings& settings = package_.settings;
    if (!settings.SpecifiedExtractFolder) return kResultOk;
    const std::u16string& programPath = options_.programPath;

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

    if (dialogWindow_ && !options_.silent && settings.SelectExtractFolder) {
        FolderChoiceRecord choice = {Wide(parent), Wide(folderName), Wide(settings.ProductName),
                                     std::u16string()};
        if (CallDialog(kMsgChooseFolder, 0, reinterpret_cast<LPARAM>(&choice), 1) !=
            DialogAnswer::Proceed) {
            errorReported = true;
            return kResultCancelledByUser;
        }
        parent = choice.chosen;
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
    FolderSecurity userReadable(options_.accessControl.runIdentity(), true);
    if (!userReadable.Attributes() ||
        Failed(CreateNewFolder(candidate, userReadable.Attributes()))) {
        return kResultFolderNotCreated;
    }
    extractFolderPath = candidate;
    return kResultOk;
}

HResult ExtractionJob::CheckRestrictions(bool& errorReported) {
    const RestrictionCheck check = {package_.settings,
                                    options_.programPath,
                                    versionWords_,
                                    cancelEvent_.Get(),
                                    options_.askAfterRestrictionFailure,
                                    AskAboutFailure(),
                                    options_.restrictionFunctions};
    return quarry::CheckRestrictions(check, errorReported);
}

HResult ExtractionJob::Execute(const std::u16string& arguments) {
    // The deadline of the in-use wait counts from here, so the launch and
    // the wait for the program count against it.
    const DWORD startTick = ::GetTickCount();
    const ExecutionSettings& execution = ChooseExecutionSettings(package_.settings);
    if (execution.FileName.empty()) {
        Log(u"launch", u"no file is configured: nothing is started");
        return kResultNothingRun;
    }
    const std::u16string filePath = runFolder_ + execution.FileName;
    if (!IsExistingFile(supportFolder_ + u"Settings.ini") || !IsExistingFile(filePath)) {
        Log(u"launch", u"the file or the settings copy is missing: nothing is started");
        return kResultNothingRun;
    }

    std::u16string argumentString;
    HResult result = PrepareArgumentString(package_.settings, execution, options_.silent,
                                           arguments, runFolder_, workFolder_, argumentString);
    if (Succeeded(result)) {
        // The file that starts is the file that was extracted: held, with the
        // folders above it, from the check of its content until the run-mode
        // copy has ended, so that nobody can write, rename or replace it.
        std::vector<UniqueFile> held;
        result = package_.HoldLaunchFile(execution.FileName, extractedFilesLog_,
                                         options_.programPath,
                                         GetFileSize64(options_.programPath), held);
        if (Failed(result) && ReportError(result, 0) == DialogAnswer::Proceed &&
            options_.askAfterIntegrityFailure) {
            result = kResultOk;
        }
        // A cancel or a close that came after the pause is still one before
        // the launch: the dialog learns of the launch only from the worker,
        // and took it as such. Nothing starts, and the code says so.
        if (Succeeded(result) && Cancelled()) {
            Log(u"cancel", u"cancelled before the launch");
            result = kResultCancelledByUser;
        }
        if (Succeeded(result)) {
            const std::uint32_t waitSeconds = execution.waitTimed ? execution.WaitTimeout : 0;
            result = LaunchAndWait(filePath, argumentString, execution.ForceElevation, waitSeconds);
        }
    }
    // Whether or not anything was started, files of the package may still be
    // held open; this wait does not change the result.
    WaitForFilesReleased(startTick, execution);
    return result;
}

HResult ExtractionJob::LaunchAndWait(const std::u16string& filePath,
                                     const std::u16string& arguments, bool forceElevation,
                                     std::uint32_t waitSeconds) {
    LaunchRequest launch;
    launch.programPath = options_.programPath;
    launch.runFolder = runFolder_;
    launch.filePath = filePath;
    launch.arguments = arguments;
    launch.forceElevation = forceElevation;
    launch.silent = options_.silent;
    launch.waitSeconds = waitSeconds;
    launch.cancelEvent = cancelEvent_.Get();
    if (options_.log) launch.logPath = options_.log->Path();
    Log(u"launch", u"\"" + filePath + u"\" " + arguments +
                       (forceElevation ? u" (elevated)" : u""));
    Post(kMsgLaunching, 0);
    const HResult result = quarry::LaunchAndWait(launch, options_.launchFunctions);
    Log(u"launch", u"ended with " + CodeText(static_cast<std::uint32_t>(result)) +
                       u"; the file's exit code is " + CodeText(ReadExitCodeSlot()));
    Post(kMsgLaunchEnded, static_cast<WPARAM>(result));
    return result;
}

void ExtractionJob::WaitForFilesReleased(DWORD executeStartTick,
                                         const ExecutionSettings& execution) {
    const ReleaseWait wait = {workFolder_,        runFolder_,         execution,
                              executeStartTick,   cancelEvent_.Get(), options_.inUseWait,
                              options_.accessControl};
    const HResult released = quarry::WaitForFilesReleased(wait);
    if (Failed(released)) {
        Log(u"wait", u"the extracted files were not released: " +
                         CodeText(static_cast<std::uint32_t>(released)));
    }
}

HResult ExtractionJob::ShowExtractFolder() {
    if (!package_.settings.OpenExtractFolder) return kResultNothingRun;
    // Without an extract folder the files stay in the work folder: there is
    // nothing for the user to see, and the path would name the root of the
    // current drive.
    if (extractFolder_.empty()) return kResultNothingRun;
    RETURN_IF_FAILED(OpenExtractFolder(extractFolder_, options_.libraryGuard));
    Post(kMsgExtractFolderOpened, 0);
    return kResultOk;
}

void ExtractionJob::Cleanup(bool removeExtractFolder) {
    // The hold shares no deletion: it must go before the folder can.
    workFolderHold_.Reset();
    if (!workFolder_.empty()) {
        SetTreeAccess(workFolder_, true, options_.accessControl);
        DeleteTree(workFolder_);
    }
    if (removeExtractFolder && !extractFolder_.empty()) {
        SetTreeAccess(extractFolder_, true, options_.accessControl);
        DeleteTree(extractFolder_);
    }
}

}  // namespace quarry
