#include "Packer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "FileIo.h"
#include "FileTime.h"
#include "IniText.h"
#include "ToolTestSupport.h"
#include "common/Text.h"

namespace quarry::pack {
namespace {

using test::Bytes;
using test::ReadFile;
using test::RunTool;
using test::ScratchFolder;
using test::WriteFile;

constexpr std::int64_t kEpoch = 1600000000;  // 2020-09-13 12:26:40 UTC
const char kMessageFile[] = "<MessageInfo><en-US><Message>Go on?</Message></en-US></MessageInfo>";

Bytes Complement(Bytes bytes) {
    UnscrambleBuffer(bytes.data(), bytes.size());
    return bytes;
}

std::u16string Utf16Text(const Bytes& stored) {
    std::u16string text;
    for (std::size_t i = 2; i + 1 < stored.size(); i += 2) {
        text.push_back(static_cast<char16_t>(stored[i] | (stored[i + 1] << 8)));
    }
    return text;
}

struct CraftedEntry {
    std::u16string name;
    Bytes data;
    std::uint64_t lastWriteTime = 0;
};
struct CraftedGroup {
    std::u16string name;
    std::vector<CraftedEntry> entries;
};

// A package written directly with the shared directory writer, for
// directories that quarrypack create would not produce.
void WriteCraftedPackage(const std::string& path, const std::vector<CraftedGroup>& groups) {
    PackageDirectory directory;
    directory.time1 = directory.time2 = FileTimeFromUnix(kEpoch);
    Bytes data;
    for (const CraftedGroup& g : groups) {
        PackageGroup group;
        group.name = g.name;
        for (const CraftedEntry& e : g.entries) {
            PackageEntry entry;
            entry.name = e.name;
            entry.size = e.data.size();
            entry.lastWriteTime = e.lastWriteTime;
            group.entries.push_back(entry);
            data.insert(data.end(), e.data.begin(), e.data.end());
        }
        directory.groups.push_back(group);
    }
    Bytes file = test::MinimalPe();
    const std::uint64_t offset = file.size();
    for (int i = 0; i < 8; ++i) file[32 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    Bytes records;
    ASSERT_EQ(kResultOk, WriteDirectory(directory, records));
    file.insert(file.end(), records.begin(), records.end());
    file.insert(file.end(), data.begin(), data.end());
    WriteFile(path, file);
}

class PackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(In("quarry.exe"), test::MinimalPe());
        WriteFile(In("Settings.ini"),
                  "[Package]\r\nProductName=Demo\r\n\r\n[Execution_x86]\r\n"
                  "FileName=setup.exe\r\n");
        WriteFile(In("payload/setup.exe"), "MZ setup");
        WriteFile(In("payload/empty.dat"), Bytes());
        Bytes big(300000);
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * i >> 3);
        WriteFile(In("payload/data/big.bin"), big);
        WriteFile(In("payload/data/deep/R\xC3\xA9sum\xC3\xA9.txt"), "accents");
        WriteFile(In("MessageInfo.src.xml"), kMessageFile);
        WriteFile(In("support/readme.txt"), "support");
        WriteFile(In("flat/flat.txt"), "flat file");
        WriteFile(In("drivers/a.sys"), "driver");
        WriteFile(In("drivers/b.inf"), "inf");
        std::filesystem::create_directories(dir_ / "out");
        payloadBytes_ = 8 + 0 + 300000 + 7;
    }

    std::string In(const std::string& name) const { return dir_ / ("in/" + name); }
    std::string Out(const std::string& name = "packed.exe") const { return dir_ / ("out/" + name); }

    CreateOptions Options() const {
        CreateOptions options;
        options.stubPath = In("quarry.exe");
        options.settingsPath = In("Settings.ini");
        options.payloadFolder = In("payload");
        options.outputPath = Out();
        options.messagePath = In("MessageInfo.src.xml");
        options.supportPaths = {In("support/readme.txt")};
        options.flatFolder = In("flat");
        options.groups = {{"Drivers", In("drivers")}, {"data\\Drivers", In("drivers")}};
        options.flags = 0x8000000000000001ull;
        options.time = kEpoch;
        return options;
    }

    std::vector<std::string> CreateArgs(const std::string& output) const {
        return {"create",
                "--stub",
                In("quarry.exe"),
                "--settings",
                In("Settings.ini"),
                "--payload",
                In("payload"),
                "--output",
                output,
                "--message",
                In("MessageInfo.src.xml"),
                "--support",
                In("support/readme.txt"),
                "--flat",
                In("flat"),
                "--group",
                "Drivers=" + In("drivers"),
                "--flags",
                "0x1"};
    }

