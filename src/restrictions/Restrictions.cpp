#include "workflow/ExtractionJob.h"

namespace quarry {

// Pass-through: the signature, manufacturer, Windows version and
// compatibility-mode checks are not part of this build yet; every package
// may run.
HResult ExtractionJob::CheckRestrictions(bool& /*errorReported*/) { return kResultOk; }

}  // namespace quarry
