#include "List.h"

#include <gtest/gtest.h>

#include "PackerFixture.h"

namespace quarry::pack::test {
namespace {

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

}  // namespace
}  // namespace quarry::pack::test
