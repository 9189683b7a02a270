#include "PackageCheck.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "PackerFixture.h"

namespace quarry::pack::test {
namespace {

// Signs `in` into `out` as users sign after packing, with a self-signed
// certificate for "Norvik Corporation" made in `folder` on first use.
void Sign(const std::string& in, const std::string& out, const std::string& folder) {
    const std::string key = folder + "/sign-key.pem";
    const std::string certificate = folder + "/sign-cert.pem";
    if (!std::filesystem::exists(certificate)) {
        const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -subj "
                                 "'/CN=Norvik Corporation' -days 30 -keyout '" + key +
                                 "' -out '" + certificate + "' 2>/dev/null";
        ASSERT_EQ(0, std::system(make.c_str()));
    }
    std::filesystem::remove(out);
    const std::string sign = "osslsigncode sign -h sha256 -certs '" + certificate + "' -key '" +
                             key + "' -in '" + in + "' -out '" + out + "' >/dev/null";
    ASSERT_EQ(0, std::system(sign.c_str()));
}

void FlipByte(const std::string& path, std::uint64_t position) {
    Bytes file = ReadFile(path);
    ASSERT_LT(position, file.size());
    file[position] ^= 0x01;
    WriteFile(path, file);
}

const char kSignatureLine[] =
    "signature: the SHA256 digest of the file matches the signed one; signed by \"Norvik "
    "Corporation\" (whether Windows trusts that certificate is not checked here)\n";

TEST_F(PackerTest, CheckReadsAPackedProgramOrTheInputs) {
    WriteFile(In("Settings.ini"), "[Restriction]\r\nCheckDigitalSignature=true\r\n"
                                  "[Execution_x86]\r\nFileName=data\\big.bin\r\n"
                                  "[Execution_x64]\r\nFileName=Drivers\\a.sys\r\n");
    ASSERT_EQ(0, RunTool(CreateArgs(Out("unsigned.exe"))).exitCode);

    test::ToolRun run = RunTool({"check", Out("unsigned.exe")});
    EXPECT_EQ(1, run.exitCode);
    const std::string cabinetLine = "payload cabinet: 10 data blocks, each matching its checksum\n";
    EXPECT_EQ("signature: none (the program file is not signed)\n" + cabinetLine +
                  Out("unsigned.exe") + ":Settings.ini:2: error: CheckDigitalSignature: the "
                  "program file carries no signature: it will end with 0x80040007\n" +
                  Out("unsigned.exe") + ":MessageInfo.xml: warning: never shown: [Message] sets "
                  "neither ShowMessageBox nor ShowMessageBoxWhenSilent\n",
              run.out);
    Sign(Out("unsigned.exe"), Out(), dir_.Path());
    run = RunTool({"check", Out()});
    EXPECT_EQ(0, run.exitCode) << run.out;
    EXPECT_EQ(kSignatureLine + cabinetLine + Out() +
                  ":MessageInfo.xml: warning: never shown: [Message] sets neither "
                  "ShowMessageBox nor ShowMessageBoxWhenSilent\n",
              run.out);
    EXPECT_EQ(1, RunTool({"check", "--strict", Out()}).exitCode);

    // The inputs before packing: the same settings, the signature still to come.
    run = RunTool({"check", "--settings", In("Settings.ini"), "--payload", In("payload"),
                   "--group", "Drivers=" + In("drivers")});
    EXPECT_EQ(0, run.exitCode) << run.out;
    EXPECT_EQ(In("Settings.ini") + ":2: warning: CheckDigitalSignature: sign the packed program "
                                   "before it ships; unsigned it ends with 0x80040007\n",
              run.out);
    run = RunTool({"check", "--settings", In("Settings.ini"), "--payload", In("payload")});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find(":6: error: FileName: \"Drivers\\a.sys\"")) << run.out;

    WriteFile(In("clean.ini"), "[Execution_x86]\nFileName=setup.exe\n[Execution_x64]\nFileName=setup.exe\n");
    run = RunTool({"check", "--settings", In("clean.ini"), "--payload", In("payload")});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ("no findings\n", run.out);

    // A file that is no package is a failure of its own.
    run = RunTool({"check", In("quarry.exe")});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("holds no package")) << run.err;
}

