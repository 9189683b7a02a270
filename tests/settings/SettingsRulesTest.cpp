#include "settings/SettingsRules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "common/CaseTable.h"
#include "common/Text.h"

namespace quarry {
namespace {

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

// --- Raw read -------------------------------------------------------------

TEST(SettingsRules, EmptyTextAndTheErrorSentinelAreAbsent) {
    EXPECT_FALSE(PresentSettingsValue(u""));
    EXPECT_FALSE(PresentSettingsValue(u"Error"));
}

TEST(SettingsRules, SentinelComparisonIsCaseSensitiveAndExact) {
    const std::u16string values[] = {u"error", u"ERROR", u"Error ", u" Error", u"Errors",
                                     u"Erro", u"x", u" "};
    for (const std::u16string& value : values) {
        SCOPED_TRACE(Narrow(value));
        const auto present = PresentSettingsValue(value);
        ASSERT_TRUE(present);
        EXPECT_EQ(value, *present);
    }
}

TEST(SettingsRules, LongTextIsCutTo511Characters) {
    struct Case {
        std::size_t length;
        std::size_t kept;
    };
    const Case cases[] = {{510, 510}, {511, 511}, {512, 511}, {600, 511}, {5000, 511}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::u16string text;
        for (std::size_t i = 0; i < c.length; ++i) text += static_cast<char16_t>(u'a' + i % 26);
        const auto present = PresentSettingsValue(text);
        ASSERT_TRUE(present);
        EXPECT_EQ(text.substr(0, c.kept), *present);
    }
}

TEST(SettingsRules, CutHappensBeforeTheSentinelTest) {
    // What the reader would have returned from a 511-character buffer is
    // what counts, so a long value beginning with "Error" is a value.
    const std::u16string text = u"Error" + std::u16string(600, u'!');
    const auto present = PresentSettingsValue(text);
    ASSERT_TRUE(present);
    EXPECT_EQ(511u, present->size());
}

// --- bool -------------------------------------------------------------------

TEST(SettingsRules, BoolIsTrueOnlyForTrueOrOne) {
    testing::ExpectEachResult<bool>(ParseSettingsBool, {
        {u"true", true},   {u"True", true},    {u"TRUE", true},   {u"tRuE", true},
        {u"1", true},      {u"yes", false},    {u"2", false},     {u"0", false},
        {u"false", false}, {u"", false},       {u"01", false},    {u"1.0", false},
        {u"0x1", false},   {u"truex", false},  {u"t", false},     {u" true", false},
        {u"true ", false}, {u"-1", false},     {u"on", false},    {u"Y", false},
    });
}

// --- numbers ----------------------------------------------------------------

TEST(SettingsRules, UnsignedReadsLikeWcstoulWithBaseZero) {
    testing::ExpectEachResult<std::uint32_t>(ParseSettingsUnsigned, {
        // Bases by prefix.
        {u"0", 0},
        {u"7", 7},
        {u"1500", 1500},
        {u"0x10", 16},
        {u"0X1f", 31},
        {u"0xABCDEF", 0xABCDEF},
        {u"0x00060001", 0x00060001},
        {u"010", 8},
        {u"0777", 511},
        {u"08", 0},    // "8" is no octal digit
        {u"019", 1},
        {u"00x10", 0}, // octal "00", then "x" ends it
        // Leading white space and a sign.
        {u" +7", 7},
        {u"\t\r\n 42", 42},
        {u"+0x10", 16},
        {u"+ 7", 0},
        {u"--1", 0},
        {u"+-1", 0},
        // Stops at the first character that does not fit.
        {u"12abc", 12},
        {u"3.9", 3},
        {u"1e3", 1},
        {u"1 2", 1},
        {u"0x1g", 1},
        {u"0x7fffFFFF", 0x7FFFFFFF},
        // No digits.
        {u"", 0},
        {u"abc", 0},
        {u"x10", 0},
        {u"0x", 0},
        {u"0xg", 0},
        {u"-", 0},
        {u"   ", 0},
        // "-" negates in unsigned arithmetic.
        {u"-1", 0xFFFFFFFF},
        {u"-0x10", 0xFFFFFFF0},
        {u"-4294967295", 1},
        {u"-0", 0},
        // Out of range saturates, whatever the sign.
        {u"4294967295", 0xFFFFFFFF},
        {u"0xFFFFFFFF", 0xFFFFFFFF},
        {u"4294967296", 0xFFFFFFFF},
        {u"0x100000000", 0xFFFFFFFF},
        {u"99999999999999999999999999", 0xFFFFFFFF},
        {u"-4294967296", 0xFFFFFFFF},
        {u"-99999999999999999999999999", 0xFFFFFFFF},
        // 2^64 + 1 must not wrap around to 1 on the way.
        {u"18446744073709551617", 0xFFFFFFFF},
    });
}

TEST(SettingsRules, SignedReadsLikeWcstolAndSaturates) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    testing::ExpectEachResult<std::int32_t>(ParseSettingsSigned, {
        {u"0", 0},
        {u"3", 3},
        {u"-1", -1},
        {u" -12abc", -12},
        {u"0x7", 7},
        {u"017", 15},
        {u"-0x10", -16},
        {u"abc", 0},
        {u"2147483647", kMax},
        {u"2147483648", kMax},
        {u"0x80000000", kMax},
        {u"4294967295", kMax},
        {u"99999999999999999999", kMax},
        {u"-2147483648", kMin},
        {u"-0x80000000", kMin},
        {u"-2147483649", kMin},
        {u"-99999999999999999999", kMin},
    });
}

TEST(SettingsRules, Int64ReadsLikeWcstoi64AndSaturates) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    testing::ExpectEachResult<std::int64_t>(ParseSettingsInt64, {
        {u"0", 0},
        {u"1234567890123", 1234567890123LL},
        {u"4294967296", 4294967296LL},  // beyond 32 bits
        {u"0x123456789", 0x123456789LL},
        {u"-1", -1},
        {u" +5000000000x", 5000000000LL},
        {u"0777777777777777777777", kMax},  // 63 one bits in octal
        {u"0777777777777777777776", kMax - 1},
        {u"01000000000000000000000", kMax},
        {u"9223372036854775807", kMax},
        {u"9223372036854775808", kMax},
        {u"0x7FFFFFFFFFFFFFFF", kMax},
        {u"0xFFFFFFFFFFFFFFFF", kMax},
        {u"18446744073709551616", kMax},
        {u"99999999999999999999999999999", kMax},
        {u"-9223372036854775807", kMin + 1},
        {u"-9223372036854775808", kMin},
        {u"-0x8000000000000000", kMin},
        {u"-9223372036854775809", kMin},
        {u"-99999999999999999999999999999", kMin},
        {u"", 0},
        {u"size", 0},
    });
}

