#include "common/Result.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace quarry {
namespace {

// What the body returns passes through; what it throws of the two failures
// the design lets throw becomes its result; anything else is not caught.
TEST(Result, CatchAllocationFailuresTurnsOnlyTheAllowedThrowsIntoResults) {
    const struct {
        const char* what;
        HResult (*body)();
        HResult expected;
    } cases[] = {
        {"returned success", [] { return kResultNothingRun; }, kResultNothingRun},
        {"returned failure", [] { return kResultInvalidArg; }, kResultInvalidArg},
        {"ResultError", []() -> HResult { throw ResultError{kResultFail}; }, kResultFail},
        {"bad_alloc", []() -> HResult { throw std::bad_alloc(); }, kResultOutOfMemory},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, CatchAllocationFailures(c.body)) << c.what;
    }
    EXPECT_THROW(CatchAllocationFailures([]() -> HResult { throw std::logic_error("bug"); }),
                 std::logic_error);
}

}  // namespace
}  // namespace quarry
