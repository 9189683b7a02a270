// The process-wide exit code of the started program: 0 at start, 259 while
// the run-mode copy runs, then its exit code. Extraction mode ends with it
// when the dialog ends without a failure of its own.
#pragma once

#include <windows.h>

namespace quarry {

constexpr DWORD kExitCodeStillRunning = 259;  // STILL_ACTIVE

DWORD ReadExitCodeSlot();
void WriteExitCodeSlot(DWORD code);

}  // namespace quarry