    ScratchFolder dir_;
    std::uint64_t payloadBytes_ = 0;
};

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

TEST_F(PackerTest, ExtractReproducesThePayloadAndTheGroups) {
    for (const char* compression : {"mszip", "none"}) {
        test::SetModified(In("payload/data/big.bin"), 1500000000);
        std::vector<std::string> args = CreateArgs(Out());
        args.insert(args.end(),
                    {"--compression", compression, "--group", "data\\Drivers=" + In("drivers")});
        const test::ToolRun create = RunTool(args);
        ASSERT_EQ(0, create.exitCode) << create.err;

        const test::ParsedPackage package = test::ParsePackage(Out());
        const Bytes cabinet =
            Complement(package.Data(*package.Find(kMainGroupName, kCabinetEntryName)));
        const std::uint16_t type =
            static_cast<std::uint16_t>(cabinet.at(42) | (cabinet.at(43) << 8));
        EXPECT_EQ(std::string(compression) == "mszip" ? 1 : 0, type & 0xF) << compression;

        const std::string target = dir_ / ("x-" + std::string(compression));
        const test::ToolRun extract = RunTool({"extract", Out(), target});
        ASSERT_EQ(0, extract.exitCode) << extract.err;

        std::map<std::string, Bytes> expected = test::ReadTree(In("payload"));
        expected["flat.txt"] = test::ToBytes("flat file");
        for (const char* group : {"Drivers", "data/Drivers"}) {
            expected[std::string(group) + "/a.sys"] = test::ToBytes("driver");
            expected[std::string(group) + "/b.inf"] = test::ToBytes("inf");
        }
        EXPECT_EQ(expected, test::ReadTree(target + "/Package")) << compression;
        EXPECT_EQ(1500000000, test::Modified(target + "/Package/data/big.bin"));

        EXPECT_EQ((std::vector<std::string>{"MessageInfo.xml", "Settings.ini", "readme.txt"}),
                  test::ListFolder(target + "/Support"));
        EXPECT_EQ(package.Data(*package.Find(kMainGroupName, kSettingsEntryName)),
                  ReadFile(target + "/Support/Settings.ini"));
    }
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

TEST_F(PackerTest, UsageErrorsExitWithStatusTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"pack"},
        {"extract", Out()},
        {"create", "--stub", In("quarry.exe")},
        {"create", "--flags", "0x1ffffffffffffffff"},
        {"create", "--time", "yesterday"},
        {"create", "--compression", "lzx"},
        {"create", "--group", "NoFolder"},
    };
    for (const auto& args : cases) {
        const test::ToolRun run = RunTool(args);
        EXPECT_EQ(2, run.exitCode) << (args.empty() ? "" : args[0]);
        EXPECT_NE(std::string::npos, run.err.find("--help")) << run.err;
    }
    EXPECT_EQ(2, RunTool(CreateArgs(Out()), "soon").exitCode);
    EXPECT_TRUE(test::ListFolder(dir_ / "out").empty());

    const test::ToolRun help = RunTool({"--help"});
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.out.find("quarrypack create --stub FILE"));
}

TEST_F(PackerTest, ListShowsHeaderGroupsAndEntries) {
    ASSERT_EQ(0, RunTool(CreateArgs(Out()), std::to_string(kEpoch)).exitCode);
    const test::ToolRun run = RunTool({"list", Out()});
    ASSERT_EQ(0, run.exitCode) << run.err;
    const test::ParsedPackage package = test::ParsePackage(Out());
    char offset[64];
    std::snprintf(offset, sizeof offset, "offset    %zu (0x%08zx)", test::MinimalPe().size(),
                  test::MinimalPe().size());
    const PackageEntry& readme = *package.Find(kMainGroupName, u"readme.txt");
    const std::string readmeLine = std::to_string(readme.size) + "  " +
                                   std::string(12 - std::to_string(readme.offset).size(), ' ') +
                                   std::to_string(readme.offset) +
                                   "  2020-09-13 12:26:40 UTC  readme.txt\n";
    for (const std::string& expected :
         {std::string(offset),
          std::string("time1     2020-09-13 12:26:40 UTC (0x01d689c921a68000)"),
          std::string("flags     0x0000000000000001\n"
                      "          bit 0: consult SilentExecution registry value\n"),
          std::string("group !!!53AAED7C-68E7-413C-A5FD-D9F76477D66A (main, 4 entries)"),
          std::string("group !!!E8FF0748-2339-49f9-9A79-824D7561736C (flat, 1 entry)"),
          std::string("group Drivers (named, 2 entries)"), readmeLine}) {
        EXPECT_NE(std::string::npos, run.out.find(expected)) << expected << "\n" << run.out;
    }

    std::vector<std::string> args = CreateArgs(Out("noflags.exe"));
    args.insert(args.end(), {"--flags", "0"});
    ASSERT_EQ(0, RunTool(args).exitCode);
    EXPECT_EQ(std::string::npos, RunTool({"list", Out("noflags.exe")}).out.find("bit 0"));
}

