#include "restrictions/WindowsVersion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <string>

#include "common/Text.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

// A Windows to pose as. VerifyVersionInfoW is modelled as Windows has it:
// major, minor and the service-pack numbers compare as one version under
// the condition of the first of them in the mask; the build compares on
// its own.
struct FakeWindows {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;
    WORD servicePackMajor = 0;
    WORD servicePackMinor = 0;
    bool matchNothing = false;
};

FakeWindows gFake;
std::uint64_t gVerifyCalls = 0;
DWORD gLastTypeMask = 0;
DWORDLONG gLastConditionMask = 0;
OSVERSIONINFOEXW gLastInfo = {};

BYTE ConditionFor(DWORDLONG mask, DWORD typeBit) {
    int index = 0;
    while (!(typeBit & 1)) {
        typeBit >>= 1;
        ++index;
    }
    return static_cast<BYTE>((mask >> (index * 3)) & 7);
}

bool Compare(DWORDLONG actual, DWORDLONG wanted, BYTE condition) {
    switch (condition) {
    case VER_EQUAL:
        return actual == wanted;
    case VER_GREATER:
        return actual > wanted;
    case VER_GREATER_EQUAL:
        return actual >= wanted;
    case VER_LESS:
        return actual < wanted;
    case VER_LESS_EQUAL:
        return actual <= wanted;
    default:
        ADD_FAILURE() << "condition " << int(condition);
        return false;
    }
}

BOOL WINAPI FakeVerifyVersionInfo(LPOSVERSIONINFOEXW info, DWORD typeMask, DWORDLONG mask) {
    ++gVerifyCalls;
    gLastTypeMask = typeMask;
    gLastConditionMask = mask;
    gLastInfo = *info;
    EXPECT_EQ(sizeof(OSVERSIONINFOEXW), info->dwOSVersionInfoSize);
    if (gFake.matchNothing) return FALSE;

    // The version fields present in the mask, from the most significant.
    DWORDLONG actual = 0;
    DWORDLONG wanted = 0;
    BYTE condition = 0;
    const struct {
        DWORD bit;
        DWORD actual;
        DWORD wanted;
    } fields[] = {
        {VER_MAJORVERSION, gFake.major, info->dwMajorVersion},
        {VER_MINORVERSION, gFake.minor, info->dwMinorVersion},
        {VER_SERVICEPACKMAJOR, gFake.servicePackMajor, info->wServicePackMajor},
        {VER_SERVICEPACKMINOR, gFake.servicePackMinor, info->wServicePackMinor},
    };
    bool anyVersionField = false;
    for (const auto& field : fields) {
        actual <<= 16;
        wanted <<= 16;
        if (!(typeMask & field.bit)) continue;
        if (!anyVersionField) condition = ConditionFor(mask, field.bit);
        anyVersionField = true;
        actual |= field.actual & 0xFFFF;
        wanted |= field.wanted & 0xFFFF;
        // Wider values than the model holds never match.
        if (field.wanted > 0xFFFF) return FALSE;
    }
    if (anyVersionField && !Compare(actual, wanted, condition)) return FALSE;
    if ((typeMask & VER_BUILDNUMBER) &&
        !Compare(gFake.build, info->dwBuildNumber, ConditionFor(mask, VER_BUILDNUMBER))) {
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI FakeGetVersionEx(LPOSVERSIONINFOW info) {
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW)) return FALSE;
    auto* extended = reinterpret_cast<OSVERSIONINFOEXW*>(info);
    // As a compatibility layer for Windows XP SP3 would report.
    extended->dwMajorVersion = 5;
    extended->dwMinorVersion = 1;
    extended->dwBuildNumber = 2600;
    extended->wServicePackMajor = 3;
    return TRUE;
}

BOOL WINAPI FailingGetVersionEx(LPOSVERSIONINFOW) { return FALSE; }

