// Authenticode checks on a file: the platform's verdict on its signature and
// the display name of its first signer. wintrust.dll and crypt32.dll are
// loaded on first use by full path from the system folder; neither is in the
// program's import table, where the loader would look for them beside the
// program before any of our code runs.
#pragma once

#include <windows.h>

#include <string>

namespace quarry {

// The trust call, replaceable by a test: Wine's WinVerifyTrust checks the
// digest only, so the verdicts on an untrusted root, an expired certificate
// or a wrong key usage can be shown only on Windows.
LONG WINAPI SystemWinVerifyTrust(HWND window, GUID* action, LPVOID data);

struct SignatureFunctions {
    // The system's WinVerifyTrust, loaded on first use; it answers
    // TRUST_E_PROVIDER_UNKNOWN when wintrust.dll cannot be loaded.
    LONG(WINAPI* winVerifyTrust)(HWND window, GUID* action, LPVOID data) = SystemWinVerifyTrust;
};

// True when WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2, no user
// interface, no revocation checks) returns 0 for the file. False for an empty
// path, or when wintrust.dll cannot be loaded.
bool VerifyFileSignature(const std::u16string& path,
                         const SignatureFunctions& functions = SignatureFunctions());

// True when the simple display name of the file's first signer equals
// `expectedName`, letter case included. False for an empty path.
bool SignerNameMatches(const std::u16string& path, const std::u16string& expectedName);

// The simple display name of the file's first signer in `name`, cut to 1023
// characters; false and an empty `name` when the file carries no readable
// signature.
bool ReadSignerName(const std::u16string& path, std::u16string& name);

// VerifyFileSignature and then, only when it succeeded, SignerNameMatches.
bool VerifySignatureAndSigner(const std::u16string& path, const std::u16string& expectedName,
                              const SignatureFunctions& functions = SignatureFunctions());

}  // namespace quarry
