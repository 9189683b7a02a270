#include "ui/LanguageList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/Text.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

std::u16string ExpectedUiLanguage() { return Utf8ToUtf16(testing::ExpectedUiLanguage()); }

TEST(LanguageListWinTest, StartsWithTheUiLanguageAndEndsWithEnglish) {
    const std::vector<std::u16string> list = BuildLanguageList();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front(), ExpectedUiLanguage());
    for (const char16_t* english : {u"en-US", u"en", u"ENG"}) {
        EXPECT_EQ(std::count(list.begin(), list.end(), english), 1) << Utf16ToUtf8(english);
    }
    const std::u16string code = LanguageCode(ExpectedUiLanguage());
    EXPECT_EQ(std::count(list.begin(), list.end(), code), 1);
    // Distinct names only.
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(std::count(list.begin(), list.end(), list[i]), 1) << Utf16ToUtf8(list[i]);
    }
}

}  // namespace
}  // namespace quarry
