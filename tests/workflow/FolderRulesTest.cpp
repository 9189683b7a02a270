#include "workflow/FolderRules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "common/CaseTable.h"
#include "common/Text.h"

namespace quarry {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::string Narrow(std::u16string_view text) { return Utf16ToUtf8(text); }

TEST(FolderRules, FreeSpaceMustExceedTheRequiredSize) {
    struct Case {
        std::uint64_t available;
        std::uint64_t required;
        bool enough;
    };
    const Case cases[] = {
        {100, 100, false},
        {101, 100, true},
        {99, 100, false},
        {0, 0, false},
        {1, 0, true},
        {kMax, kMax, false},
        {kMax, kMax - 1, true},
        // Differences only above 32 bits must count.
        {0x100000000ull, 0xFFFFFFFFull, true},
        {0xFFFFFFFFull, 0x100000000ull, false},
        {0x200000005ull, 0x100000006ull, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.available) + " vs " + std::to_string(c.required));
        EXPECT_EQ(c.enough, HasEnoughFreeSpace(c.available, c.required));
    }
}

TEST(FolderRules, MarginIsTwentyMebibytes) {
    EXPECT_EQ(20971520u, kFreeSpaceMargin);
    const std::uint64_t required = AddWithCarry(1000, kFreeSpaceMargin);
    EXPECT_FALSE(HasEnoughFreeSpace(1000 + 20971520u, required));
    EXPECT_TRUE(HasEnoughFreeSpace(1000 + 20971521u, required));
}

TEST(FolderRules, SumsCarryIntoTheHighWordAndStopAtTheTop) {
    EXPECT_EQ(0x100000000ull, AddWithCarry(0xFFFFFFFFull, 1));
    EXPECT_EQ(0x1FFFFFFFEull, AddWithCarry(0xFFFFFFFFull, 0xFFFFFFFFull));
    EXPECT_EQ(0x0000000501400000ull, AddWithCarry(0x500000000ull, kFreeSpaceMargin));
    EXPECT_EQ(kMax, AddWithCarry(kMax - 1, 1));
    // A sum past 2^64 - 1 must not wrap to something small that fits.
    EXPECT_EQ(kMax, AddWithCarry(kMax, kFreeSpaceMargin));
    EXPECT_EQ(kMax, AddWithCarry(kMax - 5, 6));
    EXPECT_FALSE(HasEnoughFreeSpace(kMax, AddWithCarry(kMax, 1)));
}

TEST(FolderRules, DriveTextIsWhatPrecedesTheFirstColon) {
    testing::ExpectEachResult<std::u16string>(DriveText, {
        {u"C:\\x", u"C"},
        {u"C:\\", u"C"},
        {u"d:", u"d"},
        {u"C:\\a:b\\", u"C"},
        {u"\\\\srv\\share", u""},
        {u"\\\\srv\\share\\dir\\", u""},
        {u"\\", u""},
        {u"", u""},
        {u":\\x", u""},
        {u"\\\\?\\C:\\x", u"\\\\?\\C"},
    });
}

TEST(FolderRules, OnlyParentTypesZeroToTwoAreValid) {
    EXPECT_EQ(ParentFolderKind::ProgramFolder, ParentFolderKindFromSetting(0));
    EXPECT_EQ(ParentFolderKind::Desktop, ParentFolderKindFromSetting(1));
    EXPECT_EQ(ParentFolderKind::Downloads, ParentFolderKindFromSetting(2));
    for (std::int32_t value : {-1, 3, 4, 100, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()}) {
        SCOPED_TRACE(value);
        EXPECT_FALSE(ParentFolderKindFromSetting(value).has_value());
    }
}

TEST(FolderRules, FolderNameIsTheProgramNameLessItsExtension) {
    testing::ExpectEachResult<std::u16string>(FolderNameFromProgramName, {
        {u"Setup.exe", u"Setup"},
        {u"a.b.exe", u"a.b"},
        {u"noext", u"noext"},
        {u".hidden", u""},
        {u"trailing.", u"trailing"},
        {u"Setup v2.exe", u"Setup v2"},
        // A space after the last dot means there is no extension.
        {u"my.file name", u"my.file name"},
        {u"Setup.exe ", u"Setup.exe "},
        {u"", u""},
        // Only the file name part of a path counts.
        {u"C:\\Program Files\\Tool.v1\\Setup.exe", u"Setup"},
        {u"C:\\dir.ext\\noext", u"noext"},
        {u"D:Setup.exe", u"Setup"},
    });
}

// A program saved as ".exe" named its own folder as the extract folder, which
// a failed run then removed with everything in it.
TEST(FolderRules, ExtractFolderNameFallsBackUnlessItIsOneUsableName) {
    testing::ExpectEachResult<std::u16string>(ExtractFolderName, {
        {u"Setup", u"Setup"},
        {u"Widget Driver 1.2", u"Widget Driver 1.2"},
        {FolderNameFromProgramName(u".exe"), kFallbackExtractFolderName},
        {u"", kFallbackExtractFolderName},
        {u".", kFallbackExtractFolderName},
        {u"..", kFallbackExtractFolderName},
        {u"a\\b", kFallbackExtractFolderName},
        {u"..\\..\\Windows", kFallbackExtractFolderName},
        {u"a/b", kFallbackExtractFolderName},
        {u"C:", kFallbackExtractFolderName},
        {u"name.", kFallbackExtractFolderName},
        {u"name ", kFallbackExtractFolderName},
        {u"a<b", kFallbackExtractFolderName},
        {u"a\x01b", kFallbackExtractFolderName},
        {u"con", kFallbackExtractFolderName},
        {u"LPT1.txt", kFallbackExtractFolderName},
    });
}

// Only folders named as the runs name theirs, and only those both made and
// last changed more than a week ago, are swept.
TEST(FolderRules, StaleWorkFoldersAreGuidNamedAndAWeekOld) {
    for (const char16_t* name : {u"{8F14E45F-CEEA-467A-9575-3C9A2E1D5A6B}",
                                 u"{8f14e45f-ceea-467a-9575-3c9a2e1d5a6b}"}) {
        EXPECT_TRUE(IsWorkFolderName(name));
    }
    for (const char16_t* name : {u"", u"QuarryTool", u"{8F14E45F-CEEA-467A-9575-3C9A2E1D5A6}",
                                 u"{8F14E45F-CEEA-467A-9575-3C9A2E1D5A6BX}",
                                 u"{8F14E45FXCEEA-467A-9575-3C9A2E1D5A6B}",
                                 u"{8F14E45F-CEEA-467A-9575-3C9A2E1D5A6G}",
                                 u"(8F14E45F-CEEA-467A-9575-3C9A2E1D5A6B)"}) {
        EXPECT_FALSE(IsWorkFolderName(name)) << Narrow(name);
    }
    const std::uint64_t now = 133000000000000000ull;
    const std::uint64_t day = 24ull * 60 * 60 * 10000000;
    const struct {
        std::uint64_t created, written;
        bool stale;
    } cases[] = {
        {now - 8 * day, now - 8 * day, true},
        {now - 8 * day, now - 6 * day, false},
        {now - 6 * day, now - 8 * day, false},
        {now - 7 * day, now - 7 * day, false},
        {now - 7 * day - 1, now - 7 * day - 1, true},
        {now + day, now - 8 * day, false},
        {0, 0, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.stale, IsStaleWorkFolder(c.created, c.written, now))
            << (now - c.created) / day << " " << (now - c.written) / day;
    }
}

}  // namespace
}  // namespace quarry
