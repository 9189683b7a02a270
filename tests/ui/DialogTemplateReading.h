// Reading dialog templates in tests: the layout, failing the test when the
// bytes are not a template, and the bytes of the items.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ui/DialogTemplate.h"

namespace quarry {
namespace testing {

inline DialogTemplateLayout Read(const std::vector<std::uint8_t>& bytes) {
    const std::optional<DialogTemplateLayout> layout = ReadDialogTemplate(bytes.data(), bytes.size());
    EXPECT_TRUE(layout.has_value());
    return layout.value_or(DialogTemplateLayout{});
}

// The items region: from the first item's 4-byte boundary to the end.
inline std::vector<std::uint8_t> ItemBytes(const std::vector<std::uint8_t>& bytes) {
    return std::vector<std::uint8_t>(bytes.begin() + Read(bytes).itemsOffset, bytes.end());
}

}  // namespace testing
}  // namespace quarry
