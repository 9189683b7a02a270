// What the user answered a question the worker put through the run's
// dialog, and the form in which a step asks about a failure.
#pragma once

#include <cstdint>
#include <functional>

#include "common/Result.h"

namespace quarry {

enum class DialogAnswer {
    Proceed,    // Yes, or OK where OK means go on
    Decline,    // any other answer, or nothing was asked
    Cancelled,  // the run was cancelled while the question was open
    Failed,     // the question could not be put
};

// Shows the error report for `code` (its detail in `argument`: a text, a
// version record or 0) and returns the answer; Decline where there is no
// one to ask.
using FailureQuestion = std::function<DialogAnswer(HResult code, std::intptr_t argument)>;

}  // namespace quarry
