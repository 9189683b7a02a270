#include "ui/LanguageList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Text.h"

namespace quarry {
namespace {

using Names = std::vector<std::u16string>;

TEST(LanguageList, NormalizesLanguageLowerAndTheRestUpper) {
    const std::vector<std::pair<const char16_t*, const char16_t*>> cases = {
        {u"EN-us", u"en-US"},   {u"ja-jp", u"ja-JP"},         {u"en-US", u"en-US"},
        {u"EN", u"en"},         {u"De", u"de"},               {u"zh-Hant-tw", u"zh-HANT-TW"},
        {u"sr-latn-RS", u"sr-LATN-RS"}, {u"-x", u"-X"},       {u"", u""},
        {u"EN-", u"en-"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NormalizeLanguageName(c.first), c.second) << Utf16ToUtf8(c.first);
    }
}

TEST(LanguageList, LooksUpCodesCaseInsensitively) {
    const std::vector<std::pair<const char16_t*, const char16_t*>> table = {
        {u"zh-CN", u"CHS"}, {u"zh-TW", u"CHT"}, {u"nl-NL", u"NLD"}, {u"hu-HU", u"HUN"},
        {u"fr-FR", u"FRA"}, {u"de-DE", u"DEU"}, {u"it-IT", u"ITA"}, {u"ja-JP", u"JPN"},
        {u"ko-KR", u"KOR"}, {u"ru-RU", u"RUS"}, {u"es-ES", u"ESP"}, {u"en-US", u"ENG"},
        {u"pl-PL", u"PLK"}, {u"pt-BR", u"PTB"}, {u"th-TH", u"THA"}, {u"sk-SK", u"SLK"},
        {u"el-GR", u"ELL"}, {u"cs-CZ", u"CES"}, {u"bg-BG", u"BGR"}, {u"tr-TR", u"TRK"},
        {u"ro-RO", u"ROM"}, {u"uk-UA", u"RUS"},
        // Case does not matter.
        {u"EN-us", u"ENG"}, {u"JA-JP", u"JPN"}, {u"zh-cn", u"CHS"},
        // Not in the table: no code.
        {u"en", u""}, {u"en-GB", u""}, {u"pt-PT", u""}, {u"ja", u""}, {u"", u""},
        {u"en-US-x", u""}, {u"ENG", u""},
    };
    for (const auto& c : table) {
        EXPECT_EQ(LanguageCode(c.first), c.second) << Utf16ToUtf8(c.first);
    }
}

TEST(LanguageList, SplitsDoubleZeroTerminatedLists) {
    const char16_t two[] = u"ja-JP\0en-US\0\0";
    EXPECT_EQ(SplitNameList(two, sizeof(two) / 2 - 1), (Names{u"ja-JP", u"en-US"}));
    const char16_t none[] = u"\0\0";
    EXPECT_EQ(SplitNameList(none, 2), Names{});
    // Nothing is read past the given length, terminated or not.
    const char16_t cut[] = u"de-DE\0fr-FR";
    EXPECT_EQ(SplitNameList(cut, 8), (Names{u"de-DE", u"fr"}));
    EXPECT_EQ(SplitNameList(two, 0), Names{});
    EXPECT_EQ(SplitNameList(nullptr, 4), Names{});
}

TEST(LanguageList, PutsNamesThenTheirCodesThenEnglish) {
    EXPECT_EQ(AssembleLanguageList({u"ja-JP", u"en-US"}, {u"ja-JP", u"en-US"}),
              (Names{u"ja-JP", u"en-US", u"JPN", u"ENG", u"en"}));
    EXPECT_EQ(AssembleLanguageList({u"de-DE"}, {u"fr-FR"}),
              (Names{u"de-DE", u"fr-FR", u"DEU", u"FRA", u"en-US", u"en", u"ENG"}));
}

TEST(LanguageList, KeepsNamesThatNormaliseAlikeOnce) {
    EXPECT_EQ(AssembleLanguageList({u"en-us"}, {u"EN-US"}), (Names{u"en-US", u"ENG", u"en"}));
    EXPECT_EQ(AssembleLanguageList({u"fr-fr", u"FR-FR", u"fr-FR"}, {}),
              (Names{u"fr-FR", u"FRA", u"en-US", u"en", u"ENG"}));
}

TEST(LanguageList, MapsUkrainianToTheRussianCodeOnce) {
    EXPECT_EQ(AssembleLanguageList({u"uk-UA"}, {}),
              (Names{u"uk-UA", u"RUS", u"en-US", u"en", u"ENG"}));
    EXPECT_EQ(AssembleLanguageList({u"ru-RU"}, {u"uk-UA"}),
              (Names{u"ru-RU", u"uk-UA", u"RUS", u"en-US", u"en", u"ENG"}));
}

TEST(LanguageList, KnowsTheCodesOfItsTableExactly) {
    EXPECT_TRUE(IsLanguageCode(u"JPN"));
    EXPECT_TRUE(IsLanguageCode(u"ROM"));
    EXPECT_FALSE(IsLanguageCode(u"jpn"));  // element names are matched exactly
    EXPECT_FALSE(IsLanguageCode(u"UKR"));  // Ukrainian uses the Russian code
    EXPECT_FALSE(IsLanguageCode(u""));
}

TEST(LanguageList, GivesNoCodeForNamesOutsideTheTable) {
    EXPECT_EQ(AssembleLanguageList({u"en-GB"}, {u"SV"}),
              (Names{u"en-GB", u"sv", u"en-US", u"en", u"ENG"}));
}

TEST(LanguageList, DoesNotRepeatEnglishPreferredEarlier) {
    EXPECT_EQ(AssembleLanguageList({}, {u"en-US"}), (Names{u"en-US", u"ENG", u"en"}));
    EXPECT_EQ(AssembleLanguageList({u"EN"}, {u"ja-JP"}),
              (Names{u"en", u"ja-JP", u"JPN", u"en-US", u"ENG"}));
}

TEST(LanguageList, EndsWithEnglishWhenNothingIsKnown) {
    EXPECT_EQ(AssembleLanguageList({}, {}), (Names{u"en-US", u"en", u"ENG"}));
    EXPECT_EQ(AssembleLanguageList({u""}, {u""}), (Names{u"en-US", u"en", u"ENG"}));
}

}  // namespace
}  // namespace quarry
