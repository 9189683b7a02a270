// The restriction checks of the extraction worker, called on this thread
// with a stand-in question that records each report and answers it. The
// version words are set as the measurement would leave them (Wine cannot
// put a program in compatibility mode: it reports one version to both of its
// version functions); the compatibility entries are real registry values in
// the test prefix, named by a scratch program path.
#include "restrictions/Restrictions.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/WinTestSupport.h"
#include "restrictions/RestrictionRules.h"

namespace quarry {
namespace {

constexpr std::uint32_t Word(std::uint32_t high, std::uint32_t low) { return high << 16 | low; }

const wchar_t kLayers[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";
const wchar_t kPersisted[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility "
    L"Assistant\\Persisted";

struct Report {
    HResult code;
    VersionRecord record;
};

std::vector<Report> gReports;
INT_PTR gAnswer = IDNO;

DialogAnswer StandInQuestion(HResult code, std::intptr_t argument) {
    Report report = {code, {}};
    if (report.code == kResultWindowsTooOld) {
        report.record = *reinterpret_cast<const VersionRecord*>(argument);
    }
    gReports.push_back(report);
    return gAnswer == IDYES ? DialogAnswer::Proceed : DialogAnswer::Decline;
}

volatile LONG gReads = 0;
void WineLikeReader(ComputerSystemValues& values) {
    ::InterlockedIncrement(&gReads);
    values.manufacturerRead = values.modelRead = true;
    values.manufacturer = u"The Wine Project";
    values.model = u"Wine";
}

bool gSignatureGood = true;
bool FakeSignature(const std::u16string&, const std::u16string&) { return gSignatureGood; }

WORD Amd64() { return PROCESSOR_ARCHITECTURE_AMD64; }

class RestrictionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        programPath = folder / u"Setup.exe";
        version.trueVersion = version.reportedVersion = Word(6, 1);
        version.trueBuild = version.reportedBuild = Word(7601, 1);
        functions.verifySignature = FakeSignature;
        functions.readComputerSystem = WineLikeReader;
        gReports.clear();
    }
    void TearDown() override {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            for (const wchar_t* key : {kLayers, kPersisted}) {
                HKEY opened = nullptr;
                if (::RegOpenKeyExW(root, key, 0, KEY_WRITE, &opened) != ERROR_SUCCESS) continue;
                ::RegDeleteValueW(opened, Wide(programPath));
                ::RegCloseKey(opened);
            }
        }
    }

    HResult Check() {
        errorReported = false;
        const RestrictionCheck check = {settings, programPath,    version, nullptr,
                                        askAfterFailure, StandInQuestion, functions};
        return CheckRestrictions(check, errorReported);
    }

    void SetEntry(HKEY root, const wchar_t* key, REGSAM view = 0) {
        HKEY opened = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE | view,
                                                   nullptr, &opened, nullptr));
        const wchar_t layer[] = L"~ WINXPSP3";
        EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExW(opened, Wide(programPath), 0, REG_SZ,
                                                  reinterpret_cast<const BYTE*>(layer),
                                                  sizeof layer));
        ::RegCloseKey(opened);
    }

    testing::ScratchFolder folder;
    PackageSettings settings;
    std::u16string programPath;
    WindowsVersionWords version;
    bool askAfterFailure = false;
    RestrictionFunctions functions;
    bool errorReported = false;
};

TEST_F(RestrictionsTest, WindowsVersionAndBuildAreReportedEvenWithoutAsking) {
    const struct {
        std::uint32_t versionMin, buildMin;
        HResult result;
    } cases[] = {
        {Word(5, 0), 0, kResultOk},
        {Word(6, 2), 0, kResultWindowsTooOld},
        {Word(6, 1), Word(7601, 0), kResultOk},
        {Word(6, 1), Word(7601, 1), kResultOk},
        {Word(6, 1), Word(7602, 0), kResultWindowsTooOld},
        {Word(6, 1), Word(7601, 2), kResultWindowsTooOld},
        {Word(6, 0), Word(9999, 0), kResultOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.versionMin << " " << c.buildMin);
        settings.OSVersionMin = c.versionMin;
        settings.OSBuildMin = c.buildMin;
        gReports.clear();
        EXPECT_EQ(c.result, Check());
        EXPECT_EQ(c.result != kResultOk, errorReported);
        ASSERT_EQ(c.result != kResultOk ? 1u : 0u, gReports.size());
        if (c.result == kResultOk) continue;
        EXPECT_EQ(kResultWindowsTooOld, gReports[0].code);
        EXPECT_EQ(c.buildMin, gReports[0].record.osBuildMin);
        EXPECT_EQ(c.versionMin, gReports[0].record.osVersionMin);
        EXPECT_EQ(Word(7601, 1), gReports[0].record.trueBuild);
        EXPECT_EQ(Word(6, 1), gReports[0].record.trueVersion);
    }
    // A Yes goes on.
    settings.OSVersionMin = Word(6, 2);
    gAnswer = IDYES;
    EXPECT_EQ(kResultOk, Check());
    EXPECT_FALSE(errorReported);
}

