// The payload cabinet with LZX folders: expanded by libgcab, whose decoder
// (like the platform's) takes one data block at a time, tested by
// cabextract, split into folders, and chosen on create's command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Cabinet.h"
#include "FileIo.h"
#include "LzxCabinet.h"
#include "ToolTestSupport.h"

namespace quarry::pack {
namespace {

using test::Bytes;
using test::ScratchFolder;

// Up to `limit` bytes of Wine's x86_64 shell32.dll (x86 code with CALLs and
// matches reaching across the whole 2 MiB window), or empty.
Bytes WineCode(std::size_t limit) {
    std::ifstream in("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll", std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > limit) bytes.resize(limit);
    return bytes;
}

Bytes Words(std::size_t size) {
    static const char* const kWords[] = {"setup ", "driver ", "package ", "folder ", "\r\n"};
    Bytes bytes;
    std::uint32_t x = 7;
    while (bytes.size() < size) {
        x = x * 1103515245u + 12345u;
        const char* word = kWords[(x >> 16) % 5];
        bytes.insert(bytes.end(), word, word + std::char_traits<char>::length(word));
    }
    bytes.resize(size);
    return bytes;
}

Bytes Noise(std::size_t size) {
    Bytes bytes(size);
    std::uint32_t x = 99;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 23);
    }
    return bytes;
}

TEST(LzxCabinet, ExpandsThroughABlockByBlockDecoderAndPassesCabextract) {
    const Bytes code = WineCode(3 << 20);
    if (code.size() < (3u << 20)) GTEST_SKIP() << "Wine's x86_64 shell32.dll is not installed";
    for (unsigned bits : {15u, 21u}) {
        SCOPED_TRACE(bits);
        ScratchFolder dir;
        const std::map<std::string, Bytes> files = {{"bin/shell32.dll", code},
                                                    {"empty", Bytes()},
                                                    {"one", Bytes{0xE8}},
                                                    {"text.txt", Words(32769)},
                                                    {"\xC3\xBC/noise.bin", Noise(70001)}};
        for (const auto& [name, bytes] : files) test::WriteFile(dir / ("p/" + name), bytes);
        std::vector<CabinetMember> members;
        ASSERT_TRUE(CollectPayload(dir / "p", std::nullopt, members).Ok());
        const std::string cabinet = dir / "lzx.cab";
        test::WriteFile(cabinet, Bytes());
        std::uint64_t lastDone = 0;
        std::uint64_t lastPacked = 0;
        const Status written = WriteCabinet(
            members, Compression::Lzx, cabinet, bits,
            [&](std::uint64_t done, std::uint64_t, std::uint64_t packed) {
                lastDone = done;
                lastPacked = packed;
            });
        ASSERT_TRUE(written.Ok()) << written.Message();
        const Bytes bytes = test::ReadFile(cabinet);
        EXPECT_EQ(3 | (bits << 8), bytes.at(42) | (bytes.at(43) << 8));  // typeCompress
        EXPECT_EQ(code.size() + 32769 + 70001 + 1, lastDone);
        EXPECT_LT(lastPacked, bytes.size());
        EXPECT_LT(bytes.size(), code.size() / 2 + 70001 + 32769);

        ASSERT_TRUE(MakeDirectories(dir / "out").Ok());
        std::vector<ExpandedFile> expanded;
        const Status status = ExpandCabinet(cabinet, dir / "out", expanded);
        ASSERT_TRUE(status.Ok()) << status.Message();
        EXPECT_EQ(files, test::ReadTree(dir / "out"));

        const std::string command = "cabextract -t '" + cabinet + "' 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        for (int c; (c = std::fgetc(pipe)) != EOF;) output.push_back(static_cast<char>(c));
        EXPECT_EQ(0, ::pclose(pipe)) << output;
        EXPECT_NE(std::string::npos, output.find("All done, no errors.")) << output;
    }
}

TEST(LzxCabinet, SplitsLargePayloadsIntoFoldersForTwoThreads) {
    constexpr std::uint64_t kMiB = 1 << 20;
    const struct {
        std::vector<std::uint64_t> sizes;
        std::vector<std::size_t> starts;
    } cases[] = {
        {{}, {}},
        {{0, 0}, {0}},
        {{8 * kMiB}, {0}},
        {{4 * kMiB, 4 * kMiB}, {0}},
        {{5 * kMiB, 5 * kMiB}, {0, 1}},
        {{5 * kMiB, 5 * kMiB, 0, 0}, {0, 1}},  // empty files stay with the folder before
        {{1 * kMiB, 4 * kMiB, 1 * kMiB, 4 * kMiB}, {0, 2}},
        {{40 * kMiB, 20 * kMiB, 20 * kMiB, 10 * kMiB}, {0, 1, 3}},  // at most 32 MiB a folder
        {{100 * kMiB, 1}, {0, 1}},
    };
    for (const auto& c : cases) {
        std::vector<CabinetMember> members;
        for (std::uint64_t size : c.sizes) members.push_back(CabinetMember{"", u"f", size, 0});
        EXPECT_EQ(c.starts, PlanLzxFolders(members)) << ::testing::PrintToString(c.sizes);
    }
}

class LzxCreateTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteFile(dir_ / "quarry.exe", test::MinimalPe());
        test::WriteFile(dir_ / "Settings.ini",
                        "[Package]\r\nProductName=Demo\r\n[Execution_x86]\r\nFileName=a.txt\r\n"
                        "[Execution_x64]\r\nFileName=a.txt\r\n");
        test::WriteFile(dir_ / "payload/a.txt", Words(100000));
    }
    test::ToolRun Create(const std::string& compression) {
        return test::RunTool({"create", "--stub", dir_ / "quarry.exe", "--settings",
                              dir_ / "Settings.ini", "--payload", dir_ / "payload", "--output",
                              dir_ / "out.exe", "--compression", compression});
    }
    ScratchFolder dir_;
};

TEST_F(LzxCreateTest, ListsEachFolderWithItsCompression) {
    const struct {
        const char* option;
        const char* listed;
    } cases[] = {{"lzx", "folder 1: LZX, window 2^21, 4 data blocks\n"},
                 {"lzx:15", "folder 1: LZX, window 2^15, 4 data blocks\n"},
                 {"lzx:20", "folder 1: LZX, window 2^20, 4 data blocks\n"},
                 {"mszip", "folder 1: MSZIP, 4 data blocks\n"},
                 {"none", "folder 1: none, 4 data blocks\n"}};
    for (const auto& c : cases) {
        const test::ToolRun create = Create(c.option);
        ASSERT_EQ(0, create.exitCode) << create.err;
        EXPECT_NE(std::string::npos, create.out.find(" (ratio ")) << create.out;
        const test::ToolRun list = test::RunTool({"list", dir_ / "out.exe"});
        ASSERT_EQ(0, list.exitCode) << list.err;
        EXPECT_NE(std::string::npos, list.out.find(c.listed)) << c.option << "\n" << list.out;
        std::filesystem::remove(dir_ / "out.exe");
    }
}

TEST_F(LzxCreateTest, RefusesWindowsOutsideFifteenToTwentyOneBits) {
    for (const char* option : {"lzx:14", "lzx:22", "lzx:", "lzx:2", "lzx:021", "lzx21", "LZX"}) {
        const test::ToolRun create = Create(option);
        EXPECT_EQ(2, create.exitCode) << option;
        EXPECT_NE(std::string::npos, create.err.find("--compression")) << create.err;
        EXPECT_FALSE(std::filesystem::exists(dir_ / "out.exe"));
    }
}

}  // namespace
}  // namespace quarry::pack
