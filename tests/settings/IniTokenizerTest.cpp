#include "settings/IniTokenizer.h"

#include <gtest/gtest.h>

#include "common/Text.h"

namespace quarry {
namespace {

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

TEST(IniTokenizer, ReadsEachKindOfLine) {
    const struct {
        std::u16string text;
        IniLineKind kind;
        std::u16string name;
        bool hasEquals;
        std::u16string written;
        std::u16string value;
    } cases[] = {
        {u"", IniLineKind::Blank, u"", false, u"", u""},
        {u" \t ", IniLineKind::Blank, u"", false, u"", u""},
        {u"  ; Name=value", IniLineKind::Comment, u"", false, u"", u""},
        {u"[Package]", IniLineKind::Section, u"Package", false, u"", u""},
        {u" [ Package ] trailing", IniLineKind::Section, u"Package", false, u"", u""},
        {u"[a]b]", IniLineKind::Section, u"a]b", false, u"", u""},
        {u"[Package", IniLineKind::BrokenSection, u"", false, u"", u""},
        {u" Name = value ", IniLineKind::Key, u"Name", true, u"value", u"value"},
        {u"Name=a=b", IniLineKind::Key, u"Name", true, u"a=b", u"a=b"},
        {u"Name=", IniLineKind::Key, u"Name", true, u"", u""},
        {u"Name", IniLineKind::Key, u"Name", false, u"", u""},
        {u"Name=\"a b\"", IniLineKind::Key, u"Name", true, u"\"a b\"", u"a b"},
        {u"Name='a b'", IniLineKind::Key, u"Name", true, u"'a b'", u"a b"},
        {u"Name=\"a\" \"b\"", IniLineKind::Key, u"Name", true, u"\"a\" \"b\"", u"a\" \"b"},
        {u"Name=\"a'", IniLineKind::Key, u"Name", true, u"\"a'", u"\"a'"},
        {u"Name=\"", IniLineKind::Key, u"Name", true, u"\"", u"\""},
    };
    for (const auto& c : cases) {
        const std::u16string text = c.text + u"\r\n";  // the lines point into it
        const std::vector<IniLine> lines = TokenizeIni(text);
        ASSERT_EQ(1u, lines.size()) << Narrow(c.text);
        const IniLine& line = lines[0];
        EXPECT_EQ(c.kind, line.kind) << Narrow(c.text);
        EXPECT_EQ(c.name, line.name) << Narrow(c.text);
        EXPECT_EQ(c.hasEquals, line.hasEquals) << Narrow(c.text);
        EXPECT_EQ(c.written, line.written) << Narrow(c.text);
        EXPECT_EQ(c.value, line.value) << Narrow(c.text);
    }
}

TEST(IniTokenizer, SplitsAtEveryLineEndAndKeepsThePositions) {
    const std::u16string text = u"a=1\r\nb=2\nc=3\rd=4\r\r\ne=5";
    const std::vector<IniLine> lines = TokenizeIni(text);
    ASSERT_EQ(6u, lines.size());
    const struct {
        std::u16string name;
        std::size_t start, end, next;
        bool terminated;
    } expected[] = {
        {u"a", 0, 3, 5, true},    {u"b", 5, 8, 9, true},    {u"c", 9, 12, 13, true},
        {u"d", 13, 16, 17, true}, {u"", 17, 17, 19, true},  {u"e", 19, 22, 22, false},
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(static_cast<int>(i) + 1, lines[i].number);
        EXPECT_EQ(expected[i].name, lines[i].name) << i;
        EXPECT_EQ(expected[i].start, lines[i].start) << i;
        EXPECT_EQ(expected[i].end, lines[i].end) << i;
        EXPECT_EQ(expected[i].next, lines[i].next) << i;
        EXPECT_EQ(expected[i].terminated, lines[i].terminated) << i;
    }
    EXPECT_TRUE(TokenizeIni(u"").empty());
}

TEST(IniTokenizer, ProfileReadsTheFirstSectionAndTheFirstKeyOfAName) {
    const std::u16string text =
        u"Orphan=1\r\n"
        u"[package]\r\n"
        u"ProductName = First \r\n"
        u"productname=Second\r\n"
        u"Bare\r\n"
        u"Quoted=\"Widget\"\r\n"
        u"[Message\r\n"
        u"WindowTitle=still in [package]\r\n"
        u"[PACKAGE]\r\n"
        u"TotalFileSize=5\r\n"
        u"[Other]\r\n"
        u"Long=" + std::u16string(600, u'x') + u"\r\n";
    IniTextProfile profile(text);
    const struct {
        std::u16string section, key, read;
        int line;
    } cases[] = {
        {u"Package", u"PRODUCTNAME", u"First", 3},
        {u"Package", u"Bare", u"Error", 5},
        {u"Package", u"Quoted", u"Widget", 6},
        {u"Package", u"WindowTitle", u"still in [package]", 8},
        {u"Package", u"TotalFileSize", u"Error", 0},  // in the repeated section
        {u"Package", u"Orphan", u"Error", 0},         // before any header
        {u"Other", u"Long", std::u16string(511, u'x'), 12},
        {u"Missing", u"Key", u"Error", 0},
    };
    for (const auto& c : cases) {
        const IniLine* line = profile.Find(c.section, c.key);
        EXPECT_EQ(c.line, line ? line->number : 0) << Narrow(c.key);
        EXPECT_EQ(c.read, profile.Read(c.section, c.key, u"Error", 512)) << Narrow(c.key);
    }
    EXPECT_EQ(u"", profile.Read(u"Package", u"ProductName", u"Error", 0));
    EXPECT_EQ(u"Fi", profile.Read(u"Package", u"ProductName", u"Error", 3));

    const bool read[] = {false, true, true, true, true, true, true, true, false, false, true, true};
    const int section[] = {-1, 1, 1, 1, 1, 1, 1, 1, 8, 8, 10, 10};
    ASSERT_EQ(std::size(read), profile.Lines().size());
    for (std::size_t i = 0; i < profile.Lines().size(); ++i) {
        EXPECT_EQ(read[i], profile.InReadSection(i)) << "line " << i + 1;
        EXPECT_EQ(section[i], profile.SectionOf(i)) << "line " << i + 1;
    }
}

}  // namespace
}  // namespace quarry
