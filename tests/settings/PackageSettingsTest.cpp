#include "settings/PackageSettings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/CaseTable.h"
#include "common/Text.h"
#include "settings/SettingsTestSupport.h"

namespace quarry {
namespace {

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

// Stands in for the platform's profile reader over a table of values: names
// match without regard to case, an absent key gives the default text, and
// whatever is returned is cut to the buffer the caller offers. Every call is
// recorded so that the tests can see what was asked and in which order.
class FakeProfile : public ProfileSource {
public:
    struct Call {
        std::u16string section;
        std::u16string key;
        std::u16string defaultText;
        std::size_t capacity;
    };

    FakeProfile& Set(const std::u16string& section, const std::u16string& key,
                     const std::u16string& value) {
        values_[Fold(section) + u'\n' + Fold(key)] = value;
        return *this;
    }

    std::u16string Read(const std::u16string& section, const std::u16string& key,
                        const std::u16string& defaultText, std::size_t capacity) override {
        calls.push_back({section, key, defaultText, capacity});
        const auto found = values_.find(Fold(section) + u'\n' + Fold(key));
        const std::u16string& text = found == values_.end() ? defaultText : found->second;
        return capacity == 0 ? std::u16string() : text.substr(0, capacity - 1);
    }

    std::vector<Call> calls;

private:
    static std::u16string Fold(const std::u16string& name) {
        std::u16string folded = name;
        for (char16_t& c : folded) c = FoldCase(c);
        return folded;
    }

