// The restriction checks through the packed program under Wine, which is
// Windows 6.1 build 7601 service pack 1 made by "The Wine Project".
#include <gtest/gtest.h>

#include <string>

#include "app/ProgramDriver.h"
#include "common/Result.h"
#include "common/WinTestSupport.h"
#include "restrictions/Signature.h"

namespace quarry {
namespace {

using testing::ProgramDriver;

std::u16string Package(const char* name) {
    return testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/" + name);
}

class RestrictionsExe : public ::testing::Test {
protected:
    void SetUp() override {
        if (testing::ExpectJapanese()) GTEST_SKIP() << "English texts expected";
        // Elsewhere the version, the maker and the self-signed certificate's
        // trust all answer otherwise.
        QUARRY_SKIP_OFF_WINE("Windows 6.1 build 7601 by \"The Wine Project\", digest-only trust");
    }
};

TEST_F(RestrictionsExe, SilentRunsEndWithEachCheckResult) {
    const struct {
        const char* name;
        HResult result;
    } cases[] = {
        {"os-above.exe", kResultWindowsTooOld},    // 6.2 required
        {"os-equal.exe", kResultOk},               // 6.1 build 7601 sp0 on sp1
        {"os-build.exe", kResultWindowsTooOld},    // 6.1 build 7602
        {"os-below.exe", kResultOk},               // 5.1: the build is not looked at
        {"maker.exe", kResultNotMakersComputer},   // "Norvik Corporation"
        {"wine.exe", kResultOk},                   // "The Wine Project"
        {"wine-case.exe", kResultWrongManufacturer},  // "the wine project"
        // Signed after packing by "Norvik Corporation", the signer required.
        {"signed.exe", kResultOk},
        {"signed-flipped.exe", kResultSignatureInvalid},  // one byte changed after signing
        {"signed-case.exe", kResultSignatureInvalid},     // "norvik corporation" required
        {"signed-unsigned.exe", kResultSignatureInvalid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDriver program(Package(c.name), u"-s");
        EXPECT_EQ(static_cast<DWORD>(c.result), program.WaitForExit());
    }
}

// The signature operations on the same files: only the untouched signed file
// verifies, its signer reads back, and the name compares case-sensitively.
TEST_F(RestrictionsExe, SignatureOfAProgramSignedAfterPacking) {
    const std::u16string signedProgram = Package("signed.exe");
    EXPECT_TRUE(VerifyFileSignature(signedProgram));
    std::u16string signer;
    EXPECT_TRUE(ReadSignerName(signedProgram, signer));
    EXPECT_EQ(u"Norvik Corporation", signer);
    EXPECT_TRUE(SignerNameMatches(signedProgram, u"Norvik Corporation"));
    EXPECT_FALSE(SignerNameMatches(signedProgram, u"norvik corporation"));
    EXPECT_TRUE(VerifySignatureAndSigner(signedProgram, u"Norvik Corporation"));

    // The flipped byte breaks the digest, not the signer's name.
    EXPECT_FALSE(VerifyFileSignature(Package("signed-flipped.exe")));
    EXPECT_FALSE(VerifySignatureAndSigner(Package("signed-flipped.exe"), u"Norvik Corporation"));

    signer = u"left over";
    EXPECT_FALSE(VerifyFileSignature(Package("signed-unsigned.exe")));
    EXPECT_FALSE(ReadSignerName(Package("signed-unsigned.exe"), signer));
    EXPECT_TRUE(signer.empty());
}

// Reports that name what was wanted: the required build in message 323, the
// package's manufacturer name in message 303.
TEST_F(RestrictionsExe, VisibleRunsShowTheReportOfTheFailedCheck) {
    const struct {
        const char* name;
        const char16_t* text;
        DWORD code;
    } cases[] = {
        {"os-build.exe",
         u"This package could not be deployed to this computer.\r\nThis package is not for "
         u"Windows (version 6.1 build 7601) of this computer.\nLater Windows (version 6.1 build "
         u"7602) is required.\r\n(Code = 0x8004000a)",
         0x8004000A},
        {"wine-case.exe",
         u"This package could not be deployed to this computer.\r\nThis program can be run only "
         u"on \"the wine project\" computers.\nThis computer is not recognized as a target "
         u"computer.\r\n(Code = 0x80040008)",
         0x80040008},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDriver program(Package(c.name), u"");
        const HWND box = program.WaitForMessageBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(c.text, ProgramDriver::MessageText(box));
        ProgramDriver::Press(box, IDOK);
        const HWND dialog = program.WaitForDialogShowing(u"Failed.");
        ASSERT_TRUE(dialog);
        ProgramDriver::Press(dialog, IDCANCEL);
        EXPECT_EQ(c.code, program.WaitForExit());
    }
}

}  // namespace
}  // namespace quarry
