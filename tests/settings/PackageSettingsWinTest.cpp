#include "settings/PackageSettings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <limits>
#include <string>
#include <vector>

#include "common/Text.h"
#include "common/WinResult.h"
#include "common/WinTestSupport.h"
#include "settings/IniTokenizer.h"
#include "settings/SettingsRules.h"
#include "settings/SettingsTestSupport.h"

namespace quarry {
namespace {

using testing::ScratchFolder;
using testing::WriteUtf16File;

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

// Writes `text` as a settings file (UTF-16LE with a byte-order mark) into
// the folder and returns its path. Each file gets its own name: the profile
// reader may keep a file it has read cached.
std::u16string WriteSettings(const ScratchFolder& folder, const std::u16string& name,
                             const std::u16string& text) {
    const std::u16string path = folder / name;
    EXPECT_TRUE(WriteUtf16File(path, text)) << Narrow(path);
    return path;
}

// The record loaded from `text` written as a settings file into a fresh
// folder; a failed load is a test failure.
PackageSettings LoadedFromFile(const std::u16string& text) {
    ScratchFolder folder;
    PackageSettings settings;
    EXPECT_EQ(kResultOk, settings.Load(WriteSettings(folder, u"Settings.ini", text)));
    return settings;
}

const std::u16string kFullFile =
    u"; written by the packaging step\r\n"
    u"[Package]\r\n"
    u"ProductName=Widget Driver\r\n"
    u"WindowTitle=Widget Driver Setup \u00C5\u03A9\u0416\r\n"
    u"PackageDateTime=2024-05-01T10:00:00\r\n"
    u"Compression=LZX:21\r\n"
    u"TotalFileSize=0x140000000\r\n"
    u"AutoCloseWindowWhenSuccess=True\r\n"
    u"TervoUpdateMode=1\r\n"
    u"\r\n"
    u"[Message]\r\n"
    u"ShowMessageBox=TRUE\r\n"
    u"ShowMessageBoxWhenSilent=yes\r\n"
    u"DialogButtonType=0x1\r\n"
    u"\r\n"
    u"[Restriction]\r\n"
    u"CheckManufacturer=true\r\n"
    u"ManufacturerName=Norvik Corporation\r\n"
    u"OSVersionMin=0x00060001\r\n"
    u"OSBuildMin=0x1DB10001\r\n"
    u"AllowProgramCompatibilityAssistantMode=1\r\n"
    u"CheckDigitalSignature=true\r\n"
    u"DigitalSignatureSignerName=Norvik Corporation\r\n"
    u"\r\n"
    u"[Extraction]\r\n"
    u"SpecifiedExtractFolder=true\r\n"
    u"SelectExtractFolder=2\r\n"
    u"OpenExtractFolder=false\r\n"
    u"TargetParentFolderType=-1\r\n"
    u"TargetFolderName=Norvik\\Widget\r\n"
    u"WritableItems=|.\\Logs\\|..\\config.ini||\r\n"
    u"\r\n"
    u"[Execution_x86]\r\n"
    u"ForceElevation=true\r\n"
    u"FileName=setup32.exe\r\n"
    u"Options=/quiet /log \"%QUARRYTOOLTEMP%\\setup.log\"\r\n"
    u"AdditionalOptionsForGuiMode=/gui\r\n"
    u"AdditionalOptionsForSilentMode=/silent\r\n"
    u"WaitMode=3\r\n"
    u"WaitTimeout=600\r\n"
    u"\r\n"
    u"[Execution_x64]\r\n"
    u"FileName=setup64.exe\r\n"
    u"WaitMode=0x4\r\n";

TEST(PackageSettingsWin, LoadsEverySectionOfARealFile) {
    const PackageSettings settings = LoadedFromFile(kFullFile);

    // The shared full package, but for what this file says otherwise.
    PackageSettings expected = testing::WidgetDriverSettings();
    expected.WindowTitle = u"Widget Driver Setup \u00C5\u03A9\u0416";
    expected.TotalFileSize = 0x140000000LL;
    expected.ShowMessageBoxWhenSilent = false;
    expected.SelectExtractFolder = false;
    expected.TargetParentFolderType = -1;
    expected.Execution_x86.Options = u"/quiet /log \"%QUARRYTOOLTEMP%\\setup.log\"";
    expected.Execution_x86.waitForRelease = true;
    expected.Execution_x86.WaitTimeout = 600;
    expected.Execution_x64.Options = u"";
    expected.Execution_x64.waitForRelease = false;
    expected.Execution_x64.WaitTimeout = 1500;
    testing::ExpectSameSettings(expected, settings);
}

// The core's reading of a settings file (IniTextProfile, which quarrypack
// check and create use) against the platform's profile reader, over the
// lines where a hand-written reader is easiest to get wrong.
TEST(PackageSettingsWin, TextProfileReadsAsTheProfileReaderDoes) {
    const std::u16string text =
        u"Orphan=before any section\r\n"
        u"[Package]\r\n"
        u"  ProductName  =  Widget Tool  \r\n"
        u"productname=Second\r\n"
        u";WindowTitle=commented out\r\n"
        u"Bare\r\n"
        u"Empty=\r\n"
        u"Quoted=\"Widget\"\r\n"
        u"Single='Widget'\r\n"
        u"Inner=\"a\" \"b\"\r\n"
        u"Unmatched=\"a'\r\n"
        u"Equals=a=b\r\n"
        u"[Message\r\n"
        u"AfterBroken=still [Package]\r\n"
        u" [ Restriction ] \r\n"
        u"ManufacturerName=Norvik\r\n"
        u"[PACKAGE]\r\n"
        u"TotalFileSize=5\r\n"
        u"[Long]\r\n"
        u"Value=" + std::u16string(600, u'x') + u"\r\n";
    ScratchFolder folder;
    const std::u16string path = WriteSettings(folder, u"Tokens.ini", text);
    IniTextProfile profile(text);
    const struct {
        const char16_t* section;
        const char16_t* key;
    } cases[] = {
        {u"Package", u"Orphan"},      {u"Package", u"ProductName"}, {u"Package", u"WindowTitle"},
        {u"Package", u"Bare"},        {u"Package", u"Empty"},       {u"Package", u"Quoted"},
        {u"Package", u"Single"},      {u"Package", u"Inner"},       {u"Package", u"Unmatched"},
        {u"Package", u"Equals"},      {u"Package", u"AfterBroken"}, {u"Restriction", u"ManufacturerName"},
        {u"Package", u"TotalFileSize"}, {u"Long", u"Value"},        {u"Missing", u"Key"},
    };
    for (const auto& c : cases) {
        std::vector<wchar_t> buffer(kSettingsValueCapacity, L'\0');
        const DWORD length = ::GetPrivateProfileStringW(
            Wide(c.section), Wide(c.key), L"Error", buffer.data(),
            static_cast<DWORD>(buffer.size()), Wide(path));
        EXPECT_EQ(FromWide(buffer.data(), length),
                  profile.Read(c.section, c.key, kSettingsAbsentText, kSettingsValueCapacity))
            << Narrow(c.section) << "/" << Narrow(c.key);
    }
}

// quarrypack check splits lines at CR LF, LF and a CR alone; the profile
// reader must read a file in each form as the CR LF original.
TEST(PackageSettingsWin, EveryLineEndReadsAsCrLf) {
    ScratchFolder folder;
    PackageSettings original;
    ASSERT_EQ(kResultOk, original.Load(WriteSettings(folder, u"Settings.ini", kFullFile)));
    for (const char16_t* end : {u"\n", u"\r"}) {
        std::u16string text;
        for (std::size_t at = 0; at < kFullFile.size(); ++at) {
            if (kFullFile.compare(at, 2, u"\r\n") == 0) {
                text += end;
                ++at;
            } else {
                text += kFullFile[at];
            }
        }
        PackageSettings settings;
        ASSERT_EQ(kResultOk, settings.Load(WriteSettings(folder, u"Other.ini", text)));
        EXPECT_EQ(original.WindowTitle, settings.WindowTitle);
        EXPECT_EQ(original.TotalFileSize, settings.TotalFileSize);
        EXPECT_EQ(original.ManufacturerName, settings.ManufacturerName);
        EXPECT_EQ(original.WritableItems, settings.WritableItems);
        EXPECT_EQ(original.TargetFolderName, settings.TargetFolderName);
        for (auto member : {&PackageSettings::Execution_x86, &PackageSettings::Execution_x64}) {
            EXPECT_EQ((original.*member).FileName, (settings.*member).FileName);
            EXPECT_EQ((original.*member).Options, (settings.*member).Options);
            EXPECT_EQ((original.*member).WaitTimeout, (settings.*member).WaitTimeout);
        }
        EXPECT_EQ(u"setup32.exe", settings.Execution_x86.FileName);
    }
}

TEST(PackageSettingsWin, FileWithOnlyPackageKeysGivesDefaults) {
    const PackageSettings settings = LoadedFromFile(
        u"[Package]\r\nProductName=Tool\r\nTotalFileSize=42\r\n");
    EXPECT_EQ(u"Tool", settings.ProductName);
    EXPECT_EQ(42, settings.TotalFileSize);
    EXPECT_FALSE(settings.CheckManufacturer);
    EXPECT_FALSE(settings.CheckDigitalSignature);
    EXPECT_FALSE(settings.AllowProgramCompatibilityAssistantMode);
    EXPECT_EQ(0x00050000u, settings.OSVersionMin);
    EXPECT_EQ(0u, settings.OSBuildMin);
    EXPECT_TRUE(settings.OpenExtractFolder);
    EXPECT_TRUE(settings.WritableItems.empty());
    for (const ExecutionSettings* execution : {&settings.Execution_x86, &settings.Execution_x64}) {
        EXPECT_EQ(u"", execution->FileName);
        EXPECT_EQ(1500u, execution->WaitTimeout);
        EXPECT_FALSE(execution->waitTimed);
        EXPECT_FALSE(execution->waitForRelease);
    }
}

TEST(PackageSettingsWin, ValueOf600CharactersIsCutTo511) {
    std::u16string longValue;
    for (int i = 0; i < 600; ++i) longValue += static_cast<char16_t>(u'a' + i % 26);
    const PackageSettings settings = LoadedFromFile(
        u"[Package]\r\nProductName=" + longValue + u"\r\n[Execution_x86]\r\nOptions=" +
            longValue + u"\r\n");
    EXPECT_EQ(longValue.substr(0, 511), settings.ProductName);
    EXPECT_EQ(longValue.substr(0, 511), settings.Execution_x86.Options);
}

TEST(PackageSettingsWin, StoredErrorReadsAsAbsentButLowerCaseErrorIsAValue) {
    const PackageSettings settings = LoadedFromFile(
        u"[Package]\r\n"
        u"ProductName=Error\r\n"
        u"WindowTitle=error\r\n"
        u"[Extraction]\r\n"
        u"OpenExtractFolder=Error\r\n"
        u"TargetFolderName=ERROR\r\n"
        u"[Execution_x64]\r\n"
        u"WaitTimeout=Error\r\n");
    EXPECT_EQ(u"", settings.ProductName);
    EXPECT_EQ(u"error", settings.WindowTitle);
    EXPECT_TRUE(settings.OpenExtractFolder);
    EXPECT_EQ(u"ERROR", settings.TargetFolderName);
    EXPECT_EQ(1500u, settings.Execution_x64.WaitTimeout);
}

TEST(PackageSettingsWin, EmptyValueIsAbsent) {
    const PackageSettings settings = LoadedFromFile(
        u"[Restriction]\r\n"
        u"OSVersionMin=\r\n"
        u"OSBuildMin=0x10\r\n"
        u"[Extraction]\r\n"
        u"OpenExtractFolder=\r\n"
        u"WritableItems=\r\n"
        u"[Execution_x86]\r\n"
        u"WaitTimeout=\r\n");
    EXPECT_EQ(0x00050000u, settings.OSVersionMin);
    EXPECT_EQ(0u, settings.OSBuildMin);
    EXPECT_TRUE(settings.OpenExtractFolder);
    EXPECT_TRUE(settings.WritableItems.empty());
    EXPECT_EQ(1500u, settings.Execution_x86.WaitTimeout);
}

TEST(PackageSettingsWin, OsBuildMinIgnoredWithoutOsVersionMin) {
    const PackageSettings settings = LoadedFromFile(u"[Restriction]\r\nOSBuildMin=0x1DB10000\r\n");
    EXPECT_EQ(0x00050000u, settings.OSVersionMin);
    EXPECT_EQ(0u, settings.OSBuildMin);
}

TEST(PackageSettingsWin, SectionAndKeyNamesAreCaseInsensitive) {
    const PackageSettings settings = LoadedFromFile(
        u"[PACKAGE]\r\n"
        u"productname=Lower Key\r\n"
        u"[extraction]\r\n"
        u"OPENEXTRACTFOLDER=0\r\n"
        u"[execution_X64]\r\n"
        u"filename=run64.exe\r\n"
        u"WAITMODE=1\r\n");
    EXPECT_EQ(u"Lower Key", settings.ProductName);
    EXPECT_FALSE(settings.OpenExtractFolder);
    EXPECT_EQ(u"run64.exe", settings.Execution_x64.FileName);
    EXPECT_TRUE(settings.Execution_x64.waitTimed);
}

// --- missing files ------------------------------------------------------------

PackageSettings Marked() {
    PackageSettings settings;
    settings.ProductName = u"before";
    settings.OpenExtractFolder = false;
    settings.OSVersionMin = 0x000A0000;
    settings.WritableItems = {u"x"};
    settings.Execution_x86.FileName = u"before.exe";
    settings.Execution_x64.WaitTimeout = 7;
    return settings;
}

void ExpectMarked(const PackageSettings& settings) {
    testing::ExpectSameSettings(Marked(), settings);
}

// An execution record away from its defaults, to see a load leave it or reset it.
ExecutionSettings MarkedExecution() {
    ExecutionSettings execution;
    execution.FileName = u"before.exe";
    execution.waitTimed = true;
    execution.WaitTimeout = 9;
    return execution;
}

TEST(PackageSettingsWin, MissingFileIsFileNotFoundAndLeavesTheRecord) {
    ScratchFolder folder;
    PackageSettings settings = Marked();
    EXPECT_EQ(MakeResult(0x80070002), settings.Load(folder / u"Settings.ini"));
    ExpectMarked(settings);
    EXPECT_EQ(MakeResult(0x80070002), settings.Load(folder / u"no such folder\\Settings.ini"));
    ExpectMarked(settings);
}

TEST(PackageSettingsWin, FolderPathIsFileNotFound) {
    ScratchFolder folder;
    const std::u16string sub = folder / u"Settings.ini";
    ASSERT_TRUE(::CreateDirectoryW(Wide(sub), nullptr));
    PackageSettings settings = Marked();
    EXPECT_EQ(MakeResult(0x80070002), settings.Load(sub));
    ExpectMarked(settings);
    EXPECT_EQ(MakeResult(0x80070002), settings.Load(folder.Path()));
    ExpectMarked(settings);
}

TEST(PackageSettingsWin, ExecutionLoadIsFalseForMissingFileAndKeepsTheRecord) {
    ScratchFolder folder;
    ExecutionSettings execution = MarkedExecution();
    EXPECT_FALSE(execution.Load(folder / u"Settings.ini", u"Execution_x86"));
    EXPECT_EQ(testing::FieldsOf(MarkedExecution()), testing::FieldsOf(execution));
}

TEST(PackageSettingsWin, ExecutionLoadResetsAndReadsItsSection) {
    ScratchFolder folder;
    const std::u16string path = WriteSettings(folder, u"Settings.ini",
                                              u"[Execution_x86]\r\n"
                                              u"FileName=x86.exe\r\n"
                                              u"[Execution_x64]\r\n"
                                              u"Options=-q\r\n"
                                              u"WaitMode=2\r\n");
    ExecutionSettings execution = MarkedExecution();
    EXPECT_TRUE(execution.Load(path, u"Execution_x64"));
    EXPECT_EQ(u"", execution.FileName);
    EXPECT_EQ(u"-q", execution.Options);
    EXPECT_FALSE(execution.waitTimed);
    EXPECT_TRUE(execution.waitForRelease);
    EXPECT_EQ(1500u, execution.WaitTimeout);
}

// The profile reader would look for a bare name in the Windows folder; the
// load reads the file the existence check found, in the current folder.
TEST(PackageSettingsWin, RelativePathReadsTheFileInTheCurrentFolder) {
    ScratchFolder folder;
    WriteSettings(folder, u"Relative.ini", u"[Package]\r\nProductName=Relative\r\n");
    wchar_t previous[MAX_PATH + 1] = {};
    ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH, previous));
    ASSERT_TRUE(::SetCurrentDirectoryW(Wide(folder.Path())));
    PackageSettings settings;
    const HResult result = settings.Load(u"Relative.ini");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(kResultOk, result);
    EXPECT_EQ(u"Relative", settings.ProductName);
}

