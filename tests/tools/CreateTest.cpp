#include "Create.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "IniText.h"
#include "PackageCheck.h"
#include "PackerFixture.h"
#include "common/Text.h"

namespace quarry::pack::test {
namespace {

TEST_F(PackerTest, CreateWritesStubDirectoryAndEntriesTheParserReadsBack) {
    test::SetModified(In("support/readme.txt"), 1500000000);
    const Status status = CreatePackage(Options());
    ASSERT_TRUE(status.Ok()) << status.Message();

    const test::ParsedPackage package = test::ParsePackage(Out());
    const Bytes stub = test::MinimalPe();
    EXPECT_EQ(stub.size(), package.offset);
    Bytes head(package.file.begin(),
               package.file.begin() + static_cast<std::ptrdiff_t>(stub.size()));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(static_cast<std::uint8_t>(stub.size() >> (8 * i)), head[32 + i]);
    std::fill(head.begin() + 32, head.begin() + 40, 0);
    EXPECT_EQ(stub, head);

    const PackageDirectory& d = package.directory;
    EXPECT_EQ(FileTimeFromUnix(kEpoch), d.time1);
    EXPECT_EQ(d.time1, d.time2);
    EXPECT_EQ(0x8000000000000001ull, d.flags);
    ASSERT_EQ(4u, d.groups.size());
    EXPECT_EQ(std::u16string(kMainGroupName), d.groups[0].name);
    EXPECT_EQ(std::u16string(kFlatGroupName), d.groups[1].name);
    EXPECT_EQ(u"Drivers", d.groups[2].name);
    EXPECT_EQ(u"data\\Drivers", d.groups[3].name);
    std::vector<std::u16string> mainNames;
    for (const PackageEntry& e : d.groups[0].entries) mainNames.push_back(e.name);
    EXPECT_EQ((std::vector<std::u16string>{kSettingsEntryName, kCabinetEntryName,
                                           u"MessageInfo.xml", u"readme.txt"}),
              mainNames);

    // Data back to back from the end of the directory to the end of the file.
    std::uint64_t next = package.dataStart;
    for (const PackageGroup& g : d.groups) {
        for (const PackageEntry& e : g.entries) {
            EXPECT_EQ(next, e.offset);
            next += e.size;
        }
    }
    EXPECT_EQ(package.file.size(), next);

    EXPECT_EQ(test::ToBytes(kMessageFile),
              package.Data(*package.Find(kMainGroupName, u"MessageInfo.xml")));
    const PackageEntry& readme = *package.Find(kMainGroupName, u"readme.txt");
    EXPECT_EQ(test::ToBytes("support"), package.Data(readme));
    EXPECT_EQ(FileTimeFromUnix(1500000000), readme.lastWriteTime);
    EXPECT_EQ(test::ToBytes("flat file"), package.Data(*package.Find(kFlatGroupName, u"flat.txt")));
    EXPECT_EQ(test::ToBytes("driver"), package.Data(*package.Find(u"data\\Drivers", u"a.sys")));

    const Bytes settings = package.Data(*package.Find(kMainGroupName, kSettingsEntryName));
    EXPECT_EQ(Utf16Text(EncodeUtf16LeWithBom(u"[Package]\r\nProductName=Demo\r\nTotalFileSize=" +
                                             Ascii(std::to_string(payloadBytes_)) +
                                             u"\r\n\r\n[Execution_x86]\r\nFileName=setup.exe\r\n")),
              Utf16Text(settings));
    EXPECT_EQ((Bytes{0xFF, 0xFE}), Bytes(settings.begin(), settings.begin() + 2));

    // No temporary file stays beside the output.
    EXPECT_EQ(std::vector<std::string>{"packed.exe"}, test::ListFolder(dir_ / "out"));
}

TEST_F(PackerTest, CabinetEntryIsTheComplementOfTheCabinetLibgcabWrites) {
    CreateOptions options = Options();
    options.clampSeconds = kEpoch;
    ASSERT_TRUE(CreatePackage(options).Ok());
    const test::ParsedPackage package = test::ParsePackage(Out());
    const Bytes stored = package.Data(*package.Find(kMainGroupName, kCabinetEntryName));

    std::vector<CabinetMember> members;
    ASSERT_TRUE(CollectPayload(In("payload"), kEpoch, members).Ok());
    WriteFile(dir_ / "direct.cab", Bytes());
    ASSERT_TRUE(WriteCabinet(members, Compression::Mszip, dir_ / "direct.cab").Ok());
    EXPECT_EQ(ReadFile(dir_ / "direct.cab"), Complement(stored));
    EXPECT_EQ(Bytes({0xB2, 0xAC, 0xBC, 0xB9}), Bytes(stored.begin(), stored.begin() + 4));
}

TEST_F(PackerTest, SourceDateEpochMakesTheOutputReproducible) {
    test::SetModified(In("payload/setup.exe"), 1500000000);  // earlier than the epoch: kept
    const std::vector<std::string> first = CreateArgs(Out("first.exe"));
    ASSERT_EQ(0, RunTool(first, std::to_string(kEpoch)).exitCode);

    // Later modification times are clamped, so touching the inputs changes nothing.
    for (const char* f : {"Settings.ini", "payload/data/big.bin", "MessageInfo.src.xml",
                          "support/readme.txt", "flat/flat.txt", "drivers/a.sys"}) {
        test::SetModified(In(f), kEpoch + 86400 * 30);
    }
    ASSERT_EQ(0, RunTool(CreateArgs(Out("second.exe")), std::to_string(kEpoch)).exitCode);
    EXPECT_EQ(ReadFile(Out("first.exe")), ReadFile(Out("second.exe")));

    const test::ParsedPackage package = test::ParsePackage(Out("first.exe"));
    EXPECT_EQ(FileTimeFromUnix(kEpoch), package.directory.time1);
    for (const PackageGroup& g : package.directory.groups) {
        for (const PackageEntry& e : g.entries)
            EXPECT_LE(e.lastWriteTime, FileTimeFromUnix(kEpoch));
    }
    const test::ToolRun extract = RunTool({"extract", Out("first.exe"), dir_ / "x"});
    ASSERT_EQ(0, extract.exitCode) << extract.err;
    EXPECT_EQ(1500000000, test::Modified(dir_ / "x/Package/setup.exe"));
    EXPECT_EQ(kEpoch, test::Modified(dir_ / "x/Package/data/big.bin"));
    EXPECT_EQ(kEpoch, test::Modified(dir_ / "x/Support/readme.txt"));

    // --time sets the time stamp; without SOURCE_DATE_EPOCH nothing is clamped.
    std::vector<std::string> args = CreateArgs(Out("third.exe"));
    args.insert(args.end(), {"--time", "1234567890"});
    ASSERT_EQ(0, RunTool(args).exitCode);
    const test::ParsedPackage third = test::ParsePackage(Out("third.exe"));
    EXPECT_EQ(FileTimeFromUnix(1234567890), third.directory.time1);
    EXPECT_EQ(FileTimeFromUnix(kEpoch + 86400 * 30),
              third.Find(kMainGroupName, u"readme.txt")->lastWriteTime);
}

TEST_F(PackerTest, SettingsAreStoredAsUtf16WithTotalFileSizeAddedOnlyWhenMissing) {
    const std::u16string withSize = u"[package]\r\n totalfilesize = 7\r\nProductName=Caf\u00e9\r\n";
    const std::u16string without = u"[Extraction]\nOpenExtractFolder=0\n";
    const std::u16string added =
        without + u"\n[Package]\nTotalFileSize=" + Ascii(std::to_string(payloadBytes_)) + u"\n";
    const std::string utf8WithSize = Utf16ToUtf8(withSize);
    Bytes le = EncodeUtf16LeWithBom(withSize);
    Bytes be = {0xFE, 0xFF};
    for (char16_t c : withSize)
        be.insert(be.end(), {static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)});
    const struct {
        Bytes input;
        std::u16string stored;
    } cases[] = {
        {test::ToBytes(utf8WithSize), withSize},
        {test::ToBytes("\xEF\xBB\xBF" + utf8WithSize), withSize},
        {le, withSize},
        {be, withSize},
        {test::ToBytes(Utf16ToUtf8(without)), added},
    };
    for (const auto& c : cases) {
        WriteFile(In("Settings.ini"), c.input);
        ASSERT_TRUE(CreatePackage(Options()).Ok());
        const test::ParsedPackage package = test::ParsePackage(Out());
        EXPECT_EQ(EncodeUtf16LeWithBom(c.stored),
                  package.Data(*package.Find(kMainGroupName, kSettingsEntryName)));
    }
}

TEST_F(PackerTest, EmptyPayloadLeavesTheCabinetOut) {
    std::filesystem::remove_all(In("payload"));
    std::filesystem::create_directories(In("payload/only-folders"));
    // Nothing to start: a FileName outside the package would be refused.
    WriteFile(In("Settings.ini"), "[Package]\r\nProductName=Demo\r\n");
    CreateOptions options = Options();
    options.groups.pop_back();  // "data\Drivers" needs the payload's "data" folder
    const Status status = CreatePackage(options);
    ASSERT_TRUE(status.Ok()) << status.Message();
    const test::ParsedPackage package = test::ParsePackage(Out());
    EXPECT_EQ(nullptr, package.Find(kMainGroupName, kCabinetEntryName));
    EXPECT_EQ(3u, package.directory.groups[0].entries.size());
    EXPECT_NE(std::u16string::npos,
              Utf16Text(package.Data(*package.Find(kMainGroupName, kSettingsEntryName)))
                  .find(u"TotalFileSize=0\r\n"));
}

TEST_F(PackerTest, BadInputFailsWithOneLineNamingTheFileAndLeavesNoOutput) {
    WriteFile(In("not-pe.exe"), "just text, not a program");
    Bytes trailing = test::MinimalPe();
    trailing.push_back(0);
    WriteFile(In("trailing.exe"), trailing);
    ASSERT_EQ(0, RunTool(CreateArgs(In("packed-before.exe"))).exitCode);
    WriteFile(In("other/settings.ini"), "x");
    WriteFile(In("other/README.TXT"), "x");
    WriteFile(In("nested/sub/file.txt"), "x");
    WriteFile(In("latin1.ini"), "[Package]\nProductName=Caf\xE9\n");
    WriteFile(In("clash/big.bin"), "x");
    WriteFile(In("clash2/SETUP.EXE"), "x");

    const struct {
        std::vector<std::string> extra;  // appended; later options replace earlier ones
        std::string named;               // must appear in the message
    } cases[] = {
        {{"--stub", In("not-pe.exe")}, In("not-pe.exe") + ": not a PE program file"},
        {{"--stub", In("trailing.exe")},
         In("trailing.exe") + ": has 1 bytes after its last section"},
        {{"--stub", In("packed-before.exe")},
         In("packed-before.exe") + ": already holds a package"},
        {{"--stub", In("missing.exe")}, In("missing.exe") + ": No such file"},
        {{"--settings", In("missing.ini")}, In("missing.ini")},
        {{"--settings", In("latin1.ini")}, In("latin1.ini") + ": not UTF-8"},
        {{"--payload", In("missing")}, In("missing")},
        {{"--message", In("missing.xml")}, In("missing.xml")},
        {{"--support", In("other/settings.ini")}, "a second entry named \"settings.ini\""},
        {{"--support", In("other/README.TXT")}, "a second entry named \"README.TXT\""},
        {{"--group", "../up=" + In("drivers")}, "group \"../up\": not a safe group name"},
        {{"--group", "a:b=" + In("drivers")}, "not a safe group name"},
        {{"--group", "x\\..\\y=" + In("drivers")}, "not a safe group name"},
        {{"--group", "Lpt\u00B9=" + In("drivers")}, "a Windows device name"},
        {{"--group", "sub.=" + In("drivers")}, "trailing dot"},
        {{"--group", "a|b=" + In("drivers")}, "character '|' is not allowed"},
        {{"--group", "drivers=" + In("drivers")}, "group \"drivers\": given twice"},
        {{"--group", "!!!e8ff0748-2339-49f9-9a79-824d7561736c=" + In("drivers")}, "reserved"},
        {{"--group", "nowhere\\sub=" + In("drivers")}, "parent folder \"nowhere\""},
        {{"--group", "Nested=" + In("nested")}, In("nested/sub") + ": a group holds plain files"},
        {{"--flat", In("nested")}, In("nested/sub")},
        {{"--group", "DATA=" + In("clash")}, "over the payload file \"DATA\\big.bin\""},
        {{"--flat", In("clash2")}, In("clash2/SETUP.EXE") + ": would be written over the payload"},
        {{"--group", "setup.exe=" + In("drivers")}, "the payload has a file of that name"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = CreateArgs(Out());
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const test::ToolRun run = RunTool(args);
        EXPECT_EQ(1, run.exitCode) << c.named;
        EXPECT_EQ(0u, run.err.rfind("quarrypack: ", 0)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.named)) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
        EXPECT_TRUE(test::ListFolder(dir_ / "out").empty()) << c.named;
    }
}

TEST_F(PackerTest, RefusesAnOutputThatIsOneOfTheInputsWhateverItsSpelling) {
    const Bytes stubBefore = ReadFile(In("quarry.exe"));
    const Bytes settingsBefore = ReadFile(In("Settings.ini"));
    ASSERT_EQ(0, ::link(In("quarry.exe").c_str(), (dir_ / "hardlink.exe").c_str()));
    ASSERT_EQ(0, ::symlink(In("Settings.ini").c_str(), (dir_ / "settings-link.ini").c_str()));
    const struct {
        std::string output;
        std::string message;
    } cases[] = {
        {In("quarry.exe"), "is the --stub input"},
        {dir_ / "in/../in/./quarry.exe", "is the --stub input"},
        {dir_ / "hardlink.exe", "is the --stub input"},
        {dir_ / "settings-link.ini", "is the --settings input"},
        {In("MessageInfo.src.xml"), "is the --message input"},
        {In("support/readme.txt"), "is the --support input"},
        {In("payload/new.exe"), "lies inside the --payload folder"},
        {In("payload/data/deep/new.exe"), "lies inside the --payload folder"},
        {In("flat/new.exe"), "lies inside the --flat folder"},
        {In("drivers/new.exe"), "lies inside the --group folder"},
    };
    for (const auto& c : cases) {
        const test::ToolRun run = RunTool(CreateArgs(c.output));
        EXPECT_EQ(1, run.exitCode) << c.output;
        EXPECT_EQ(0u, run.err.rfind("quarrypack: " + c.output + ": " + c.message, 0)) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }
    EXPECT_EQ(stubBefore, ReadFile(In("quarry.exe")));
    EXPECT_EQ(settingsBefore, ReadFile(In("Settings.ini")));
    EXPECT_FALSE(std::filesystem::exists(In("payload/new.exe")));
    // A fresh file beside the inputs is fine.
    EXPECT_EQ(0, RunTool(CreateArgs(In("packed.exe"))).exitCode);
}

TEST_F(PackerTest, CreateRefusesErrorsWithTheirLinesAndGoesOnAfterWarnings) {
    WriteFile(In("Settings.ini"), "[Package]\r\nProductName=Demo\r\n\r\n[Execution_x86]\r\n"
                                  "FileNmae=setup.exe\r\nFileName=setpu.exe\r\n");
    test::ToolRun run = RunTool(CreateArgs(Out()));
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos,
              run.err.find(In("Settings.ini") +
                           ":5: error: FileNmae: unknown key in [Execution_x86]; did you mean "
                           "FileName?\n" +
                           In("Settings.ini") +
                           ":6: error: FileName: \"setpu.exe\" [Execution_x86] is not in the "
                           "payload or a flat or named group; nothing would be started and the "
                           "run would end with 0\n"))
        << run.err;
    EXPECT_NE(std::string::npos, run.err.find("quarrypack: " + In("Settings.ini") +
                                              ": 2 errors in the package's inputs; nothing written"));
    EXPECT_TRUE(test::ListFolder(dir_ / "out").empty());