VersionFunctions Fake(const FakeWindows& windows) {
    gFake = windows;
    gVerifyCalls = 0;
    VersionFunctions functions;
    functions.verifyVersionInfo = FakeVerifyVersionInfo;
    functions.getVersionEx = FakeGetVersionEx;
    return functions;
}

TEST(WindowsVersion, MeasuresTheExactWordsOfAFakedWindows) {
    struct Case {
        FakeWindows windows;
        std::uint32_t version;
        std::uint32_t build;
    };
    const Case cases[] = {
        {{10, 0, 22631, 0, 0, false}, 0x000A0000, 0x58670000},
        {{6, 1, 7601, 1, 0, false}, 0x00060001, 0x1DB10001},
        {{5, 1, 2600, 3, 0, false}, 0x00050001, 0x0A280003},
        {{6, 3, 9600, 0, 5, false}, 0x00060003, 0x25800000},
        {{0, 0, 0, 0, 0, false}, 0, 0},
        {{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFE, 0, false}, 0xFFFFFFFF, 0xFFFFFFFE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.windows.major) + "." + std::to_string(c.windows.minor) +
                     "." + std::to_string(c.windows.build));
        const WindowsVersionWords words = MeasureWindowsVersion(Fake(c.windows));
        EXPECT_EQ(c.version, words.trueVersion);
        EXPECT_EQ(c.build, words.trueBuild);
        EXPECT_EQ(0x00050001u, words.reportedVersion);
        EXPECT_EQ(0x0A280003u, words.reportedBuild);
    }
}

TEST(WindowsVersion, EachProbeTestsOneFieldForEquality) {
    VersionFunctions functions = Fake({6, 2, 9200, 0, 0, false});
    MeasureWindowsVersion(functions);
    // The last probe is the service pack's, found at 0 in one call.
    EXPECT_EQ(static_cast<DWORD>(VER_SERVICEPACKMAJOR), gLastTypeMask);
    EXPECT_EQ(::VerSetConditionMask(0, VER_SERVICEPACKMAJOR, VER_EQUAL), gLastConditionMask);
    // Every probe starts at 0 and stops at the first match.
    EXPECT_EQ((6u + 1) + (2u + 1) + (9200u + 1) + 1, gVerifyCalls);
}

TEST(WindowsVersion, SearchEndsAtTheSixteenBitLimitWhenNothingMatches) {
    VersionFunctions functions = Fake({0, 0, 0, 0, 0, true});  // matches nothing
    functions.getVersionEx = FailingGetVersionEx;
    const WindowsVersionWords words = MeasureWindowsVersion(functions);
    EXPECT_EQ(0u, words.trueVersion);
    EXPECT_EQ(0u, words.trueBuild);
    EXPECT_EQ(0u, words.reportedVersion);
    EXPECT_EQ(0u, words.reportedBuild);
    // 0..0xFFFF for major, minor and build; 0..0xFFFE for the service pack.
    EXPECT_EQ(3u * 0x10000 + 0xFFFF, gVerifyCalls);
}

