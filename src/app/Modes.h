// The two process roles of quarry.exe. Each returns the process exit code.
#pragma once

#include <string>

#include "common/Result.h"

namespace quarry {

class LibrarySearchGuard;

// Extraction mode: what a double-click or a deployment tool starts.
// `libraryGuard` is the process's library-search guard, or null; `logPath`
// the field log's file ("-log"), or empty for none.
HResult RunExtractionMode(const std::u16string& extraArguments, bool silent,
                          bool askAfterIntegrityFailure, bool askAfterRestrictionFailure,
                          LibrarySearchGuard* libraryGuard, const std::u16string& logPath);

struct RunModeGateFunctions;

// Run mode: the second copy that starts the configured file and waits for it.
// It takes the request only from the extraction-mode copy of its own program
// file, its parent process (RunModeGate.h): from anyone else it ends with
// 0x80040001 before it starts anything. The second form asks `gate` instead
// of the system who that parent is.
HResult RunExecutor(const std::u16string& runEventGuid, const std::u16string& runRequest,
                    const std::u16string& extraArguments);
HResult RunExecutor(const std::u16string& runEventGuid, const std::u16string& runRequest,
                    const std::u16string& extraArguments, const RunModeGateFunctions& gate);

}  // namespace quarry
