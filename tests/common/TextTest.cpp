#include "common/Text.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

TEST(Text, EqualsNoCaseFoldsLettersOfTheCommonScripts) {
    EXPECT_TRUE(EqualsNoCase(u"Settings.INI", u"settings.ini"));
    EXPECT_TRUE(EqualsNoCase(u"ÄÖÜ", u"äöü"));
    EXPECT_TRUE(EqualsNoCase(u"ŁĄŻ", u"łąż"));
    EXPECT_TRUE(EqualsNoCase(u"ΣΕΛΊΔΑ ΌΨΗ", u"σελίδα όψη"));
    EXPECT_TRUE(EqualsNoCase(u"ΤΕΛΟΣ", u"τελος"));
    EXPECT_TRUE(EqualsNoCase(u"ΤΕΛΟΣ", u"τελοσ"));
    EXPECT_TRUE(EqualsNoCase(u"ПАПКА", u"папка"));
    EXPECT_TRUE(EqualsNoCase(u"ЁЖ", u"ёж"));
    EXPECT_FALSE(EqualsNoCase(u"a", u"b"));
    EXPECT_FALSE(EqualsNoCase(u"abc", u"ab"));
    EXPECT_FALSE(EqualsNoCase(u"[", u"{"));  // not letters: no folding
    EXPECT_FALSE(EqualsNoCase(u"\u00F7", u"\u00D7"));  // division and multiplication signs
}

TEST(Text, Utf8RoundTripsAndReplacesMalformedInput) {
    const std::u16string text = u"Ünïcode ファイル \U0001F600";
    EXPECT_EQ(text, Utf8ToUtf16(Utf16ToUtf8(text)));
    EXPECT_EQ(u"a\uFFFDb", Utf8ToUtf16("a\xFF" "b"));
    EXPECT_EQ(u"\uFFFD\uFFFD", Utf8ToUtf16("\xC0\xAF"));   // overlong "/"
    EXPECT_EQ(u"\uFFFD\uFFFD", Utf8ToUtf16("\xE2\x82"));    // truncated
    EXPECT_EQ(u"\uFFFD\uFFFD\uFFFD", Utf8ToUtf16("\xED\xA0\x80"));  // surrogate
    EXPECT_EQ("\xEF\xBF\xBD", Utf16ToUtf8(std::u16string(1, u'\xD800')));
}

TEST(Text, TrimWhiteRemovesSpacesTabsAndLineBreaksAtBothEnds) {
    EXPECT_EQ(u"a b", TrimWhite(u" \t\r\na b\t "));
    EXPECT_EQ(u"", TrimWhite(u" \t "));
}

TEST(Text, SplitNonEmptyLeavesOutEmptyPieces) {
    const struct {
        std::u16string text;
        std::u16string separators;
        std::vector<std::u16string_view> pieces;
    } cases[] = {
        {u"", u"|", {}},
        {u"|||", u"|", {}},
        {u"a", u"|", {u"a"}},
        {u"|a||b c|", u"|", {u"a", u"b c"}},
        {u"a\\b/c\\", u"\\/", {u"a", u"b", u"c"}},
        {u"a/b", u"\\", {u"a/b"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.pieces, SplitNonEmpty(c.text, c.separators)) << Utf16ToUtf8(c.text);
    }
}

}  // namespace
}  // namespace quarry
