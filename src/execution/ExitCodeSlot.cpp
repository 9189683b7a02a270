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

}  // namespace quarry