    // --force writes it all the same, after the same lines.
    std::vector<std::string> forced = CreateArgs(Out("forced.exe"));
    forced.push_back("--force");
    const test::ToolRun forcedRun = RunTool(forced);
    EXPECT_EQ(0, forcedRun.exitCode) << forcedRun.err;
    EXPECT_NE(std::string::npos, forcedRun.err.find(":5: error: FileNmae:")) << forcedRun.err;
    EXPECT_TRUE(std::filesystem::exists(Out("forced.exe")));
    std::filesystem::remove(Out("forced.exe"));

    // Warnings only: printed, and the package is written with a summary.
    WriteFile(In("Settings.ini"), "[Package]\r\nProductName=Demo\r\n[Execution_x86]\r\n"
                                  "FileName=setup.exe\r\nWaitTimeout=5\r\n");
    run = RunTool(CreateArgs(Out()));
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(In("Settings.ini") + ":5: warning: WaitTimeout:"))
        << run.err;
    const test::ParsedPackage package = test::ParsePackage(Out());
    const std::uint64_t cabinet = package.Find(kMainGroupName, kCabinetEntryName)->size;
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.3f", static_cast<double>(cabinet) / payloadBytes_);
    EXPECT_EQ("wrote " + Out() + ": 4 payload files, " + std::to_string(payloadBytes_) +
                  " bytes, in a cabinet of " + std::to_string(cabinet) + " bytes (ratio " +
                  ratio + "); " + std::to_string(package.file.size()) + " bytes in all\n",
              run.out);

    // --strict refuses the warnings too.
    std::vector<std::string> strict = CreateArgs(Out("strict.exe"));
    strict.push_back("--strict");
    run = RunTool(strict);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_FALSE(std::filesystem::exists(Out("strict.exe")));
}