TEST_F(PackerTest, DamagedPackagesAreRefusedByListAndExtract) {
    ASSERT_TRUE(CreatePackage(Options()).Ok());
    const Bytes good = ReadFile(Out());
    const test::ParsedPackage package = test::ParsePackage(Out());
    const std::size_t offset = static_cast<std::size_t>(package.offset);

    Bytes zeroTime = good;
    std::fill(zeroTime.begin() + static_cast<std::ptrdiff_t>(offset),
              zeroTime.begin() + static_cast<std::ptrdiff_t>(offset + 8), 0);
    Bytes longName = good;
    longName[offset + 28] = 0x00;  // first group's name length: 32,000
    longName[offset + 29] = 0x7D;
    const struct {
        Bytes bytes;
        const char* message;
    } cases[] = {
        {Bytes(good.begin(), good.end() - 1), "entries' data end at byte"},
        {Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(offset + 40)), "directory"},
        {Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(offset + 10)), "header"},
        {Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(offset)),
         "outside the file"},
        {zeroTime, "time stamp is zero"},
        {longName, "directory"},
        {test::MinimalPe(), "holds no package"},
        {Bytes(good.begin(), good.begin() + 20), "too short"},
    };
    for (const auto& c : cases) {
        const std::string damaged = dir_ / "damaged.exe";
        WriteFile(damaged, c.bytes);
        for (const char* command : {"list", "extract"}) {
            std::vector<std::string> args{command, damaged};
            if (std::string(command) == "extract") args.push_back(dir_ / "x");
            const test::ToolRun run = RunTool(args);
            EXPECT_EQ(1, run.exitCode) << c.message;
            EXPECT_EQ(0u, run.err.find("quarrypack: " + damaged + ": ")) << run.err;
            EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
            EXPECT_FALSE(std::filesystem::exists(dir_ / "x")) << c.message;
        }
    }
}

