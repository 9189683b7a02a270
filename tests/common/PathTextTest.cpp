#include "common/PathText.h"

#include <gtest/gtest.h>

#include <string>

#include "common/CaseTable.h"
#include "common/Text.h"

namespace quarry {
namespace {

TEST(PathText, ExtensionStartsAtTheLastDotOfTheName) {
    testing::ExpectEachResult<std::u16string>(
        ExtensionPart, {{u"Setup.exe", u".exe"}, {u"a.b.exe", u".exe"}, {u".hidden", u".hidden"},
                        {u"trailing.", u"."}, {u"noext", u""}, {u"my.file name", u""},
                        {u"dir.ext\\noext", u""}});
}

TEST(PathText, FileNamePartFollowsTheLastSeparator) {
    testing::ExpectEachResult<std::u16string>(FileNamePart, {
        {u"C:\\dir\\Setup.exe", u"Setup.exe"},
        {u"C:/dir/Setup.exe", u"Setup.exe"},
        {u"C:Setup.exe", u"Setup.exe"},
        {u"Setup.exe", u"Setup.exe"},
        {u"C:\\dir\\", u"dir\\"},
        {u"C:\\", u"C:\\"},
        {u"\\\\srv\\share\\a.exe", u"a.exe"},
        {u"C:\\dir\\\\x", u"x"},
        {u"", u""},
    });
}

TEST(PathText, TrailingBackslashIsAddedOnlyWhenMissing) {
    testing::ExpectEachResult<std::u16string>(
        WithTrailingBackslash, {{u"C:\\x", u"C:\\x\\"}, {u"C:\\x\\", u"C:\\x\\"}, {u"C:", u"C:\\"},
                                {u"", u"\\"}, {u"\\", u"\\"}});
}

}  // namespace
}  // namespace quarry
