// The two process roles of quarry.exe. Each returns the process exit code.
#pragma once

#include <string>

#include "common/Result.h"

namespace quarry {

// Extraction mode: what a double-click or a deployment tool starts.
HResult RunExtractionMode(const std::u16string& extraArguments, bool silent,
                          bool askAfterIntegrityFailure, bool askAfterRestrictionFailure);

// Run mode: the second copy that starts the configured file and waits for it.
HResult RunExecutor(const std::u16string& runEventGuid, const std::u16string& runRequest,
                    const std::u16string& extraArguments);

}  // namespace quarry