// One flipped byte anywhere that matters makes check fail: in the cabinet's
// data (its block checksums), in the directory (an entry's size: the data no
// longer ends where the file does), and anywhere at all once signed (the
// digest).
TEST_F(PackerTest, CheckFindsOneFlippedByte) {
    ASSERT_EQ(0, RunTool(CreateArgs(Out("clean.exe"))).exitCode);
    Sign(Out("clean.exe"), Out("signed.exe"), dir_.Path());
    const test::ParsedPackage package = test::ParsePackage(Out("clean.exe"));
    const PackageEntry* cabinet = package.Find(kMainGroupName, kCabinetEntryName);
    const PackageEntry* settings = package.Find(kMainGroupName, u"Settings.ini");
    ASSERT_TRUE(cabinet && settings);
    // The size field of Settings.ini's record: the main group comes first,
    // Settings.ini is its first entry.
    const std::uint64_t sizeField =
        package.offset + 28 + 8 + 2 * std::u16string(kMainGroupName).size() + 4;
    ASSERT_EQ(settings->size & 0xFF, package.file[sizeField]);
    const struct {
        const char* name;
        const char* source;
        std::uint64_t position;
        const char* expected;  // in the output or the error
    } cases[] = {
        {"cabinet data", "clean.exe", cabinet->offset + cabinet->size / 2,
         "does not match its checksum: the payload is damaged"},
        // The folder record's compression type, which no checksum covers:
        // MSZIP turned into "none" (the cabinet has no reserved space).
        {"cabinet compression type", "clean.exe", cabinet->offset + 36 + 6,
         "in a folder stored without compression: the payload is damaged"},
        // One byte more or less than the data: either way the directory is
        // found damaged.
        {"directory", "clean.exe", sizeField, "damaged"},
        {"signed, cabinet", "signed.exe", cabinet->offset + cabinet->size / 2,
         "signature: the file's SHA256 digest differs from the signed one"},
        {"signed, support file", "signed.exe", settings->offset + settings->size - 2,
         "signature: the file's SHA256 digest differs from the signed one"},
        {"signed, program image", "signed.exe", 0x100,
         "signature: the file's SHA256 digest differs from the signed one"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::copy_file(Out(c.source), Out("flipped.exe"),
                                   std::filesystem::copy_options::overwrite_existing);
        FlipByte(Out("flipped.exe"), c.position);
        const test::ToolRun run = RunTool({"check", Out("flipped.exe")});
        EXPECT_EQ(1, run.exitCode) << run.out << run.err;
        EXPECT_NE(std::string::npos, (run.out + run.err).find(c.expected)) << run.out << run.err;
    }
    // The signature itself: the signed digest is intact, its signature not.
    std::filesystem::copy_file(Out("signed.exe"), Out("flipped.exe"),
                               std::filesystem::copy_options::overwrite_existing);
    FlipByte(Out("flipped.exe"), ReadFile(Out("signed.exe")).size() - 200);
    const test::ToolRun run = RunTool({"check", Out("flipped.exe")});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find("signature: ")) << run.out;
    EXPECT_EQ(std::string::npos, run.out.find(kSignatureLine)) << run.out;
    // Bytes appended behind the package belong to nothing.
    Bytes appended = ReadFile(Out("clean.exe"));
    appended.push_back(0);
    WriteFile(Out("flipped.exe"), appended);
    const test::ToolRun trailing = RunTool({"check", Out("flipped.exe")});
    EXPECT_EQ(1, trailing.exitCode);
    EXPECT_NE(std::string::npos, trailing.out.find("1 bytes after the last entry")) << trailing.out;
}

// Each main group's cabinet is expanded, so a file to start may come from
// any of them.
TEST_F(PackerTest, CheckReadsTheCabinetOfEveryMainGroup) {
    WriteCraftedPackage(
        dir_ / "two.exe",
        {{kMainGroupName,
          {{kSettingsEntryName,
            EncodeUtf16LeWithBom(u"[Execution_x86]\r\nFileName=two.txt\r\n"
                                 u"[Execution_x64]\r\nFileName=one.txt\r\n")},
           {kCabinetEntryName, PackedCabinet("one", u"one.txt", "one")}}},
         {u"!!!53aaed7c-68e7-413c-a5fd-d9f76477d66a",
          {{kCabinetEntryName, PackedCabinet("two", u"two.txt", "two")}}}});
    const test::ToolRun run = RunTool({"check", dir_ / "two.exe"});
    EXPECT_EQ(0, run.exitCode) << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("error")) << run.out;
    EXPECT_EQ(2u, CountOf(run.out, "payload cabinet: ")) << run.out;
}

}  // namespace
}  // namespace quarry::pack::test
