// The decisions of the restriction checks, natively.
#include "restrictions/RestrictionRules.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

constexpr std::uint32_t Word(std::uint32_t high, std::uint32_t low) { return high << 16 | low; }

TEST(RestrictionRules, WindowsVersionAndBuildAgainstTheMinimum) {
    const struct {
        const char* what;
        std::uint32_t trueVersion, trueBuild, osVersionMin, osBuildMin;
        bool tooOld;
    } cases[] = {
        {"default 5.0 on 6.1", Word(6, 1), Word(7601, 1), Word(5, 0), 0, false},
        {"version above this one", Word(6, 1), Word(7601, 1), Word(6, 2), 0, true},
        {"equal version, no build", Word(6, 1), Word(7601, 1), Word(6, 1), 0, false},
        // Service pack 1 in the low half is above service pack 0.
        {"equal, build 7601 sp0 on sp1", Word(6, 1), Word(7601, 1), Word(6, 1), Word(7601, 0),
         false},
        {"equal, build 7601 sp1 on sp1", Word(6, 1), Word(7601, 1), Word(6, 1), Word(7601, 1),
         false},
        {"equal, higher build", Word(6, 1), Word(7601, 1), Word(6, 1), Word(7602, 0), true},
        {"equal, higher service pack", Word(6, 1), Word(7601, 1), Word(6, 1), Word(7601, 2), true},
        {"7601 required on 7600", Word(6, 1), Word(7600, 0), Word(6, 1), Word(7601, 0), true},
        // A higher version never looks at the build.
        {"6.1 required on 10.0", Word(10, 0), Word(19045, 0), Word(6, 1), Word(65535, 0), false},
        {"below the version", Word(5, 1), Word(2600, 3), Word(6, 0), 0, true},
        // A zero minimum version passes whatever build is asked for.
        {"zero minimum", 0, 0, 0, Word(9999, 0), false},
        // Unsigned: a huge required version is above any real one.
        {"0xFFFFFFFF", Word(10, 0), 0, 0xFFFFFFFFu, 0, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.tooOld, IsWindowsTooOld(c.trueVersion, c.trueBuild, c.osVersionMin,
                                            c.osBuildMin))
            << c.what;
    }
}

TEST(RestrictionRules, CompatibilityModeIsAnyDifferenceBetweenProvedAndReported) {
    EXPECT_FALSE(IsCompatibilityModeActive(Word(6, 1), Word(7601, 1), Word(6, 1), Word(7601, 1)));
    EXPECT_TRUE(IsCompatibilityModeActive(Word(6, 1), Word(7601, 1), Word(5, 1), Word(2600, 3)));
    EXPECT_TRUE(IsCompatibilityModeActive(Word(6, 1), Word(7601, 1), Word(6, 1), Word(7601, 0)));
    EXPECT_TRUE(IsCompatibilityModeActive(Word(6, 1), Word(7601, 1), Word(6, 0), Word(7601, 1)));
}

TEST(RestrictionRules, ManufacturerMatchesExactlyAndTheMakerGetsItsOwnCode) {
    const struct {
        const char16_t* manufacturer;
        const char16_t* expected;
        HResult result;
    } cases[] = {
        {u"The Wine Project", u"The Wine Project", kResultOk},
        {u"the wine project", u"The Wine Project", kResultWrongManufacturer},
        {u"The Wine Project ", u"The Wine Project", kResultWrongManufacturer},
        {u"The Wine Project", u"Norvik Corporation", kResultNotMakersComputer},
        {u"Norvik Corporation", u"Norvik Corporation", kResultOk},
        {u"NORVIK CORPORATION", u"Norvik Corporation", kResultNotMakersComputer},
        {u"The Wine Project", u"Norvik Corporation ", kResultWrongManufacturer},
        {u"The Wine Project", u"norvik corporation", kResultWrongManufacturer},
        // A failed query gives an empty name: it matches only an empty one.
        {u"", u"", kResultOk},
        {u"", u"Contoso", kResultWrongManufacturer},
        {u"Contoso", u"", kResultWrongManufacturer},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, CompareManufacturer(c.manufacturer, c.expected))
            << std::u16string(c.manufacturer).size() << " against "
            << std::u16string(c.expected).size();
    }
}

TEST(RestrictionRules, TrimsOnlyTrailingWhiteSpace) {
    EXPECT_EQ(u"Contoso Ltd.", TrimTrailingWhiteSpace(u"Contoso Ltd.   "));
    EXPECT_EQ(u"Contoso Ltd.", TrimTrailingWhiteSpace(u"Contoso Ltd.\t\r\n "));
    EXPECT_EQ(u"  Contoso", TrimTrailingWhiteSpace(u"  Contoso"));
    EXPECT_EQ(u"A  B", TrimTrailingWhiteSpace(u"A  B"));
    EXPECT_EQ(u"", TrimTrailingWhiteSpace(u" \t "));
    EXPECT_EQ(u"", TrimTrailingWhiteSpace(u""));
}

}  // namespace
}  // namespace quarry
