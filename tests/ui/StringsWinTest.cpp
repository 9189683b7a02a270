#include "ui/Strings.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/Result.h"
#include "common/Text.h"
#include "common/WinTestSupport.h"
#include "ui/StringTable.h"

namespace quarry {
namespace {

const UINT kIds[] = {128, 129, 130, 144, 145, 148, 149, 150, 152, 153, 154, 160,
                     256, 257, 258, 259, 260, 264, 265, 266, 272, 273, 274, 298,
                     299, 300, 302, 303, 304, 306, 308, 310, 311, 322, 323, 324};

const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The program's string tables: language name, LANGID, the dialog fonts
// (ids 129 and 130) and the text of the Cancel button (id 144).
struct Table {
    const char* name;
    LANGID language;
    const char16_t* font;
    const char16_t* oldFont;
    const char16_t* cancel;
};

const Table kTables[] = {
    {"bg-BG", 1026, u"Segoe UI", u"MS Shell Dlg", u"Отказ"},
    {"zh-TW", 1028, u"Microsoft JhengHei", u"Microsoft JhengHei", u"取消"},
    {"cs-CZ", 1029, u"Segoe UI", u"MS Shell Dlg", u"Storno"},
    {"de-DE", 1031, u"Segoe UI", u"MS Shell Dlg", u"Abbrechen"},
    {"el-GR", 1032, u"Segoe UI", u"MS Shell Dlg", u"Άκυρο"},
    {"en-US", 1033, u"Segoe UI", u"MS Shell Dlg", u"Cancel"},
    {"fr-FR", 1036, u"Segoe UI", u"MS Shell Dlg", u"Annuler"},
    {"hu-HU", 1038, u"Segoe UI", u"MS Shell Dlg", u"Mégse"},
    {"it-IT", 1040, u"Segoe UI", u"MS Shell Dlg", u"Annulla"},
    {"ja-JP", 1041, u"Meiryo UI", u"MS UI Gothic", u"キャンセル"},
    {"ko-KR", 1042, u"Malgun Gothic", u"Malgun Gothic", u"취소"},
    {"nl-NL", 1043, u"Segoe UI", u"MS Shell Dlg", u"Annuleren"},
    {"pl-PL", 1045, u"Segoe UI", u"MS Shell Dlg", u"Anuluj"},
    {"pt-BR", 1046, u"Segoe UI", u"MS Shell Dlg", u"Cancelar"},
    {"ro-RO", 1048, u"Segoe UI", u"MS Shell Dlg", u"Anulare"},
    {"ru-RU", 1049, u"Segoe UI", u"MS Shell Dlg", u"Отмена"},
    {"sk-SK", 1051, u"Segoe UI", u"MS Shell Dlg", u"Zrušiť"},
    {"th-TH", 1054, u"Leelawadee", u"Leelawadee", u"ยกเลิก"},
    {"tr-TR", 1055, u"Segoe UI", u"MS Shell Dlg", u"İptal"},
    {"zh-CN", 2052, u"Microsoft YaHei", u"Microsoft YaHei", u"取消"},
    {"es-ES", 3082, u"Segoe UI", u"MS Shell Dlg", u"Cancelar"},
};

// String `id` from the table of exactly `language`, bypassing the loader's
// language choice.
std::u16string TableString(LANGID language, UINT id) {
    const HRSRC resource = ::FindResourceExW(nullptr, RT_STRING,
                                             MAKEINTRESOURCEW(StringBlockNumber(id)), language);
    if (!resource) return std::u16string();
    const void* data = ::LockResource(::LoadResource(nullptr, resource));
    return StringTableEntry(data, ::SizeofResource(nullptr, resource), id);
}

// The "%" sequences and line breaks of a text in order ("%%" is text, not a
// placeholder): a "%" with its flags, width and conversion letter, or with
// its digits; "\r\n", "\n" or a lone "\r".
std::vector<std::u16string> Placeholders(const std::u16string& text) {
    std::vector<std::u16string> found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            const bool pair = text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n';
            found.push_back(text.substr(i, pair ? 2 : 1));
            if (pair) ++i;
            continue;
        }
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

std::string Describe(const Table& table, UINT id) {
    return std::string(table.name) + " id " + std::to_string(id);
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::set<LANGID>*>(found)->insert(language);
    return TRUE;
}

TEST(StringsWinTest, EveryTableCarriesEveryId) {
    for (const Table& table : kTables) {
        for (UINT id : kIds) {
            const std::u16string text = TableString(table.language, id);
            EXPECT_FALSE(text.empty()) << Describe(table, id);
            if (id == 259 || id == 260) {
                EXPECT_EQ(text, u" ") << Describe(table, id);
            }
        }
        // The product name is not translated.
        EXPECT_EQ(TableString(table.language, 128), u"Norvik Quarry Tool") << table.name;
        // The folder prompt ends with a blank in every language.
        const std::u16string prompt = TableString(table.language, 160);
        EXPECT_TRUE(!prompt.empty() && prompt.back() == u' ') << table.name;
        // UTF-16 text, not UTF-8 bytes taken as code units.
        EXPECT_EQ(TableString(table.language, 144), table.cancel) << table.name;
    }
}

TEST(StringsWinTest, HasATableForExactlyTheListedLanguages) {
    std::set<LANGID> expected;
    for (const Table& table : kTables) expected.insert(table.language);
    for (UINT id : {128u, 256u, 320u}) {
        std::set<LANGID> found;
        ::EnumResourceLanguagesW(nullptr, RT_STRING, MAKEINTRESOURCEW(StringBlockNumber(id)),
                                 CollectLanguage, reinterpret_cast<LONG_PTR>(&found));
        EXPECT_EQ(found, expected) << "block of id " << id;
    }
}

TEST(StringsWinTest, PlaceholdersMatchEnglishInKindAndOrder) {
    // The check itself must see placeholders and line breaks where the texts
    // have them.
    ASSERT_EQ(Placeholders(u"%s and \"%1\" at 100%% 0x%08x\r\n%d.%d\n"),
              (std::vector<std::u16string>{u"%s", u"%1", u"%08x", u"\r\n", u"%d", u"%d", u"\n"}));
    ASSERT_EQ(Placeholders(u"「%1」%s。"), (std::vector<std::u16string>{u"%1", u"%s"}));
    size_t withPlaceholders = 0;
    for (UINT id : kIds) {
        const std::vector<std::u16string> english = Placeholders(TableString(kEnglish, id));
        for (const Table& table : kTables) {
            EXPECT_EQ(Placeholders(TableString(table.language, id)), english)
                << Describe(table, id);
        }
        if (!english.empty()) ++withPlaceholders;
    }
    // 160, 256, 257, 258, 272, 274, 298, 302, 303, 304, 306, 308, 322, 323, 324.
    EXPECT_EQ(withPlaceholders, 15u);
}

TEST(StringsWinTest, CarriesTheDialogFontsOfEachLanguage) {
    for (const Table& table : kTables) {
        EXPECT_EQ(TableString(table.language, 129), table.font) << table.name;
        EXPECT_EQ(TableString(table.language, 130), table.oldFont) << table.name;
    }
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
}

// Run once per language by its own ctest entry, with LANG and LC_ALL set for
// Wine and QUARRY_EXPECT_UI_LANGUAGE naming the language.
TEST(StringsWinTest, LoadsTheTableOfTheUiLanguage) {
    const std::string name = testing::ExpectedUiLanguage();
    const Table* expected = nullptr;
    for (const Table& table : kTables) {
        if (name == table.name) expected = &table;
    }
    ASSERT_NE(expected, nullptr) << "no string table for " << name;
    ASSERT_EQ(::GetUserDefaultUILanguage(), expected->language)
        << "Wine did not take the UI language " << name << " from LANG";
    EXPECT_EQ(LoadResourceString(144), expected->cancel);
    for (UINT id : kIds) {
        EXPECT_EQ(LoadResourceString(id), TableString(expected->language, id)) << "id " << id;
    }
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
    if (testing::ExpectJapanese()) {
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
    if (testing::ExpectJapanese()) {
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
