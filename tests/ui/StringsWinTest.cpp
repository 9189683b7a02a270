#include "ui/Strings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/Result.h"
#include "common/Text.h"
#include "ui/StringTable.h"

namespace quarry {
namespace {

const UINT kIds[] = {128, 129, 130, 144, 145, 148, 149, 150, 152, 153, 154, 160,
                     256, 257, 258, 259, 260, 264, 265, 266, 272, 273, 274, 298,
                     299, 300, 302, 303, 304, 306, 308, 310, 311, 322, 323, 324};

const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// The ctest entry that runs Wine with a Japanese LANG sets this to "ja-JP".
bool ExpectJapanese() {
    const char* expected = std::getenv("QUARRY_EXPECT_UI_LANGUAGE");
    return expected && std::strcmp(expected, "ja-JP") == 0;
}

// String `id` from the table of exactly `language`, bypassing the loader's
// language choice.
std::u16string TableString(LANGID language, UINT id) {
    const HRSRC resource = ::FindResourceExW(nullptr, RT_STRING,
                                             MAKEINTRESOURCEW(StringBlockNumber(id)), language);
    if (!resource) return std::u16string();
    const void* data = ::LockResource(::LoadResource(nullptr, resource));
    return StringTableEntry(data, ::SizeofResource(nullptr, resource), id);
}

// The "%" sequences of a text in order ("%%" is text, not a placeholder): a
// "%" with its flags, width and conversion letter, or with its digits.
std::vector<std::u16string> Placeholders(const std::u16string& text) {
    std::vector<std::u16string> found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') continue;
        if (i + 1 < text.size() && text[i + 1] == u'%') {
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < text.size() && text[end] >= u'0' && text[end] <= u'9') ++end;
        const bool digitsOnly = end > i + 1 && (end == text.size() || text[end] > 0x7F ||
                                                !std::isalpha(static_cast<unsigned char>(text[end])));
        if (!digitsOnly && end < text.size()) ++end;
        found.push_back(text.substr(i, end - i));
        i = end - 1;
    }
    return found;
}

TEST(StringsWinTest, BothTablesCarryEveryId) {
    for (LANGID language : {kEnglish, kJapanese}) {
        for (UINT id : kIds) {
            const std::u16string text = TableString(language, id);
            EXPECT_FALSE(text.empty()) << "language " << language << " id " << id;
            if (id == 259 || id == 260) {
                EXPECT_EQ(text, u" ") << "language " << language << " id " << id;
            }
        }
    }
}

TEST(StringsWinTest, JapanesePlaceholdersMatchEnglishInKindAndOrder) {
    // The check itself must see placeholders where the texts have them.
    ASSERT_EQ(Placeholders(u"%s and \"%1\" at 100%% 0x%08x %d.%d"),
              (std::vector<std::u16string>{u"%s", u"%1", u"%08x", u"%d", u"%d"}));
    size_t withPlaceholders = 0;
    for (UINT id : kIds) {
        const std::vector<std::u16string> english = Placeholders(TableString(kEnglish, id));
        EXPECT_EQ(Placeholders(TableString(kJapanese, id)), english) << "id " << id;
        if (!english.empty()) ++withPlaceholders;
    }
    // 160, 256, 257, 272, 274, 303, 306, 308, 322, 323, 324.
    EXPECT_EQ(withPlaceholders, 11u);
}

TEST(StringsWinTest, CarriesTheDialogFontsOfEachLanguage) {
    EXPECT_EQ(TableString(kEnglish, 129), u"Segoe UI");
    EXPECT_EQ(TableString(kEnglish, 130), u"MS Shell Dlg");
    EXPECT_EQ(TableString(kJapanese, 129), u"Meiryo UI");
    EXPECT_EQ(TableString(kJapanese, 130), u"MS UI Gothic");
}

TEST(StringsWinTest, KeepsTheExactEnglishTexts) {
    const std::map<UINT, std::u16string> expected = {
        {128, u"Norvik Quarry Tool"},
        {152, u"Extracting files..."},
        {160, u"Select the writable folder to extract for %s. This package is extracted \"%s\" "
              u"folder in the selected folder. "},
        {256, u"The package cannot execute.\nThere is a file that prevent the execution of this "
              u"package. Delete \"%1\" file in the same folder as this package file, and then try "
              u"again."},
        {257, u"This package could not be deployed to this computer.\r\n%s\r\n(Code = 0x%08x)"},
        {258, u"\n\nContinue processing?"},
        {300, u"This package is broken, or the package's digital signature is invalid. Please use "
              u"correct program file."},
        {303, u"This program can be run only on \"%s\" computers.\nThis computer is not "
              u"recognized as a target computer."},
    };
    for (const auto& entry : expected) {
        EXPECT_EQ(TableString(kEnglish, entry.first), entry.second) << "id " << entry.first;
    }
    // The Japanese table is UTF-16 text, not UTF-8 bytes taken as code units.
    EXPECT_EQ(TableString(kJapanese, 144), u"\u30ad\u30e3\u30f3\u30bb\u30eb");
    EXPECT_EQ(TableString(kJapanese, 145), u"\u9589\u3058\u308b");
}

TEST(StringsWinTest, LoadsTheTableOfTheUiLanguage) {
    if (ExpectJapanese()) {
        ASSERT_EQ(PRIMARYLANGID(::GetUserDefaultUILanguage()), LANG_JAPANESE)
            << "Wine did not take the UI language from LANG";
        EXPECT_EQ(LoadResourceString(144), u"キャンセル");
        EXPECT_EQ(LoadResourceString(145), u"閉じる");
        EXPECT_EQ(LoadResourceString(129), u"Meiryo UI");
    } else {
        EXPECT_EQ(LoadResourceString(144), u"Cancel");
        EXPECT_EQ(LoadResourceString(145), u"Close");
        EXPECT_EQ(LoadResourceString(129), u"Segoe UI");
    }
    EXPECT_EQ(LoadResourceString(259), u" ");
}

TEST(StringsWinTest, GivesEmptyTextForMissingIds) {
    // 131 shares its block with 128..130; 1000 and 65535 have no block.
    for (UINT id : {131u, 143u, 0u, 1000u, 65535u}) {
        EXPECT_EQ(LoadResourceString(id), u"") << "id " << id;
    }
}

TEST(StringsWinTest, FormatsTheErrorFrameWithDetailAndCode) {
    const std::u16string detail = LoadResourceString(264);
    const std::u16string text = FormatResourceString(257, detail, 0x80040006u);
    if (ExpectJapanese()) {
        EXPECT_EQ(text, u"このパッケージをこのコンピューターに展開できませんでした。\r\n"
                        u"このパッケージのデータを読み取れませんでした。正しいファイルであることを確認してください。"
                        u"\r\n(コード = 0x80040006)");
    } else {
        EXPECT_EQ(text, u"This package could not be deployed to this computer.\r\n"
                        u"The data in this package could not be read. Please confirm that it is a "
                        u"correct file.\r\n(Code = 0x80040006)");
    }
}

TEST(StringsWinTest, FormatsWideTextsAndIntegers) {
    const DWORD build = 7601;
    const std::u16string drive = FormatResourceString(272, L"C");
    const std::u16string version = FormatResourceString(323, 5, 1, 2600, 6, 1, build);
    if (ExpectJapanese()) {
        EXPECT_EQ(drive.substr(0, 15), u"ローカル ディスク (C:) ");
        EXPECT_EQ(version, u"このパッケージは、このコンピューターの Windows (バージョン 5.1 ビルド 2600) "
                           u"には対応していません。\nWindows (バージョン 6.1 ビルド 7601) 以降が必要です。");
    } else {
        EXPECT_EQ(drive, u"There is not enough space on Local Disk (C:). Increase the amount of free "
                         u"space and try again.");
        EXPECT_EQ(version, u"This package is not for Windows (version 5.1 build 2600) of this "
                           u"computer.\nLater Windows (version 6.1 build 7601) is required.");
    }
    const std::wstring product = L"Tervo";
    EXPECT_NE(FormatResourceString(303, product).find(u"\"Tervo\""), std::u16string::npos);
}

TEST(StringsWinTest, ThrowsForMissingFormatStringOrArguments) {
    try {
        FormatResourceString(131, L"unused");
        ADD_FAILURE() << "no error for a missing format string";
    } catch (const ResultError& error) {
        EXPECT_EQ(error.code, kResultFail);
    }
    try {
        FormatResourceString(322, 5, 1);
        ADD_FAILURE() << "no error for missing arguments";
    } catch (const ResultError& error) {
        EXPECT_EQ(error.code, kResultInvalidArg);
    }
}

}  // namespace
}  // namespace quarry