TEST(WindowsVersion, VersionOrLaterComparesMajorMinorAndServicePackTogether) {
    const VersionFunctions functions = Fake({10, 0, 22631, 0, 0, false});
    EXPECT_TRUE(IsWindowsVersionOrLater(5, 1, functions));
    EXPECT_TRUE(IsWindowsVersionOrLater(6, 0, functions));
    // A higher major wins even though its minor is lower.
    EXPECT_TRUE(IsWindowsVersionOrLater(6, 3, functions));
    EXPECT_TRUE(IsWindowsVersionOrLater(10, 0, functions));
    EXPECT_FALSE(IsWindowsVersionOrLater(10, 1, functions));
    EXPECT_FALSE(IsWindowsVersionOrLater(11, 0, functions));

    IsWindowsVersionOrLater(6, 1, functions);
    EXPECT_EQ(0x23u, gLastTypeMask);
    DWORDLONG expected = ::VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    expected = ::VerSetConditionMask(expected, VER_MINORVERSION, VER_GREATER_EQUAL);
    expected = ::VerSetConditionMask(expected, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    EXPECT_EQ(expected, gLastConditionMask);
    EXPECT_EQ(6u, gLastInfo.dwMajorVersion);
    EXPECT_EQ(1u, gLastInfo.dwMinorVersion);
    EXPECT_EQ(0u, gLastInfo.wServicePackMajor);

    const VersionFunctions onXp = Fake({5, 1, 0, 3, 0, false});
    EXPECT_TRUE(IsWindowsVersionOrLater(5, 1, onXp));
    EXPECT_FALSE(IsWindowsVersionOrLater(6, 0, onXp));
}

// --- The real system ---------------------------------------------------------------

TEST(WindowsVersion, MeasuredWordsAgreeWithGetVersionExWithoutCompatibilityMode) {
    const WindowsVersionWords words = MeasureWindowsVersion();
    std::cout << std::hex << "[ version ] true " << words.trueVersion << " " << words.trueBuild
              << ", reported " << words.reportedVersion << " " << words.reportedBuild
              << std::dec << "\n";
    EXPECT_GE(words.trueVersion, 0x00050001u);
    EXPECT_EQ(words.reportedVersion, words.trueVersion);
    EXPECT_EQ(words.reportedBuild, words.trueBuild);

    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)));
    EXPECT_EQ((info.dwMajorVersion << 16) | info.dwMinorVersion, words.trueVersion);
    EXPECT_EQ(((info.dwBuildNumber & 0xFFFF) << 16) | info.wServicePackMajor, words.trueBuild);
}

TEST(WindowsVersion, VersionOrLaterMatchesTheMeasuredVersion) {
    const WindowsVersionWords words = MeasureWindowsVersion();
    const DWORD major = words.trueVersion >> 16;
    const DWORD minor = words.trueVersion & 0xFFFF;
    EXPECT_TRUE(IsWindowsVersionOrLater(5, 1));
    EXPECT_TRUE(IsWindowsVersionOrLater(major, minor));
    EXPECT_FALSE(IsWindowsVersionOrLater(major, minor + 1));
    EXPECT_FALSE(IsWindowsVersionOrLater(major + 1, 0));
}

// On Windows 8.1 and later GetVersionExW reports the true version only to a
// program whose manifest names that system: the test program, given the
// shipped program's manifest, must find GetVersionExW, VerifyVersionInfoW
// and RtlGetVersion agreeing, so no package looks like compatibility mode.
TEST(WindowsVersionOnWindows, ShippedManifestMakesTheReportedVersionTheTrueOne) {
    QUARRY_SKIP_UNDER_WINE("Wine reports the same version with or without a manifest");
    testing::ScratchFolder scratch;
    const std::u16string probe = scratch / u"version.exe";
    ASSERT_TRUE(::CopyFileW(Wide(testing::WindowsPathOf(QUARRY_TESTPROG)), Wide(probe), FALSE));
    const std::u16string packaged =
        testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/workflow/basic.exe");
    const HMODULE shipped = ::LoadLibraryExW(Wide(packaged), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(shipped);
    const HRSRC found = ::FindResourceW(shipped, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_TRUE(found);
    const HANDLE update = ::BeginUpdateResourceW(Wide(probe), FALSE);
    ASSERT_TRUE(update);
    ASSERT_TRUE(::UpdateResourceW(update, RT_MANIFEST, MAKEINTRESOURCEW(1),
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                  ::LockResource(::LoadResource(shipped, found)),
                                  ::SizeofResource(shipped, found)));
    ASSERT_TRUE(::EndUpdateResourceW(update, FALSE));
    ::FreeLibrary(shipped);

    EXPECT_EQ(1u, testing::RunProgram(probe, u"version")) << "2: VerifyVersionInfoW disagrees, 3: RtlGetVersion does";
}

}  // namespace
}  // namespace quarry
