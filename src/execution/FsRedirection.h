// File-system redirection of a 32-bit process on 64-bit Windows: while it is
// on, the system folder names the 32-bit folder. Run mode switches it off
// around the start of a program that lives in the system folder.
#pragma once

#include <windows.h>

#include "common/Unique.h"

namespace quarry {

struct FsRedirection {
    bool off = false;
    UniqueModule kernel32;          // loaded by DisableFsRedirection
    void* previousState = nullptr;  // handed back to the revert function
};

// Switches redirection off unless it is already off. Where the system has no
// redirection (32-bit Windows) nothing changes and `off` stays false.
void DisableFsRedirection(FsRedirection& state);
// Switches it back on when DisableFsRedirection switched it off, and
// releases kernel32 again.
void RevertFsRedirection(FsRedirection& state);

}  // namespace quarry
