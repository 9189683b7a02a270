// Table-driven checks of a function of one text: every case is checked, and
// a failure names the input it came from.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "common/Text.h"

namespace quarry {
namespace testing {

// Expects function(input) == expected for each {input, expected}.
template <typename Expected, typename Function>
void ExpectEachResult(Function function,
                      std::initializer_list<std::pair<std::u16string, Expected>> cases) {
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(Utf16ToUtf8(input));
        EXPECT_EQ(expected, function(input));
    }
}

}  // namespace testing
}  // namespace quarry