TEST_F(PackerTest, ExtractRefusesCabinetMembersOutsideTheFolder) {
    // The cabinet names "..\evil.txt": libgcab writes whatever name it is given.
    WriteFile(dir_ / "evil.txt", "evil");
    WriteFile(dir_ / "evil.cab", Bytes());
    ASSERT_TRUE(WriteCabinet({{dir_ / "evil.txt", u"..\\evil.txt", 4, kEpoch}}, Compression::Mszip,
                             dir_ / "evil.cab")
                    .Ok());
    WriteCraftedPackage(dir_ / "evil.exe",
                        {{kMainGroupName,
                          {{kSettingsEntryName, EncodeUtf16LeWithBom(u"[Package]\r\n")},
                           {kCabinetEntryName, Complement(ReadFile(dir_ / "evil.cab"))}}}});

    const test::ToolRun run = RunTool({"extract", dir_ / "evil.exe", dir_ / "x/target"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find(dir_ / "evil.exe")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("\"..\\evil.txt\" refused")) << run.err;
    EXPECT_TRUE(test::ListFolder(dir_ / "x/target/Package").empty());
    EXPECT_EQ(std::vector<std::string>{"target"}, test::ListFolder(dir_ / "x"));
}

TEST_F(PackerTest, ExtractFollowsNoSymbolicLinkBelowTheOutputFolder) {
    ASSERT_EQ(0, RunTool(CreateArgs(Out())).exitCode);
    const std::string outside = dir_ / "outside";
    const std::string victim = outside + "/victim.txt";
    const std::string out = dir_ / "x";
    const struct {
        const char* link;  // below the output folder ("" for the folder itself)
        std::string target;
        const char* named;  // in the message, before ": is a symbolic link"
    } cases[] = {
        {"Package/setup.exe", victim, "x/Package/setup.exe"},  // a payload file
        {"Package/data", outside, "x/Package/data"},           // a payload folder
        {"Package/flat.txt", victim, "x/Package/flat.txt"},    // an entry of the flat group
        {"Package/Drivers", outside, "x/Package/Drivers"},     // a named group's folder
        {"Support/Settings.ini", victim, "x/Support/Settings.ini"},
        {"Support", outside, "x/Support"},
        {"", outside, "x"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(out);
        std::filesystem::remove_all(outside);
        WriteFile(victim, "mine");
        const std::string link = c.link[0] ? out + "/" + c.link : out;
        std::filesystem::create_directories(std::filesystem::path(link).parent_path());
        ASSERT_EQ(0, ::symlink(c.target.c_str(), link.c_str())) << c.link;

        const test::ToolRun run = RunTool({"extract", Out(), out});
        EXPECT_EQ(1, run.exitCode) << c.link;
        EXPECT_NE(std::string::npos,
                  run.err.find(dir_ / (std::string(c.named) + ": is a symbolic link")))
            << run.err;
        EXPECT_EQ(std::vector<std::string>{"victim.txt"}, test::ListFolder(outside)) << c.link;
        EXPECT_EQ(test::ToBytes("mine"), ReadFile(victim)) << c.link;
    }
    // Into a folder that holds the files already, nothing is written over.
    std::filesystem::remove_all(out);
    ASSERT_EQ(0, RunTool({"extract", Out(), out}).exitCode);
    WriteFile(out + "/Package/setup.exe", "mine");
    const test::ToolRun again = RunTool({"extract", Out(), out});
    EXPECT_EQ(1, again.exitCode);
    EXPECT_NE(std::string::npos, again.err.find("exists already")) << again.err;
    EXPECT_EQ(test::ToBytes("mine"), ReadFile(out + "/Package/setup.exe"));
}

TEST_F(PackerTest, ListAndExtractPrintControlCharactersEscaped) {
    WriteFile(dir_ / "red.txt", "red");
    WriteFile(dir_ / "red.cab", Bytes());
    const std::u16string name = u"a\x1B[31mred\x01\x7F\u0085.txt";
    ASSERT_TRUE(WriteCabinet({{dir_ / "red.txt", name, 3, kEpoch}}, Compression::Mszip,
                             dir_ / "red.cab")
                    .Ok());
    WriteCraftedPackage(dir_ / "red.exe",
                        {{kMainGroupName,
                          {{kSettingsEntryName, EncodeUtf16LeWithBom(u"[Package]\r\n")},
                           {kCabinetEntryName, Complement(ReadFile(dir_ / "red.cab"))}}}});
    const std::string printed = "a\\x1b[31mred\\x01\\x7f\\x85.txt";

    const test::ToolRun list = RunTool({"list", dir_ / "red.exe"});
    ASSERT_EQ(0, list.exitCode) << list.err;
    EXPECT_NE(std::string::npos, list.out.find("  " + printed + "\n")) << list.out;
    const test::ToolRun extract = RunTool({"extract", dir_ / "red.exe", dir_ / "x"});
    EXPECT_EQ(1, extract.exitCode);
    EXPECT_NE(std::string::npos, extract.err.find("\"" + printed + "\" refused: control character"))
        << extract.err;
    for (const std::string& text : {list.out, extract.err}) {
        for (unsigned char c : text) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F)) << int(c);
    }
}