TEST_F(RestrictionsTest, ManufacturerIsQueriedOnceAndComparedExactly) {
    settings.CheckManufacturer = true;
    const struct {
        const char16_t* name;
        HResult result;
    } cases[] = {{u"The Wine Project", kResultOk},
                 {u"the wine project", kResultWrongManufacturer},
                 {u"Norvik Corporation", kResultNotMakersComputer},
                 {u"", kResultWrongManufacturer}};
    for (const auto& c : cases) {
        settings.ManufacturerName = c.name;
        EXPECT_EQ(c.result, Check());
        // Not asked: the workflow reports the failure at the end.
        EXPECT_FALSE(errorReported);
    }
    EXPECT_TRUE(gReports.empty());
    EXPECT_EQ(1, gReads) << "a second check in the same process does not query again";
}

TEST_F(RestrictionsTest, AskingTurnsEachFailureIntoAQuestion) {
    askAfterFailure = true;
    settings.CheckDigitalSignature = true;
    settings.CheckManufacturer = true;
    settings.ManufacturerName = u"Norvik Corporation";
    gSignatureGood = false;
    gAnswer = IDNO;
    EXPECT_EQ(kResultSignatureInvalid, Check());
    EXPECT_TRUE(errorReported);
    gAnswer = IDYES;
    EXPECT_EQ(kResultOk, Check());
    ASSERT_EQ(3u, gReports.size());
    EXPECT_EQ(kResultSignatureInvalid, gReports[0].code);
    EXPECT_EQ(kResultSignatureInvalid, gReports[1].code);
    EXPECT_EQ(kResultNotMakersComputer, gReports[2].code);
    gSignatureGood = true;
}

// Yes to message 310: the run goes on in compatibility mode.
TEST_F(RestrictionsTest, YesToCompatibilityModeCarriesOn) {
    version.reportedVersion = Word(5, 1);
    version.reportedBuild = Word(2600, 3);
    askAfterFailure = true;
    gAnswer = IDYES;
    EXPECT_EQ(kResultOk, Check());
    ASSERT_EQ(1u, gReports.size());
    EXPECT_EQ(kResultCompatibilityMode, gReports[0].code);

    gAnswer = IDNO;
    EXPECT_EQ(kResultCompatibilityMode, Check());
    EXPECT_TRUE(errorReported);
    settings.AllowProgramCompatibilityAssistantMode = true;
    EXPECT_EQ(kResultOk, Check());
}

// A compatibility entry for the program's path in any of the four places is
// found and removed, and the run ends with 0x8004000C. The 64-bit view is
// looked at only on a 64-bit processor; the test prefix is a 32-bit one,
// where that view is the same key, so it poses as a 64-bit computer.
TEST_F(RestrictionsTest, CompatibilityEntryIsFoundRemovedAndTestedAgain) {
    version.reportedVersion = Word(6, 0);
    const struct {
        HKEY root;
        const wchar_t* key;
        REGSAM view;
    } places[] = {{HKEY_CURRENT_USER, kLayers, 0},
                  {HKEY_CURRENT_USER, kPersisted, 0},
                  {HKEY_LOCAL_MACHINE, kLayers, 0},
                  {HKEY_LOCAL_MACHINE, kLayers, KEY_WOW64_64KEY}};
    for (const auto& place : places) {
        SetEntry(place.root, place.key, place.view);
        EXPECT_TRUE(IsCompatibilityEntryPresent(programPath));
        functions.compatibility.nativeProcessorArchitecture = Amd64;
        EXPECT_EQ(kResultCompatibilityModeRemoved, Check());
        EXPECT_FALSE(IsCompatibilityEntryPresent(programPath));
        EXPECT_FALSE(errorReported);
    }
    // Without an entry there is nothing to remove.
    EXPECT_EQ(kResultCompatibilityMode, Check());

    // Before Windows Vista the registry is not touched.
    SetEntry(HKEY_CURRENT_USER, kLayers);
    version.trueVersion = Word(5, 2);
    version.reportedVersion = Word(5, 1);
    EXPECT_EQ(kResultCompatibilityMode, Check());
    EXPECT_TRUE(IsCompatibilityEntryPresent(programPath));
    EXPECT_TRUE(gReports.empty());
}

TEST_F(RestrictionsTest, OtherProgramsEntriesAreLeftAlone) {
    const std::u16string mine = programPath;
    programPath = folder / u"Other.exe";
    SetEntry(HKEY_CURRENT_USER, kLayers);
    programPath = mine;
    EXPECT_FALSE(IsCompatibilityEntryPresent(mine));
    EXPECT_EQ(kResultOk, RemoveCompatibilityEntries(mine));
    EXPECT_TRUE(IsCompatibilityEntryPresent(folder / u"Other.exe"));
    EXPECT_EQ(kResultOk, RemoveCompatibilityEntries(folder / u"Other.exe"));
    EXPECT_FALSE(IsCompatibilityEntryPresent(folder / u"Other.exe"));
}

}  // namespace
}  // namespace quarry