    std::map<std::u16string, std::u16string> values_;
};

PackageSettings Loaded(FakeProfile& profile) {
    PackageSettings settings;
    settings.LoadFrom(profile);
    return settings;
}

// Loads each text as the only value of one key and checks what `read` takes
// from the loaded record.
template <typename Value, typename Read>
void ExpectReadings(const char16_t* section, const char16_t* key,
                    std::initializer_list<std::pair<std::u16string, Value>> cases, Read read) {
    testing::ExpectEachResult<Value>(
        [&](const std::u16string& text) {
            FakeProfile profile;
            profile.Set(section, key, text);
            return read(Loaded(profile));
        },
        cases);
}

void ExpectDefaultExecution(const ExecutionSettings& execution) {
    EXPECT_FALSE(execution.ForceElevation);
    EXPECT_EQ(u"", execution.FileName);
    EXPECT_EQ(u"", execution.Options);
    EXPECT_EQ(u"", execution.AdditionalOptionsForGuiMode);
    EXPECT_EQ(u"", execution.AdditionalOptionsForSilentMode);
    EXPECT_FALSE(execution.waitTimed);
    EXPECT_FALSE(execution.waitForRelease);
    EXPECT_EQ(1500u, execution.WaitTimeout);
}

// Every field at its default but the product name.
void ExpectDefaultsBut(const PackageSettings& settings, const std::u16string& productName) {
    EXPECT_EQ(productName, settings.ProductName);
    EXPECT_EQ(u"", settings.WindowTitle);
    EXPECT_EQ(0, settings.TotalFileSize);
    EXPECT_FALSE(settings.AutoCloseWindowWhenSuccess);
    EXPECT_FALSE(settings.TervoUpdateMode);
    EXPECT_FALSE(settings.ShowMessageBox);
    EXPECT_FALSE(settings.ShowMessageBoxWhenSilent);
    EXPECT_FALSE(settings.DialogButtonType);
    EXPECT_FALSE(settings.CheckManufacturer);
    EXPECT_EQ(u"", settings.ManufacturerName);
    EXPECT_EQ(0x00050000u, settings.OSVersionMin);
    EXPECT_EQ(0u, settings.OSBuildMin);
    EXPECT_FALSE(settings.AllowProgramCompatibilityAssistantMode);
    EXPECT_FALSE(settings.CheckDigitalSignature);
    EXPECT_EQ(u"", settings.DigitalSignatureSignerName);
    EXPECT_FALSE(settings.SpecifiedExtractFolder);
    EXPECT_FALSE(settings.SelectExtractFolder);
    EXPECT_TRUE(settings.OpenExtractFolder);
    EXPECT_EQ(0, settings.TargetParentFolderType);
    EXPECT_EQ(u"", settings.TargetFolderName);
    EXPECT_TRUE(settings.WritableItems.empty());
    ExpectDefaultExecution(settings.Execution_x86);
    ExpectDefaultExecution(settings.Execution_x64);
}

// A profile that sets every key to something other than its default.
FakeProfile FullProfile() {
    FakeProfile profile;
    profile.Set(u"Package", u"ProductName", u"Widget Driver")
        .Set(u"Package", u"WindowTitle", u"Widget Driver Setup")
        .Set(u"Package", u"TotalFileSize", u"5368709120")
        .Set(u"Package", u"AutoCloseWindowWhenSuccess", u"true")
        .Set(u"Package", u"TervoUpdateMode", u"1")
        .Set(u"Message", u"ShowMessageBox", u"TRUE")
        .Set(u"Message", u"ShowMessageBoxWhenSilent", u"True")
        .Set(u"Message", u"DialogButtonType", u"1")
        .Set(u"Restriction", u"CheckManufacturer", u"1")
        .Set(u"Restriction", u"ManufacturerName", u"Norvik Corporation")
        .Set(u"Restriction", u"OSVersionMin", u"0x00060001")
        .Set(u"Restriction", u"OSBuildMin", u"0x1DB10001")
        .Set(u"Restriction", u"AllowProgramCompatibilityAssistantMode", u"true")
        .Set(u"Restriction", u"CheckDigitalSignature", u"true")
        .Set(u"Restriction", u"DigitalSignatureSignerName", u"Norvik Corporation")
        .Set(u"Extraction", u"SpecifiedExtractFolder", u"true")
        .Set(u"Extraction", u"SelectExtractFolder", u"true")
        .Set(u"Extraction", u"OpenExtractFolder", u"false")
        .Set(u"Extraction", u"TargetParentFolderType", u"-2")
        .Set(u"Extraction", u"TargetFolderName", u"Norvik\\Widget")
        .Set(u"Extraction", u"WritableItems", u".\\Logs\\|config.ini")
        .Set(u"Execution_x86", u"ForceElevation", u"true")
        .Set(u"Execution_x86", u"FileName", u"setup32.exe")
        .Set(u"Execution_x86", u"Options", u"/quiet")
        .Set(u"Execution_x86", u"AdditionalOptionsForGuiMode", u"/gui")
        .Set(u"Execution_x86", u"AdditionalOptionsForSilentMode", u"/silent")
        .Set(u"Execution_x86", u"WaitMode", u"1")
        .Set(u"Execution_x86", u"WaitTimeout", u"60")
        .Set(u"Execution_x64", u"FileName", u"setup64.exe")
        .Set(u"Execution_x64", u"Options", u"-x")
        .Set(u"Execution_x64", u"WaitMode", u"2")
        .Set(u"Execution_x64", u"WaitTimeout", u"0x20");
    return profile;
}

// --- load order and raw read --------------------------------------------

TEST(PackageSettings, ReadsEveryKeyOnceInLoadOrderWithTheErrorDefault) {
    FakeProfile profile;
    Loaded(profile);
    const std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"Package", u"ProductName"},
        {u"Package", u"WindowTitle"},
        {u"Package", u"TotalFileSize"},
        {u"Package", u"AutoCloseWindowWhenSuccess"},
        {u"Package", u"TervoUpdateMode"},
        {u"Message", u"ShowMessageBox"},
        {u"Message", u"ShowMessageBoxWhenSilent"},
        {u"Message", u"DialogButtonType"},
        {u"Restriction", u"CheckManufacturer"},
        {u"Restriction", u"ManufacturerName"},
        {u"Restriction", u"OSVersionMin"},
        {u"Restriction", u"OSBuildMin"},  // read even without OSVersionMin
        {u"Restriction", u"AllowProgramCompatibilityAssistantMode"},
        {u"Restriction", u"CheckDigitalSignature"},
        {u"Restriction", u"DigitalSignatureSignerName"},
        {u"Extraction", u"SpecifiedExtractFolder"},
        {u"Extraction", u"SelectExtractFolder"},
        {u"Extraction", u"OpenExtractFolder"},
        {u"Extraction", u"TargetParentFolderType"},
        {u"Extraction", u"TargetFolderName"},
        {u"Extraction", u"WritableItems"},
        {u"Execution_x86", u"ForceElevation"},
        {u"Execution_x86", u"FileName"},
        {u"Execution_x86", u"Options"},
        {u"Execution_x86", u"AdditionalOptionsForGuiMode"},
        {u"Execution_x86", u"AdditionalOptionsForSilentMode"},
        {u"Execution_x86", u"WaitMode"},
        {u"Execution_x86", u"WaitTimeout"},
        {u"Execution_x64", u"ForceElevation"},
        {u"Execution_x64", u"FileName"},
        {u"Execution_x64", u"Options"},
        {u"Execution_x64", u"AdditionalOptionsForGuiMode"},
        {u"Execution_x64", u"AdditionalOptionsForSilentMode"},
        {u"Execution_x64", u"WaitMode"},
        {u"Execution_x64", u"WaitTimeout"},
    };
    ASSERT_EQ(expected.size(), profile.calls.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(Narrow(expected[i].first + u"/" + expected[i].second));
        // Exact spelling: the names are those the settings files use.
        EXPECT_EQ(expected[i].first, profile.calls[i].section);
        EXPECT_EQ(expected[i].second, profile.calls[i].key);
        EXPECT_EQ(u"Error", profile.calls[i].defaultText);
        EXPECT_EQ(512u, profile.calls[i].capacity);
    }
}

