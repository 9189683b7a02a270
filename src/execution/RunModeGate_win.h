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

// The same facts from the system's process list (NtQuerySystemInformation),
// which needs no handle to the process: the image path in the system's own
// form ("\Device\HarddiskVolume2\..."). False where the system does not
// give them (before Windows Vista).
bool ReadListedProcessIdentity(DWORD processId, ProcessIdentity& identity);

// Replaceable so that a test can pose as a caller Wine cannot make, such as
// the elevated copy whose parent is the process that asked for elevation.
// The defaults are the system's.
struct RunModeGateFunctions {
    bool (*parentProcessId)(DWORD processId, DWORD& parentId) = ParentProcessId;
    bool (*processIdentity)(DWORD processId, ProcessIdentity& identity) = ReadProcessIdentity;
    bool (*listedProcessIdentity)(DWORD processId, ProcessIdentity& identity) =
        ReadListedProcessIdentity;
};

// Whether the current process was started by a copy of its own program
// file (AcceptsRunRequest) as the functions tell it. Both processes are read
// the same way, so that both paths have one form: through a handle first,
// and from the process list when either cannot be opened, as the parent
// cannot by an elevated copy that runs under another account (an
// administrator's name typed into the consent prompt of a standard user).
bool IsStartedBySameProgram(const RunModeGateFunctions& functions);

}  // namespace quarry
