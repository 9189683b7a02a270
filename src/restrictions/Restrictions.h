// The restriction checks of a run: signature, manufacturer, Windows version
// and build, compatibility mode. What they ask of the system is replaceable
// by a test: the signature verdict, the query for the computer's
// manufacturer and how long to wait for it, and the processor type behind
// the compatibility entries. The defaults are the system's.
#pragma once

#include <windows.h>

#include <string>

#include "common/DialogAnswer.h"
#include "common/Result.h"
#include "restrictions/Compatibility_win.h"
#include "restrictions/ComputerSystem_win.h"
#include "restrictions/WindowsVersion.h"
#include "settings/PackageSettings.h"

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

// What the checks look at.
struct RestrictionCheck {
    const PackageSettings& settings;
    const std::u16string& programPath;
    WindowsVersionWords version;
    // Ends the wait for the computer's manufacturer.
    HANDLE cancelEvent = nullptr;
    // Whether a failure is put to the user as a question.
    bool askAfterFailure = false;
    FailureQuestion ask;
    const RestrictionFunctions& functions;
};

// Signature, manufacturer, Windows version and build, compatibility mode,
// in this order; 0 or the first failure's code (0x80040007 to 0x8004000C).
// With askAfterFailure a failure is asked about and a Yes goes on; the
// Windows version failure is always shown. `errorReported` is set when the
// user saw the failure; a cancel while asking ends with 0x80004004.
HResult CheckRestrictions(const RestrictionCheck& check, bool& errorReported);

}  // namespace quarry