TEST(PackageSettings, FullProfileFillsEveryField) {
    FakeProfile profile = FullProfile();
    testing::ExpectSameSettings(testing::WidgetDriverSettings(), Loaded(profile));
}

TEST(PackageSettings, OnlyPackageKeysLeaveEverythingElseAtDefaults) {
    FakeProfile profile;
    profile.Set(u"Package", u"ProductName", u"Tool")
        .Set(u"Package", u"PackageDateTime", u"2024-05-01T10:00:00")
        .Set(u"Package", u"Compression", u"LZX:21");
    const PackageSettings settings = Loaded(profile);
    ExpectDefaultsBut(settings, u"Tool");
}

TEST(PackageSettings, NamesMatchTheReaderWithoutRegardToCase) {
    FakeProfile profile;
    profile.Set(u"PACKAGE", u"productname", u"Lower")
        .Set(u"execution_X64", u"FILENAME", u"run.exe");
    const PackageSettings settings = Loaded(profile);
    EXPECT_EQ(u"Lower", settings.ProductName);
    EXPECT_EQ(u"run.exe", settings.Execution_x64.FileName);
}

// Which field each bool key lands in, and that each follows the bool rule.
struct BoolKey {
    const char16_t* section;
    const char16_t* key;
    bool PackageSettings::*field;
};

const BoolKey kBoolKeys[] = {
    {u"Package", u"AutoCloseWindowWhenSuccess", &PackageSettings::AutoCloseWindowWhenSuccess},
    {u"Package", u"TervoUpdateMode", &PackageSettings::TervoUpdateMode},
    {u"Message", u"ShowMessageBox", &PackageSettings::ShowMessageBox},
    {u"Message", u"ShowMessageBoxWhenSilent", &PackageSettings::ShowMessageBoxWhenSilent},
    {u"Restriction", u"CheckManufacturer", &PackageSettings::CheckManufacturer},
    {u"Restriction", u"AllowProgramCompatibilityAssistantMode",
     &PackageSettings::AllowProgramCompatibilityAssistantMode},
    {u"Restriction", u"CheckDigitalSignature", &PackageSettings::CheckDigitalSignature},
    {u"Extraction", u"SpecifiedExtractFolder", &PackageSettings::SpecifiedExtractFolder},
    {u"Extraction", u"SelectExtractFolder", &PackageSettings::SelectExtractFolder},
    {u"Extraction", u"OpenExtractFolder", &PackageSettings::OpenExtractFolder},
};

TEST(PackageSettings, EachBoolKeySetsOnlyItsOwnField) {
    for (const BoolKey& target : kBoolKeys) {
        SCOPED_TRACE(Narrow(target.key));
        // Everything true but the target, which reads "yes" (false).
        FakeProfile profile;
        for (const BoolKey& other : kBoolKeys) profile.Set(other.section, other.key, u"TRUE");
        profile.Set(target.section, target.key, u"yes");
        const PackageSettings settings = Loaded(profile);
        for (const BoolKey& other : kBoolKeys) {
            SCOPED_TRACE(Narrow(other.key));
            EXPECT_EQ(&other == &target ? false : true, settings.*(other.field));
        }
    }
}

