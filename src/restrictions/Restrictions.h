// What the restriction checks of ExtractionJob::CheckRestrictions ask of the
// system, replaceable by a test: the signature verdict, the query for the
// computer's manufacturer and how long to wait for it, and the processor
// type behind the compatibility entries. The defaults are the system's.
#pragma once

#include <windows.h>

#include <string>

#include "restrictions/Compatibility_win.h"
#include "restrictions/ComputerSystem_win.h"

namespace quarry {

// The program file's signature, and its first signer's name when
// `signerName` is not empty.
bool VerifyProgramSignature(const std::u16string& path, const std::u16string& signerName);

struct RestrictionFunctions {
    bool (*verifySignature)(const std::u16string& path,
                            const std::u16string& signerName) = VerifyProgramSignature;
    ComputerSystemReader readComputerSystem = ReadComputerSystemFromWmi;
    DWORD computerSystemWait = kComputerSystemWaitMilliseconds;
    CompatibilityFunctions compatibility;
};

}  // namespace quarry