// --- WritableItems ----------------------------------------------------------

TEST(SettingsRules, WritableItemsSplitStripAndKeepOrder) {
    testing::ExpectEachResult<std::vector<std::u16string>>(SplitWritableItems, {
        {u"|.\\a|..\\b\\| \\c |d||", {u"a", u"b\\", u" \\c ", u"d"}},
        {u"", {}},
        {u"|", {}},
        {u"|||", {}},
        {u"a", {u"a"}},
        {u"a|a|b", {u"a", u"a", u"b"}},
        {u"b|a", {u"b", u"a"}},
        {u".\\.\\..\\x", {u"x"}},
        {u"\\\\server\\share", {u"server\\share"}},
        {u"\\Logs\\", {u"Logs\\"}},
        {u"...x", {u"x"}},
        {u"a.b\\.c", {u"a.b\\.c"}},       // only leading characters go
        {u". \\x", {u" \\x"}},            // a space ends the stripping
        {u"/x|x/y", {u"/x", u"x/y"}},     // forward slashes stay
        {u"  |x", {u"  ", u"x"}},         // spaces are not empty
        {u"My Data\\|Settings.cfg", {u"My Data\\", u"Settings.cfg"}},
        // A piece of dots and backslashes only is not empty before
        // stripping, so it stays as an empty item.
        {u"a|.\\|b", {u"a", u"", u"b"}},
    });
}

// --- execution section ------------------------------------------------------

TEST(SettingsRules, X64SectionOnlyForAmd64AndIa64ProcessorTypes) {
    struct Case {
        std::uint32_t processorType;
        bool x64;
    };
    const Case cases[] = {
        {8664, true}, {2200, true},
        {386, false}, {486, false}, {586, false}, {0, false},
        // Architecture numbers (PROCESSOR_ARCHITECTURE_AMD64, _IA64, _ARM64)
        // are not processor types.
        {9, false},   {6, false},   {12, false},
        {8665, false}, {2201, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.processorType);
        EXPECT_EQ(c.x64, UsesX64ExecutionSection(c.processorType));
    }
}

}  // namespace
}  // namespace quarry
