#include "Extract.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>

#include "Cabinet.h"
#include "IniText.h"
#include "List.h"
#include "PackerFixture.h"
#include "common/Text.h"

namespace quarry::pack::test {
namespace {

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
    WriteOneMemberPackage("evil", u"..\\evil.txt", "evil");

    const test::ToolRun run = RunTool({"extract", dir_ / "evil.exe", dir_ / "x/target"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find(dir_ / "evil.exe")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("\"..\\evil.txt\" refused")) << run.err;
    EXPECT_TRUE(test::ListFolder(dir_ / "x/target/Package").empty());
    EXPECT_EQ(std::vector<std::string>{"target"}, test::ListFolder(dir_ / "x"));
}

// A cabinet the program's expansion refuses writes no payload file: here one
// whose folder record's compression type, which no checksum covers, was
// turned from MSZIP into "none" (libgcab would write the compressed bytes).
TEST_F(PackerTest, ExtractRefusesACabinetTheProgramRefuses) {
    ASSERT_EQ(0, RunTool(CreateArgs(Out())).exitCode);
    const test::ParsedPackage package = test::ParsePackage(Out());
    const PackageEntry* cabinet = package.Find(kMainGroupName, kCabinetEntryName);
    ASSERT_TRUE(cabinet);
    Bytes damaged = ReadFile(Out());
    damaged[cabinet->offset + 36 + 6] ^= 0x01;  // no reserved space: the first folder record
    WriteFile(dir_ / "damaged.exe", damaged);
    const test::ToolRun run = RunTool({"extract", dir_ / "damaged.exe", dir_ / "x"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("cannot expand the cabinet: data block 1 of folder 1"))
        << run.err;
    EXPECT_TRUE(test::ListFolder(dir_ / "x/Package").empty());
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
    const std::u16string name = u"a\x1B[31mred\x01\x7F\u0085.txt";
    WriteOneMemberPackage("red", name, "red");
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

// The runner expands the first cabinet entry of each main group; a later
// one in the same group is a file of the support folder like any other.
TEST_F(PackerTest, ExtractExpandsTheFirstCabinetOfEachMainGroupOnly) {
    const Bytes first = PackedCabinet("one", u"one.txt", "one");
    const Bytes second = PackedCabinet("two", u"two.txt", "two");
    const std::u16string lowerName = u"e8ff0748-2339-49f9-9a79-824d7561736c.CAB";
    WriteCraftedPackage(
        dir_ / "cabinets.exe",
        {{kMainGroupName,
          {{kSettingsEntryName, EncodeUtf16LeWithBom(u"[Package]\r\n")},
           {kCabinetEntryName, first},
           {lowerName, test::ToBytes("plain")}}},
         {u"!!!53aaed7c-68e7-413c-a5fd-d9f76477d66a", {{kCabinetEntryName, second}}}});

    const test::ToolRun run = RunTool({"extract", dir_ / "cabinets.exe", dir_ / "x"});
    ASSERT_EQ(0, run.exitCode) << run.err;
    const std::map<std::string, Bytes> tree = test::ReadTree(dir_ / "x");
    EXPECT_EQ(test::ToBytes("one"), tree.at("Package/one.txt"));
    EXPECT_EQ(test::ToBytes("two"), tree.at("Package/two.txt"));
    EXPECT_EQ(test::ToBytes("plain"), tree.at("Support/" + Utf16ToUtf8(lowerName)));
    EXPECT_EQ(4u, tree.size());

    const test::ToolRun list = RunTool({"list", dir_ / "cabinets.exe"});
    ASSERT_EQ(0, list.exitCode) << list.err;
    EXPECT_EQ(2u, CountOf(list.out, "\npayload cabinet (")) << list.out;
}

}  // namespace
}  // namespace quarry::pack::test