TEST(PackageSettings, BoolValuesFollowTheTrueOrOneRule) {
    const std::pair<const char16_t*, bool> values[] = {
        {u"true", true}, {u"True", true}, {u"TRUE", true}, {u"1", true},
        {u"yes", false}, {u"2", false},   {u"0", false},   {u"false", false},
        {u"error", false},  // a value, not the sentinel
    };
    for (const auto& value : values) {
        SCOPED_TRACE(Narrow(value.first));
        FakeProfile profile;
        profile.Set(u"Restriction", u"CheckDigitalSignature", value.first)
            .Set(u"Extraction", u"OpenExtractFolder", value.first)
            .Set(u"Execution_x64", u"ForceElevation", value.first);
        const PackageSettings settings = Loaded(profile);
        EXPECT_EQ(value.second, settings.CheckDigitalSignature);
        EXPECT_EQ(value.second, settings.OpenExtractFolder);
        EXPECT_EQ(value.second, settings.Execution_x64.ForceElevation);
    }
}

// --- absent values -----------------------------------------------------------

TEST(PackageSettings, EmptyAndErrorValuesCountAsAbsent) {
    for (const char16_t* absent : {u"", u"Error"}) {
        SCOPED_TRACE(Narrow(absent));
        FakeProfile profile;
        for (const BoolKey& key : kBoolKeys) profile.Set(key.section, key.key, absent);
        profile.Set(u"Package", u"ProductName", absent)
            .Set(u"Package", u"TotalFileSize", absent)
            .Set(u"Message", u"DialogButtonType", absent)
            .Set(u"Restriction", u"OSVersionMin", absent)
            .Set(u"Restriction", u"OSBuildMin", u"0x10")
            .Set(u"Extraction", u"TargetParentFolderType", absent)
            .Set(u"Extraction", u"WritableItems", absent)
            .Set(u"Execution_x86", u"FileName", absent)
            .Set(u"Execution_x86", u"WaitMode", absent)
            .Set(u"Execution_x86", u"WaitTimeout", absent);
        ExpectDefaultsBut(Loaded(profile), u"");
    }
}

TEST(PackageSettings, LowerCaseErrorIsAValue) {
    FakeProfile profile;
    profile.Set(u"Package", u"ProductName", u"error")
        .Set(u"Package", u"WindowTitle", u"ERROR")
        .Set(u"Restriction", u"OSVersionMin", u"error")
        .Set(u"Execution_x86", u"WaitTimeout", u"error");
    const PackageSettings settings = Loaded(profile);
    EXPECT_EQ(u"error", settings.ProductName);
    EXPECT_EQ(u"ERROR", settings.WindowTitle);
    // Present but without digits: the number reads as 0.
    EXPECT_EQ(0u, settings.OSVersionMin);
    EXPECT_EQ(0u, settings.Execution_x86.WaitTimeout);
}

TEST(PackageSettings, LongValuesAreCutTo511Characters) {
    std::u16string longName;
    for (int i = 0; i < 600; ++i) longName += static_cast<char16_t>(u'A' + i % 26);
    std::u16string longItems;
    for (int i = 0; i < 120; ++i) longItems += u"item|";
    FakeProfile profile;
    profile.Set(u"Package", u"ProductName", longName)
        .Set(u"Execution_x86", u"Options", longName)
        .Set(u"Extraction", u"WritableItems", longItems);
    const PackageSettings settings = Loaded(profile);
    EXPECT_EQ(longName.substr(0, 511), settings.ProductName);
    EXPECT_EQ(longName.substr(0, 511), settings.Execution_x86.Options);
    // 511 characters hold 102 whole "item|" pieces and a cut "i".
    ASSERT_EQ(103u, settings.WritableItems.size());
    EXPECT_EQ(u"item", settings.WritableItems[101]);
    EXPECT_EQ(u"i", settings.WritableItems[102]);
}

// --- numbers -------------------------------------------------------------------

