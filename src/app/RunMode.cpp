#include "app/Modes.h"

namespace quarry {

// Run mode is not part of this build yet: it starts nothing and reports a
// missing request, the code a caller already has to handle.
HResult RunExecutor(const std::u16string& /*runEventGuid*/,
                    const std::u16string& /*runRequest*/,
                    const std::u16string& /*extraArguments*/) {
    return kResultRunRequestMissing;
}

}  // namespace quarry