// --- execution section choice ----------------------------------------------------

TEST(PackageSettingsWin, ChoosesTheExecutionSectionByProcessorType) {
    const PackageSettings settings = LoadedFromFile(
        u"[Execution_x86]\r\nFileName=x86.exe\r\n"
        u"[Execution_x64]\r\nFileName=x64.exe\r\n");
    EXPECT_EQ(u"x64.exe", ChooseExecutionSettings(settings, PROCESSOR_AMD_X8664).FileName);
    EXPECT_EQ(u"x64.exe", ChooseExecutionSettings(settings, PROCESSOR_INTEL_IA64).FileName);
    EXPECT_EQ(u"x86.exe", ChooseExecutionSettings(settings, PROCESSOR_INTEL_PENTIUM).FileName);
    EXPECT_EQ(u"x86.exe", ChooseExecutionSettings(settings, PROCESSOR_INTEL_386).FileName);
}

TEST(PackageSettingsWin, X86OnlyPackageStartsNothingOnX64) {
    const PackageSettings settings = LoadedFromFile(u"[Execution_x86]\r\nFileName=setup.exe\r\n");
    EXPECT_EQ(u"", ChooseExecutionSettings(settings, PROCESSOR_AMD_X8664).FileName);
    EXPECT_EQ(u"setup.exe", ChooseExecutionSettings(settings, PROCESSOR_INTEL_PENTIUM).FileName);
}

