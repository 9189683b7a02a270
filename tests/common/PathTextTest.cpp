#include "common/PathText.h"

#include <gtest/gtest.h>

#include <string>

#include "common/Text.h"

namespace quarry {
namespace {

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

TEST(PathText, ExtensionStartsAtTheLastDotOfTheName) {
    EXPECT_EQ(u".exe", ExtensionPart(u"Setup.exe"));
    EXPECT_EQ(u".exe", ExtensionPart(u"a.b.exe"));
    EXPECT_EQ(u".hidden", ExtensionPart(u".hidden"));
    EXPECT_EQ(u".", ExtensionPart(u"trailing."));
    EXPECT_EQ(u"", ExtensionPart(u"noext"));
    EXPECT_EQ(u"", ExtensionPart(u"my.file name"));
    EXPECT_EQ(u"", ExtensionPart(u"dir.ext\\noext"));
}

TEST(PathText, FileNamePartFollowsTheLastSeparator) {
    struct Case {
        std::u16string path;
        std::u16string name;
    };
    const Case cases[] = {
        {u"C:\\dir\\Setup.exe", u"Setup.exe"},
        {u"C:/dir/Setup.exe", u"Setup.exe"},
        {u"C:Setup.exe", u"Setup.exe"},
        {u"Setup.exe", u"Setup.exe"},
        {u"C:\\dir\\", u"dir\\"},
        {u"C:\\", u"C:\\"},
        {u"\\\\srv\\share\\a.exe", u"a.exe"},
        {u"C:\\dir\\\\x", u"x"},
        {u"", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path));
        EXPECT_EQ(c.name, FileNamePart(c.path));
    }
}

TEST(PathText, TrailingBackslashIsAddedOnlyWhenMissing) {
    EXPECT_EQ(u"C:\\x\\", WithTrailingBackslash(u"C:\\x"));
    EXPECT_EQ(u"C:\\x\\", WithTrailingBackslash(u"C:\\x\\"));
    EXPECT_EQ(u"C:\\", WithTrailingBackslash(u"C:"));
    EXPECT_EQ(u"\\", WithTrailingBackslash(u""));
    EXPECT_EQ(u"\\", WithTrailingBackslash(u"\\"));
}

}  // namespace
}  // namespace quarry
