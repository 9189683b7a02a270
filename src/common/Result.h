// Result codes and early-exit helpers shared by every layer.
//
// Operations return 32-bit HRESULT-style codes: 0 is success, negative is
// failure, and 1 is the success value of a step that ran nothing. This header
// includes no windows.h, so the pure code can use it on any platform.
#pragma once

#include <cstdint>
#include <new>

namespace quarry {

using HResult = std::int32_t;

constexpr HResult MakeResult(std::uint32_t value) { return static_cast<HResult>(value); }

constexpr HResult kResultOk = 0;
constexpr HResult kResultNothingRun = 1;

// The program's own codes.
constexpr HResult kResultRunRequestMissing = MakeResult(0x80040000);
constexpr HResult kResultRunRequestMalformed = MakeResult(0x80040001);
constexpr HResult kResultCancelledByUser = MakeResult(0x80040002);
constexpr HResult kResultGuestUser = MakeResult(0x80040004);
constexpr HResult kResultGenericFailure = MakeResult(0x80040005);
constexpr HResult kResultPackageUnreadable = MakeResult(0x80040006);
constexpr HResult kResultSignatureInvalid = MakeResult(0x80040007);
constexpr HResult kResultWrongManufacturer = MakeResult(0x80040008);
constexpr HResult kResultNotMakersComputer = MakeResult(0x80040009);
constexpr HResult kResultWindowsTooOld = MakeResult(0x8004000A);
constexpr HResult kResultCompatibilityMode = MakeResult(0x8004000B);
constexpr HResult kResultCompatibilityModeRemoved = MakeResult(0x8004000C);
constexpr HResult kResultFilesChanged = MakeResult(0x8004000D);
// The extracted tree could not be locked against other users while the
// file would run elevated or as SYSTEM: nothing guards it from change.
constexpr HResult kResultTreeNotLocked = kResultFilesChanged;
// 0x80040100: the tree differs but no difference could be listed (a folder
// could not be enumerated). 0x80040110, 0x80040120 and 0x80040130 plus a
// severity of 0 to 15 name changed, deleted and created files.
constexpr HResult kResultTreeMismatch = MakeResult(0x80040100);
constexpr HResult kResultTreeFileChanged = MakeResult(0x80040110);
constexpr HResult kResultTreeFileDeleted = MakeResult(0x80040120);
constexpr HResult kResultTreeFileCreated = MakeResult(0x80040130);
constexpr HResult kResultNotEnoughSpace = MakeResult(0x8004000E);
constexpr HResult kResultFolderNotCreated = MakeResult(0x8004000F);

// Platform codes the program produces itself.
constexpr HResult kResultFail = MakeResult(0x80004005);          // E_FAIL
constexpr HResult kResultAbort = MakeResult(0x80004004);         // E_ABORT
constexpr HResult kResultUnexpected = MakeResult(0x8000FFFF);    // E_UNEXPECTED
constexpr HResult kResultOutOfMemory = MakeResult(0x8007000E);   // E_OUTOFMEMORY
constexpr HResult kResultInvalidArg = MakeResult(0x80070057);    // E_INVALIDARG
constexpr HResult kResultFileNotFound = MakeResult(0x80070002);  // ERROR_FILE_NOT_FOUND
constexpr HResult kResultBadEnvironment = MakeResult(0x8007000A);  // ERROR_BAD_ENVIRONMENT
constexpr HResult kResultWriteFault = MakeResult(0x8007001D);    // ERROR_WRITE_FAULT
constexpr HResult kResultReadFault = MakeResult(0x8007001E);     // ERROR_READ_FAULT
constexpr HResult kResultNotReady = MakeResult(0x80070015);      // ERROR_NOT_READY
constexpr HResult kResultOpenFailed = MakeResult(0x8007006E);    // ERROR_OPEN_FAILED
constexpr HResult kResultElevationCancelled = MakeResult(0x800704C7);  // ERROR_CANCELLED

constexpr bool Failed(HResult hr) { return hr < 0; }
constexpr bool Succeeded(HResult hr) { return hr >= 0; }

// The results that mean the user cancelled: a cancel seen by the worker, a
// refused elevation, or the user's cancel itself.
constexpr bool IsCancellation(HResult hr) {
    return hr == kResultAbort || hr == kResultElevationCancelled || hr == kResultCancelledByUser;
}

// A Win32 error number as a result code; 0 (no error recorded) becomes
// E_FAIL so that a failed call never reads as success.
constexpr HResult ResultFromWin32(std::uint32_t error) {
    return error == 0 ? kResultFail
                      : static_cast<HResult>((error & 0xFFFFu) | 0x80070000u);
}

}  // namespace quarry

#define RETURN_IF_FAILED(expr)                        \
    do {                                              \
        const ::quarry::HResult hrTmp_ = (expr);      \
        if (::quarry::Failed(hrTmp_)) return hrTmp_;  \
    } while (0)

namespace quarry {

// Raised only where storage for strings or memory cannot be had; the worker
// catches it at the level of its extraction phase.
struct ResultError {
    HResult code;
};

// The one place where the allocation failures the design lets throw become
// results: runs `body`, which returns an HResult, and returns its result, the
// code of a ResultError it raised, or 0x8007000E for std::bad_alloc.
template <typename Body>
HResult CatchAllocationFailures(Body&& body) {
    try {
        return body();
    } catch (const ResultError& error) {
        return error.code;
    } catch (const std::bad_alloc&) {
        return kResultOutOfMemory;
    }
}

}  // namespace quarry
