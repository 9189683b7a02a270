#include "workflow/ExtractionJob.h"

#include "execution/ExitCodeSlot.h"

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

// Pass-through: building the command, launching it through the run-mode copy
// and the wait for the extracted files are not part of this build yet, so
// nothing is run (1) and the exit-code slot keeps its 0.
HResult ExtractionJob::Execute(const std::u16string& /*arguments*/) { return kResultNothingRun; }

}  // namespace quarry