TEST(PackageSettings, WaitModeUsesBitsZeroAndOneOnly) {
    struct Case {
        const char16_t* text;
        bool timed;
        bool release;
    };
    const Case cases[] = {
        {u"0", false, false},   {u"1", true, false},   {u"2", false, true},
        {u"3", true, true},     {u"0x4", false, false}, {u"7", true, true},
        {u"0x6", false, true},  {u"010", false, false}, {u"011", true, false},
        {u"-1", true, true},    {u"abc", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.text));
        FakeProfile profile;
        profile.Set(u"Execution_x86", u"WaitMode", c.text)
            .Set(u"Execution_x64", u"WaitMode", c.text);
        const PackageSettings settings = Loaded(profile);
        EXPECT_EQ(c.timed, settings.Execution_x86.waitTimed);
        EXPECT_EQ(c.release, settings.Execution_x86.waitForRelease);
        EXPECT_EQ(c.timed, settings.Execution_x64.waitTimed);
        EXPECT_EQ(c.release, settings.Execution_x64.waitForRelease);
        EXPECT_EQ(1500u, settings.Execution_x86.WaitTimeout);
    }
}

TEST(PackageSettings, WaitTimeoutReadsAsUnsigned) {
    ExpectReadings<std::uint32_t>(
        u"Execution_x64", u"WaitTimeout",
        {{u"0", 0}, {u"30", 30}, {u"0x3C", 60}, {u"-1", 0xFFFFFFFF}, {u"99999999999", 0xFFFFFFFF}},
        [](const PackageSettings& settings) {
            EXPECT_EQ(1500u, settings.Execution_x86.WaitTimeout);
            return settings.Execution_x64.WaitTimeout;
        });
}

TEST(PackageSettings, OsVersionMinReadsHexAndOctal) {
    ExpectReadings<std::uint32_t>(
        u"Restriction", u"OSVersionMin",
        {{u"0x00060001", 0x00060001}, {u"0X00050001", 0x00050001}, {u"010", 8},
         {u"393217", 393217}, {u"6.1", 6}},
        [](const PackageSettings& settings) { return settings.OSVersionMin; });
}

TEST(PackageSettings, OsBuildMinIgnoredWithoutOsVersionMin) {
    FakeProfile profile;
    profile.Set(u"Restriction", u"OSBuildMin", u"0x1DB10000");
    const PackageSettings settings = Loaded(profile);
    EXPECT_EQ(0x00050000u, settings.OSVersionMin);
    EXPECT_EQ(0u, settings.OSBuildMin);
}

TEST(PackageSettings, OsVersionMinWithoutOsBuildMinGivesBuildZero) {
    PackageSettings settings;
    settings.OSBuildMin = 0x12345678;
    FakeProfile profile;
    profile.Set(u"Restriction", u"OSVersionMin", u"0x00060000");
    settings.LoadFrom(profile);
    EXPECT_EQ(0x00060000u, settings.OSVersionMin);
    EXPECT_EQ(0u, settings.OSBuildMin);
}

TEST(PackageSettings, OsBuildMinTakenWithOsVersionMin) {
    FakeProfile profile;
    profile.Set(u"Restriction", u"OSVersionMin", u"0x00060001")
        .Set(u"Restriction", u"OSBuildMin", u"0x1DB10001");
    const PackageSettings settings = Loaded(profile);
    EXPECT_EQ(0x00060001u, settings.OSVersionMin);
    EXPECT_EQ(0x1DB10001u, settings.OSBuildMin);
}

TEST(PackageSettings, DialogButtonTypeIsTrueOnlyForTheNumberOne) {
    ExpectReadings<bool>(u"Message", u"DialogButtonType",
                         {
                             {u"0x1", true},  {u"1", true},     {u"01", true},    {u"1abc", true},
                             {u"2", false},   {u"0", false},    {u"true", false}, {u"0x11", false},
                             {u"-1", false},  {u"4294967297", false},
                         },
                         [](const PackageSettings& settings) { return settings.DialogButtonType; });
}

TEST(PackageSettings, TotalFileSizeIs64BitAndSaturates) {
    ExpectReadings<std::int64_t>(
        u"Package", u"TotalFileSize",
        {
            {u"123", 123},
            {u"5000000000", 5000000000LL},
            {u"0x10", 16},
            {u"-5", -5},
            {u"9223372036854775808", std::numeric_limits<std::int64_t>::max()},
            {u"99999999999999999999999", std::numeric_limits<std::int64_t>::max()},
        },
        [](const PackageSettings& settings) { return settings.TotalFileSize; });
}

TEST(PackageSettings, TargetParentFolderTypeIsSigned) {
    ExpectReadings<std::int32_t>(
        u"Extraction", u"TargetParentFolderType",
        {{u"3", 3}, {u"-1", -1}, {u"0x7", 7}, {u"4294967295", 2147483647},
         {u"-99999999999", std::numeric_limits<std::int32_t>::min()}},
        [](const PackageSettings& settings) { return settings.TargetParentFolderType; });
}