TEST_F(PackerTest, ExtractPlacesEntriesAsTheRunnerDoes) {
    const std::uint64_t both = FileTimeFromUnix(1500000000);
    const std::uint64_t lowZero = both & ~0xFFFFFFFFull;
    WriteCraftedPackage(
        dir_ / "crafted.exe",
        {{kMainGroupName, {{kSettingsEntryName, test::ToBytes("first")}, {u"a.txt", {}}}},
         // A second main group, spelled in lower case: its Settings.ini is skipped.
         {u"!!!53aaed7c-68e7-413c-a5fd-d9f76477d66a",
          {{u"settings.INI", test::ToBytes("second")}, {u"b.txt", test::ToBytes("b")}}},
         // Named like the cabinet outside the main group: copied as it is.
         {u"Extra\\Sub", {{kCabinetEntryName, test::ToBytes("plain"), both}}},
         {kFlatGroupName, {{u"kept.txt", test::ToBytes("k"), both}, {u"now.txt", {}, lowZero}}}});

    const test::ToolRun run = RunTool({"extract", dir_ / "crafted.exe", dir_ / "x"});
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ((std::map<std::string, Bytes>{
                  {"Support/Settings.ini", test::ToBytes("first")},
                  {"Support/a.txt", {}},
                  {"Support/b.txt", test::ToBytes("b")},
                  {"Package/Extra/Sub/" + Utf16ToUtf8(kCabinetEntryName), test::ToBytes("plain")},
                  {"Package/kept.txt", test::ToBytes("k")},
                  {"Package/now.txt", {}}}),
              test::ReadTree(dir_ / "x"));
    EXPECT_EQ(1500000000, test::Modified(dir_ / "x/Package/kept.txt"));
    EXPECT_GT(test::Modified(dir_ / "x/Package/now.txt"), kEpoch);  // time of writing
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

// Marks a program file as signed the way signing does: a certificate table
// appended and named in the security data directory.
void AppendCertificateTable(const std::string& path) {
    Bytes file = ReadFile(path);
    const std::size_t optional = 0x80 + 4 + 20;
    const std::uint32_t offset = static_cast<std::uint32_t>(file.size());
    const Bytes table = {16, 0, 0, 0, 0, 2, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    file.insert(file.end(), table.begin(), table.end());
    for (int i = 0; i < 4; ++i) {
        file[optional + 128 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
        file[optional + 132 + i] = static_cast<std::uint8_t>(table.size() >> (8 * i));
    }
    WriteFile(path, file);
}

TEST_F(PackerTest, ListShowsTheCabinetsFilesAndTheSignature) {
    test::SetModified(In("payload/setup.exe"), 1500000000);
    ASSERT_EQ(0, RunTool(CreateArgs(Out())).exitCode);
    test::ToolRun run = RunTool({"list", Out()});
    ASSERT_EQ(0, run.exitCode) << run.err;
    for (const std::string& expected :
         {std::string("signature none (the program file is not signed)\n"),
          std::string("\npayload cabinet (4 files, " + std::to_string(payloadBytes_) + " bytes)\n"),
          std::string("        300000  "),
          std::string("             8  2017-07-14 02:40:00 UTC  setup.exe\n"),
          std::string("  data\\deep\\R\xC3\xA9sum\xC3\xA9.txt\n")}) {
        EXPECT_NE(std::string::npos, run.out.find(expected)) << expected << "\n" << run.out;
    }
    AppendCertificateTable(Out());
    run = RunTool({"list", Out()});
    ASSERT_EQ(0, run.exitCode) << run.err;
    EXPECT_NE(std::string::npos,
              run.out.find("signature a certificate table of 16 bytes at offset " +
                           std::to_string(ReadFile(Out()).size() - 16) +
                           " (present; check verifies it)\n"))
        << run.out;
}

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

TEST_F(PackerTest, VersionAndCommandHelpAreNotUsageErrors) {
    test::ToolRun run = RunTool({"--version"});
    EXPECT_EQ(0, run.exitCode);
    EXPECT_EQ(0u, run.out.find("quarrypack 1."));
    for (const char* command : {"create", "check"}) {
        run = RunTool({command, "--help"});
        EXPECT_EQ(0, run.exitCode) << command;
        EXPECT_EQ(0u, run.out.find(std::string("Usage:\n  quarrypack ") + command)) << run.out;
    }
    const std::vector<std::vector<std::string>> usage = {
        {"check"},
        {"check", Out(), Out()},
        {"check", "--settings", In("Settings.ini")},
        {"check", Out(), "--stub", In("quarry.exe")},
    };
    for (const auto& args : usage) {
        run = RunTool(args);
        EXPECT_EQ(2, run.exitCode) << args.size();
        EXPECT_NE(std::string::npos, run.err.find("--help")) << run.err;
    }
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

TEST(TempFile, DisappearsUnlessCommitted) {
    ScratchFolder dir;
    std::string path;
    {
        TempFile temp;
        ASSERT_TRUE(temp.Create(dir / "out.exe").Ok());
        path = temp.Path();
        ASSERT_TRUE(WriteAll(temp.Fd(), "abc", 3, path).Ok());
        EXPECT_TRUE(std::filesystem::exists(path));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(test::ListFolder(dir.Path()).empty());

    TempFile temp;
    ASSERT_TRUE(temp.Create(dir / "out.exe").Ok());
    ASSERT_TRUE(WriteAll(temp.Fd(), "abc", 3, temp.Path()).Ok());
    ASSERT_TRUE(temp.CommitAs(dir / "out.exe", 0644).Ok());
    temp.Discard();
    EXPECT_EQ(std::vector<std::string>{"out.exe"}, test::ListFolder(dir.Path()));
    EXPECT_EQ(test::ToBytes("abc"), ReadFile(dir / "out.exe"));
}

}  // namespace
}  // namespace quarry::pack
