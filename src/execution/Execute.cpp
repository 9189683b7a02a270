#include "workflow/ExtractionJob.h"

namespace quarry {

// Pass-through: building the command, launching it through the run-mode copy
// and the wait for the extracted files are not part of this build yet, so
// nothing is run (1).
HResult ExtractionJob::Execute(const std::u16string& /*arguments*/) { return kResultNothingRun; }

}  // namespace quarry
