#include "ui/StringFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "common/Result.h"
#include "common/Text.h"

namespace quarry {
namespace {

struct FormatCase {
    const char16_t* format;
    std::vector<FormatArgument> arguments;
    const char16_t* expected;
};

TEST(StringFormat, ReplacesEachDirectiveWithItsArgumentInOrder) {
    const std::u16string owned = u"owned text";
    const std::vector<FormatCase> cases = {
        {u"no directives", {}, u"no directives"},
        {u"", {}, u""},
        {u"[%s]", {u"text"}, u"[text]"},
        {u"[%s]", {owned}, u"[owned text]"},
        {u"[%s]", {std::u16string_view()}, u"[]"},
        {u"[%s]", {static_cast<const char16_t*>(nullptr)}, u"[]"},
        {u"%d", {0}, u"0"},
        {u"%d", {1234567}, u"1234567"},
        {u"%d", {-42}, u"-42"},
        {u"%d", {std::numeric_limits<std::int32_t>::min()}, u"-2147483648"},
        {u"%d", {std::numeric_limits<std::int32_t>::max()}, u"2147483647"},
        {u"%d", {0xFFFFFFFFu}, u"-1"},
        {u"%08x", {0x80040006u}, u"80040006"},
        {u"%08x", {0x1F}, u"0000001f"},
        {u"%08x", {-1}, u"ffffffff"},
        {u"%08x", {0xABCDEF01u}, u"abcdef01"},
        {u"100%%", {}, u"100%"},
        {u"%%s", {}, u"%s"},
        {u"%%%s", {u"x"}, u"%x"},
        {u"version %d.%d build %d", {6, 1, 7601}, u"version 6.1 build 7601"},
        {u"%s:%d:%08x:%s", {u"a", 2, 3, u"d"}, u"a:2:00000003:d"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatString(c.format, c.arguments), c.expected) << "format: " << Utf16ToUtf8(c.format);
    }
}

TEST(StringFormat, FramesDetailAndCodeOfAnErrorReport) {
    EXPECT_EQ(FormatString(u"This package could not be deployed to this computer.\r\n%s\r\n(Code = 0x%08x)",
                           {u"The detail.", 0x80040006u}),
              u"This package could not be deployed to this computer.\r\nThe detail.\r\n(Code = 0x80040006)");
}

TEST(StringFormat, CopiesOtherPercentSequencesAndTakesNoArgumentForThem) {
    // "%1" is a FormatMessage-style insert, not a directive of ours.
    EXPECT_EQ(FormatString(u"Delete \"%1\" file", {}), u"Delete \"%1\" file");
    EXPECT_EQ(FormatString(u"%1 then %s", {u"x"}), u"%1 then x");
    EXPECT_EQ(FormatString(u"%x %8x %08d %0", {}), u"%x %8x %08d %0");
    EXPECT_EQ(FormatString(u"ends with %", {}), u"ends with %");
}

TEST(StringFormat, IgnoresArgumentsLeftOver) {
    EXPECT_EQ(FormatString(u"%s", {u"used", u"unused", 5}), u"used");
}

TEST(StringFormat, RefusesMissingOrMismatchedArguments) {
    const std::vector<std::pair<const char16_t*, std::vector<FormatArgument>>> cases = {
        {u"%s", {}},
        {u"%d", {}},
        {u"%08x", {}},
        {u"%s %s", {u"one"}},
        {u"%s", {5}},
        {u"%d", {u"text"}},
        {u"%08x", {u"text"}},
        {u"%d %s", {1, 2}},
    };
    for (const auto& c : cases) {
        try {
            FormatString(c.first, c.second);
            ADD_FAILURE() << "no error for " << Utf16ToUtf8(c.first);
        } catch (const ResultError& error) {
            EXPECT_EQ(error.code, kResultInvalidArg);
        }
    }
}

}  // namespace
}  // namespace quarry
