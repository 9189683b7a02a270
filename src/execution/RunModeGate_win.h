// The facts behind run mode's choice of caller (RunModeGate.h), taken from
// the system: the parent process from the process list, and each process's
// program file and creation time.
#pragma once

#include <windows.h>

#include "execution/RunModeGate.h"

namespace quarry {

// The parent process id that the process list (Toolhelp) gives for
// `processId`; false when the list cannot be taken or does not hold it.
bool ParentProcessId(DWORD processId, DWORD& parentId);

// The program file (QueryFullProcessImageNameW where the system has it,
// Windows Vista on, else GetModuleFileNameExW) and the creation time of a
// live process; false when it cannot be opened or either is unknown.
bool ReadProcessIdentity(DWORD processId, ProcessIdentity& identity);

// Replaceable so that a test can pose as a caller Wine cannot make, such as
// the elevated copy whose parent is the process that asked for elevation.
// The defaults are the system's.
struct RunModeGateFunctions {
    bool (*parentProcessId)(DWORD processId, DWORD& parentId) = ParentProcessId;
    bool (*processIdentity)(DWORD processId, ProcessIdentity& identity) = ReadProcessIdentity;
};

// Whether the current process was started by a copy of its own program
// file (AcceptsRunRequest) as the functions tell it.
bool IsStartedBySameProgram(const RunModeGateFunctions& functions);

}  // namespace quarry
