// Signature checks on real files. Wine's WinVerifyTrust checks the digest
// only, so the verdicts on the trust chain (untrusted root, expiry, key
// usage) go through the replaceable trust call.
#include "restrictions/Signature.h"

#include <gtest/gtest.h>

#include <softpub.h>
#include <wintrust.h>

#include "common/WinTestSupport.h"

namespace quarry {
namespace {

WINTRUST_DATA gSeen;
WINTRUST_FILE_INFO gSeenFile;
bool gSeenAction = false;
LONG gVerdict = 0;

LONG WINAPI FakeVerifyTrust(HWND window, GUID* action, LPVOID data) {
    GUID expected = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    gSeenAction = window == INVALID_HANDLE_VALUE && ::IsEqualGUID(*action, expected);
    gSeen = *static_cast<WINTRUST_DATA*>(data);
    gSeenFile = *gSeen.pFile;
    return gVerdict;
}

class SignatureWinTest : public ::testing::Test {
protected:
    SignatureFunctions fake;
};

TEST_F(SignatureWinTest, UnsignedFileVerifiesNotAndHasNoSigner) {
    const std::u16string program = testing::WindowsPathOf(QUARRY_TESTPROG);
    EXPECT_FALSE(VerifyFileSignature(program));
    std::u16string name = u"left over";
    EXPECT_FALSE(ReadSignerName(program, name));
    EXPECT_TRUE(name.empty());
    EXPECT_FALSE(SignerNameMatches(program, u""));
    EXPECT_FALSE(VerifySignatureAndSigner(program, u""));
    EXPECT_FALSE(VerifyFileSignature(u""));
    EXPECT_FALSE(ReadSignerName(u"", name));
}

// The trust call is made without user interface or revocation checks, on the
// file by path, and only a result of 0 passes: an expired certificate or an
// untrusted root (the answers Windows gives and Wine does not) fails.
TEST_F(SignatureWinTest, OnlyAVerdictOfZeroPasses) {
    fake.winVerifyTrust = FakeVerifyTrust;
    const std::u16string path = u"C:\\some\\Update.exe";
    struct Case {
        LONG verdict;
        bool passes;
    };
    const Case cases[] = {{0, true},
                          {static_cast<LONG>(0x800B0101), false},  // CERT_E_EXPIRED
                          {static_cast<LONG>(0x800B0109), false},  // CERT_E_UNTRUSTEDROOT
                          {static_cast<LONG>(0x800B0110), false},  // CERT_E_WRONG_USAGE
                          {static_cast<LONG>(0x80096010), false},  // TRUST_E_BAD_DIGEST
                          {static_cast<LONG>(0x800B0100), false}};  // TRUST_E_NOSIGNATURE
    for (const Case& c : cases) {
        gVerdict = c.verdict;
        EXPECT_EQ(c.passes, VerifyFileSignature(path, fake)) << std::hex << c.verdict;
        EXPECT_TRUE(gSeenAction);
        // The structures end at dwUIContext: 48 and 16 bytes in the 32-bit
        // program, 80 and 32 in the 64-bit test build.
        EXPECT_EQ(sizeof(void*) == 4 ? 48u : 80u, gSeen.cbStruct);
        EXPECT_EQ(static_cast<DWORD>(WTD_UI_NONE), gSeen.dwUIChoice);
        EXPECT_EQ(static_cast<DWORD>(WTD_REVOKE_NONE), gSeen.fdwRevocationChecks);
        EXPECT_EQ(static_cast<DWORD>(WTD_CHOICE_FILE), gSeen.dwUnionChoice);
        EXPECT_EQ(0u, gSeen.dwStateAction);
        EXPECT_EQ(sizeof(void*) == 4 ? 16u : 32u, gSeenFile.cbStruct);
        EXPECT_EQ(path, FromWide(gSeenFile.pcwszFilePath));
        EXPECT_EQ(nullptr, gSeenFile.hFile);
    }
    // A passing signature by another signer still fails the pair.
    gVerdict = 0;
    EXPECT_FALSE(VerifySignatureAndSigner(testing::WindowsPathOf(QUARRY_TESTPROG),
                                          u"Norvik Corporation", fake));
}

}  // namespace
}  // namespace quarry