// The text of the fenced block that follows `marker` in a document.
std::string DocumentedBlock(const std::string& document, const std::string& marker) {
    const Bytes bytes = ReadFile(std::string(QUARRY_SOURCE_DIR) + "/docs/" + document);
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t at = text.find("<!-- " + marker + " -->");
    if (at == std::string::npos) return std::string();
    const std::size_t open = text.find("```", at);
    const std::size_t start = text.find('\n', open) + 1;
    const std::size_t close = text.find("\n```", start);
    if (open == std::string::npos || close == std::string::npos) return std::string();
    return text.substr(start, close + 1 - start);
}

TEST(DocumentedExample, PacksCleanAndReadsAsDescribed) {
    const std::string settings = DocumentedBlock("settings.md", "example Settings.ini");
    const std::string payload = DocumentedBlock("settings.md", "example payload");
    const std::string message = DocumentedBlock("message-file.md", "example MessageInfo.xml");
    ASSERT_FALSE(settings.empty());
    ASSERT_FALSE(payload.empty());
    ASSERT_FALSE(message.empty());

    ScratchFolder dir;
    WriteFile(dir / "quarry.exe", test::MinimalPe());
    WriteFile(dir / "Settings.ini", settings);
    WriteFile(dir / "MessageInfo.xml", message);
    std::size_t start = 0;
    while (start < payload.size()) {
        const std::size_t end = payload.find('\n', start);
        std::string name = payload.substr(start, end - start);
        start = end + 1;
        std::replace(name.begin(), name.end(), '\\', '/');
        WriteFile(dir / ("payload/" + name), "@echo off\r\nexit /b 0\r\n");
    }

    test::ToolRun run = RunTool({"check", "--strict", "--settings", dir / "Settings.ini",
                                 "--payload", dir / "payload", "--message",
                                 dir / "MessageInfo.xml"});
    EXPECT_EQ(0, run.exitCode) << run.out << run.err;
    EXPECT_EQ("no findings\n", run.out);
    run = RunTool({"create", "--strict", "--stub", dir / "quarry.exe", "--settings",
                   dir / "Settings.ini", "--payload", dir / "payload", "--message",
                   dir / "MessageInfo.xml", "-o", dir / "WidgetUpdate.exe"});
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    run = RunTool({"check", dir / "WidgetUpdate.exe"});
    EXPECT_EQ(0, run.exitCode) << run.out;

    // What the program's loader makes of the stored file, as the page says.
    const test::ParsedPackage package = test::ParsePackage(dir / "WidgetUpdate.exe");
    const Bytes stored = package.Data(*package.Find(kMainGroupName, kSettingsEntryName));
    CheckInputs inputs;
    inputs.settingsFile = "Settings.ini";
    inputs.settingsText = Utf16Text(stored);
    inputs.destinationFiles = {u"setup.cmd", u"driver\\widget.inf", u"driver\\widget.sys"};
    inputs.destinationFolders = {u"driver"};
    inputs.messageFile = "MessageInfo.xml";
    inputs.messageBytes = test::ToBytes(message);
    EXPECT_TRUE(CheckPackageInputs(inputs).empty());
    EXPECT_NE(std::u16string::npos, inputs.settingsText.find(u"TotalFileSize="));
}

}  // namespace
}  // namespace quarry::pack::test
