#include "PackerFixture.h"

#include <gtest/gtest.h>


namespace quarry::pack::test {
namespace {

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

}  // namespace
}  // namespace quarry::pack::test
