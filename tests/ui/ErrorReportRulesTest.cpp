#include "ui/ErrorReportRules.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

TEST(ErrorReportRules, EveryCodeSelectsItsDetailArgumentAndOffer) {
    using C = ContinueOffer;
    using A = DetailArgument;
    struct Case {
        std::uint32_t code;
        std::uint32_t stringId;
        A argument;
        C offer;
    };
    const Case cases[] = {
        {0x80004005u, 260, A::None, C::Never},
        {0x80040005u, 260, A::None, C::Never},
        {0x80040002u, 0, A::None, C::Never},
        {0x80040004u, 299, A::None, C::Never},
        {0x80040006u, 264, A::None, C::Never},
        {0x80040007u, 300, A::None, C::WhenAskingAfterRestrictionFailure},
        {0x80040008u, 303, A::ManufacturerName, C::WhenAskingAfterRestrictionFailure},
        {0x80040009u, 304, A::None, C::WhenAskingAfterRestrictionFailure},
        {0x8004000Au, 322, A::VersionRecord, C::WhenAskingAfterRestrictionFailure},
        {0x8004000Bu, 310, A::None, C::WhenAskingAfterRestrictionFailure},
        {0x8004000Cu, 311, A::None, C::WhenAskingAfterRestrictionFailure},
        {0x8004000Du, 265, A::None, C::WhenAskingAfterIntegrityFailure},
        {0x80040100u, 265, A::None, C::WhenAskingAfterIntegrityFailure},
        {0x8004013Fu, 265, A::None, C::WhenAskingAfterIntegrityFailure},
        {0x8004000Eu, 272, A::DriveText, C::WhenAskingAfterRestrictionFailure},
        // Neighbours of the ranges, and platform codes, have no text of their own.
        {0x80040140u, 259, A::None, C::Never},
        {0x800400FFu, 259, A::None, C::Never},
        {0x80040010u, 259, A::None, C::Never},
        {0x80070005u, 259, A::None, C::Never},
        {0x8007000Eu, 259, A::None, C::Never},
        {0x80004004u, 259, A::None, C::Never},
    };
    for (const Case& c : cases) {
        const ErrorDetail detail = ChooseErrorDetail(static_cast<HResult>(c.code), true);
        EXPECT_EQ(c.stringId, detail.stringId) << std::hex << c.code;
        EXPECT_EQ(c.argument, detail.argument) << std::hex << c.code;
        EXPECT_EQ(c.offer, detail.offer) << std::hex << c.code;
    }
}

TEST(ErrorReportRules, ManufacturerFailureWithoutAJobNamesNoManufacturer) {
    const ErrorDetail detail = ChooseErrorDetail(kResultWrongManufacturer, false);
    EXPECT_EQ(302u, detail.stringId);
    EXPECT_EQ(DetailArgument::None, detail.argument);
    EXPECT_EQ(ContinueOffer::WhenAskingAfterRestrictionFailure, detail.offer);
}

TEST(ErrorReportRules, VersionTextFollowsTheRequiredBuildAndServicePack) {
    // This computer: 6.1 build 7601 SP1.
    const std::uint32_t trueVersion = 0x00060001;
    const std::uint32_t trueBuild = (7601u << 16) | 1;

    const VersionText versionOnly = ChooseVersionText({0, 0x000A0000, trueBuild, trueVersion});
    EXPECT_EQ(322u, versionOnly.stringId);
    EXPECT_EQ((std::vector<std::uint32_t>{6, 1, 10, 0}), versionOnly.numbers);

    const VersionText build = ChooseVersionText({19045u << 16, 0x000A0000, trueBuild, trueVersion});
    EXPECT_EQ(323u, build.stringId);
    EXPECT_EQ((std::vector<std::uint32_t>{6, 1, 7601, 10, 0, 19045}), build.numbers);

    const VersionText servicePack =
        ChooseVersionText({(7601u << 16) | 2, 0x00060001, trueBuild, trueVersion});
    EXPECT_EQ(324u, servicePack.stringId);
    EXPECT_EQ((std::vector<std::uint32_t>{6, 1, 7601, 1, 6, 1, 7601, 2}), servicePack.numbers);

    // A service pack alone (build 0) still counts as a required build.
    EXPECT_EQ(324u, ChooseVersionText({3, 0x00050001, trueBuild, trueVersion}).stringId);
}

}  // namespace
}  // namespace quarry
