// Compatibility entries for the program file: a value named by the file's
// full path under the AppCompatFlags keys makes Windows run the program in a
// compatibility mode, which reports an older Windows to it.
#pragma once

#include <windows.h>

#include <string>

#include "common/Result.h"

namespace quarry {

// The processor type of the computer (GetNativeSystemInfo), replaceable so
// that a test can pose as a 32-bit or 64-bit computer.
struct CompatibilityFunctions {
    WORD (*nativeProcessorArchitecture)() = nullptr;  // null: GetNativeSystemInfo
};

// True when a value named `programPath` exists in any of the four places:
// HKEY_CURRENT_USER's Compatibility Assistant "Persisted" and "Layers" keys,
// HKEY_LOCAL_MACHINE's "Layers" key, and on a 64-bit processor (AMD64 or
// IA64) the same key in the 64-bit view. A key that cannot be opened holds
// no entry.
bool IsCompatibilityEntryPresent(const std::u16string& programPath,
                                 const CompatibilityFunctions& functions = {});

// Deletes the value named `programPath` from the same places, opened with
// write access. 0 when every value is gone or was never there, where a key
// that cannot be opened for any reason but ERROR_ACCESS_DENIED counts as
// fine; otherwise the first error met. Callers test again with
// IsCompatibilityEntryPresent instead.
HResult RemoveCompatibilityEntries(const std::u16string& programPath,
                                const CompatibilityFunctions& functions = {});

}  // namespace quarry
