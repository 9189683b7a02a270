#include "workflow/ExtractionJob.h"

#include "common/WinFile.h"
#include "execution/Command_win.h"
#include "execution/ExitCodeSlot.h"
#include "workflow/DialogMessages.h"
#include "workflow/Folders.h"

namespace quarry {

namespace {
volatile LONG gExitCodeSlot = 0;
}  // namespace

DWORD ReadExitCodeSlot() {
    return static_cast<DWORD>(::InterlockedCompareExchange(&gExitCodeSlot, 0, 0));
}

void WriteExitCodeSlot(DWORD code) {
    ::InterlockedExchange(&gExitCodeSlot, static_cast<LONG>(code));
}

HResult ExtractionJob::Execute(const std::u16string& arguments) {
    // The deadline of the in-use wait counts from here, so the launch and
    // the wait for the program count against it.
    const DWORD startTick = ::GetTickCount();
    const ExecutionSettings& execution = ChooseExecutionSettings(package.settings);
    if (execution.FileName.empty()) return kResultNothingRun;
    const std::u16string filePath = runFolder + execution.FileName;
    if (!IsExistingFile(supportFolder + u"Settings.ini") || !IsExistingFile(filePath)) {
        return kResultNothingRun;
    }

    std::u16string argumentString;
    HResult result = PrepareArgumentString(package.settings, execution, silent, arguments,
                                           runFolder, workFolder, argumentString);
    if (Succeeded(result)) {
        // The file that starts is the file that was extracted: held, with the
        // folders above it, from the check of its content until the run-mode
        // copy has ended, so that nobody can write, rename or replace it.
        std::vector<UniqueFile> held;
        result = package.HoldLaunchFile(execution.FileName, extractedFilesLog, programPath,
                                        GetFileSize64(programPath), held);
        if (Failed(result) && ReportError(result, 0) == kAnswerYes && askAfterIntegrityFailure) {
            result = kResultOk;
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

}  // namespace quarry