// --- lists and reloading ----------------------------------------------------

TEST(PackageSettings, WritableItemsSkipEmptyPiecesAndStripLeadingDotsAndBackslashes) {
    FakeProfile profile;
    profile.Set(u"Extraction", u"WritableItems", u"|.\\Data\\|..\\..\\log.txt| Temp \\||");
    EXPECT_EQ((std::vector<std::u16string>{u"Data\\", u"log.txt", u" Temp \\"}),
              Loaded(profile).WritableItems);
}

TEST(PackageSettings, WritableItemsAreAppendedToTheList) {
    PackageSettings settings;
    settings.WritableItems = {u"kept"};
    FakeProfile first;
    first.Set(u"Extraction", u"WritableItems", u"a|b");
    settings.LoadFrom(first);
    FakeProfile second;
    second.Set(u"Extraction", u"WritableItems", u"b");
    settings.LoadFrom(second);
    EXPECT_EQ((std::vector<std::u16string>{u"kept", u"a", u"b", u"b"}), settings.WritableItems);
}

TEST(PackageSettings, ReloadResetsEveryOtherField) {
    PackageSettings settings;
    FakeProfile full = FullProfile();
    settings.LoadFrom(full);
    FakeProfile packageOnly;
    packageOnly.Set(u"Package", u"ProductName", u"Second");
    settings.LoadFrom(packageOnly);
    // The list was filled by the first load and is only ever appended to.
    EXPECT_EQ((std::vector<std::u16string>{u"Logs\\", u"config.ini"}), settings.WritableItems);
    settings.WritableItems.clear();
    ExpectDefaultsBut(settings, u"Second");
}

TEST(PackageSettings, ExecutionLoadResetsTheRecordAndReadsOneSection) {
    // Every field away from its default.
    ExecutionSettings execution{true, u"old.exe", u"old", u"old", u"old", true, true, 5};
    FakeProfile profile;
    profile.Set(u"Execution_x86", u"FileName", u"other.exe")
        .Set(u"Execution_x86", u"WaitMode", u"3");
    execution.LoadFrom(profile, u"Execution_x64");
    ExpectDefaultExecution(execution);
}

// --- choosing the execution section ---------------------------------------------

TEST(PackageSettings, ChoosesX64RecordForAmd64AndIa64Only) {
    FakeProfile profile = FullProfile();
    const PackageSettings settings = Loaded(profile);
    EXPECT_EQ(&settings.Execution_x64, &ChooseExecutionSettings(settings, 8664));
    EXPECT_EQ(&settings.Execution_x64, &ChooseExecutionSettings(settings, 2200));
    EXPECT_EQ(&settings.Execution_x86, &ChooseExecutionSettings(settings, 586));
    EXPECT_EQ(&settings.Execution_x86, &ChooseExecutionSettings(settings, 9));
    EXPECT_EQ(u"setup64.exe", ChooseExecutionSettings(settings, 8664).FileName);
    EXPECT_EQ(u"setup32.exe", ChooseExecutionSettings(settings, 586).FileName);
}

TEST(PackageSettings, X86OnlyPackageStartsNothingOnX64) {
    FakeProfile profile;
    profile.Set(u"Execution_x86", u"FileName", u"setup.exe")
        .Set(u"Execution_x86", u"Options", u"/s");
    const PackageSettings settings = Loaded(profile);
    EXPECT_EQ(u"", ChooseExecutionSettings(settings, 8664).FileName);
    EXPECT_EQ(u"", ChooseExecutionSettings(settings, 2200).FileName);
    EXPECT_EQ(u"setup.exe", ChooseExecutionSettings(settings, 586).FileName);
}

TEST(PackageSettings, X64OnlyPackageStartsNothingOnX86) {
    FakeProfile profile;
    profile.Set(u"Execution_x64", u"FileName", u"setup.exe");
    const PackageSettings settings = Loaded(profile);
    EXPECT_EQ(u"", ChooseExecutionSettings(settings, 586).FileName);
    EXPECT_EQ(u"setup.exe", ChooseExecutionSettings(settings, 8664).FileName);
}

}  // namespace
}  // namespace quarry