// A 32-bit process runs under WOW64 exactly when the computer is 64-bit;
// the choice must see through it (GetSystemInfo would report x86 there). A
// 64-bit build of the tests runs on a 64-bit computer only.
TEST(PackageSettingsWin, ChoiceFollowsTheNativeProcessor) {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    BOOL wow64 = FALSE;
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    if (isWow64Process) {
        ASSERT_TRUE(isWow64Process(::GetCurrentProcess(), &wow64));
    }

    PackageSettings settings;
    settings.Execution_x86.FileName = u"x86.exe";
    settings.Execution_x64.FileName = u"x64.exe";
    const bool x64Computer = wow64 || sizeof(void*) == 8;
    EXPECT_EQ(x64Computer ? u"x64.exe" : u"x86.exe", ChooseExecutionSettings(settings).FileName);
    EXPECT_EQ(x64Computer, UsesX64ExecutionSection(NativeProcessorType()));
}

// --- the number rules against the C runtime ------------------------------------

// The rules are written to read numbers as the runtime's wcstoul, wcstol and
// _wcstoi64 do with base 0; this runtime is the reference.
TEST(PackageSettingsWin, NumberRulesMatchTheCRuntime) {
    const char16_t* const inputs[] = {
        u"0",          u"7",           u"1500",        u"0x10",         u"0X1f",
        u"010",        u"08",          u"019",         u"00x10",        u" +7",
        u"\t 42",      u"+ 7",         u"--1",         u"12abc",        u"3.9",
        u"abc",        u"",            u"0x",          u"0xg",          u"-",
        u"-1",         u"-0x10",       u"-4294967295", u"4294967295",   u"4294967296",
        u"0x100000000", u"2147483647", u"2147483648",  u"-2147483648",  u"-2147483649",
        u"0x80000000", u"-0x80000000", u"99999999999", u"0x00060001",   u"0x1DB10001",
        u"9223372036854775807",        u"9223372036854775808",          u"0x7FFFFFFFFFFFFFFF",
        u"99999999999999999999999",
    };
    for (const char16_t* input : inputs) {
        SCOPED_TRACE(Narrow(input));
        const wchar_t* wide = reinterpret_cast<const wchar_t*>(input);
        EXPECT_EQ(static_cast<std::uint32_t>(std::wcstoul(wide, nullptr, 0)),
                  ParseSettingsUnsigned(input));
        EXPECT_EQ(static_cast<std::int32_t>(std::wcstol(wide, nullptr, 0)),
                  ParseSettingsSigned(input));
        EXPECT_EQ(static_cast<std::int64_t>(_wcstoi64(wide, nullptr, 0)),
                  ParseSettingsInt64(input));
    }
}

// Below -0xFFFFFFFF the runtimes part ways for wcstoul: Wine's msvcrt gives
// 1, the Microsoft runtime's own code 0xFFFFFFFF, which is what the unsigned
// rule keeps (SettingsRulesTest). The signed forms agree.
TEST(PackageSettingsWin, SignedRulesMatchTheCRuntimeForLargeNegativeNumbers) {
    const char16_t* const inputs[] = {
        u"-4294967296", u"-99999999999", u"-9223372036854775807", u"-9223372036854775808",
        u"-9223372036854775809", u"-0x8000000000000000", u"-99999999999999999999999",
    };
    for (const char16_t* input : inputs) {
        SCOPED_TRACE(Narrow(input));
        const wchar_t* wide = reinterpret_cast<const wchar_t*>(input);
        EXPECT_EQ(static_cast<std::int32_t>(std::wcstol(wide, nullptr, 0)),
                  ParseSettingsSigned(input));
        EXPECT_EQ(static_cast<std::int64_t>(_wcstoi64(wide, nullptr, 0)),
                  ParseSettingsInt64(input));
    }
}

}  // namespace
}  // namespace quarry
