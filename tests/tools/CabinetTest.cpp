#include "Cabinet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "FileIo.h"
#include "FileTime.h"
#include "ToolTestSupport.h"

namespace quarry::pack {
namespace {

using test::Bytes;
using test::ScratchFolder;

Bytes Pattern(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

std::string MakeCabinet(const ScratchFolder& dir, const std::vector<CabinetMember>& members,
                        Compression compression = Compression::Mszip) {
    const std::string path = dir / "test.cab";
    test::WriteFile(path, Bytes());
    const Status status = WriteCabinet(members, compression, path);
    EXPECT_TRUE(status.Ok()) << status.Message();
    return path;
}

TEST(Cabinet, StoresBackslashNamesUtf8FlagsAndUtcDates) {
    ScratchFolder dir;
    test::WriteFile(dir / "p/setup.exe", "MZ");
    test::WriteFile(dir / "p/docs/R\xC3\xA9sum\xC3\xA9.txt", "cv");
    test::WriteFile(dir / "p/docs/deep/z.txt", "z");
    test::SetModified(dir / "p/setup.exe", 1500000000);
    test::SetModified(dir / "p/docs/R\xC3\xA9sum\xC3\xA9.txt", 1500000001);
    test::SetModified(dir / "p/docs/deep/z.txt", 1800000000);  // later than the clamp

    std::vector<CabinetMember> members;
    ASSERT_TRUE(CollectPayload(dir / "p", 1600000000, members).Ok());
    const test::CabinetHeader header =
        test::ReadCabinetHeader(test::ReadFile(MakeCabinet(dir, members)));

    ASSERT_EQ(3u, header.files.size());
    EXPECT_EQ("docs\\R\xC3\xA9sum\xC3\xA9.txt", header.files[0].name);
    EXPECT_EQ("docs\\deep\\z.txt", header.files[1].name);
    EXPECT_EQ("setup.exe", header.files[2].name);
    EXPECT_EQ(0x1A0, header.files[0].attributes);  // archive, UTF-8 name, UTC date
    EXPECT_EQ(0x120, header.files[1].attributes);
    EXPECT_EQ(0x120, header.files[2].attributes);

    // DOS date and time fields, in UTC: 2017-07-14 02:40:00, and 2020-09-13
    // 12:26:40 for the clamped file; 1500000001 rounds down to an even second.
    auto dosDate = [](int y, int m, int d) {
        return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d);
    };
    auto dosTime = [](int h, int mi, int s) {
        return static_cast<std::uint16_t>((h << 11) | (mi << 5) | (s / 2));
    };
    EXPECT_EQ(dosDate(2017, 7, 14), header.files[0].date);
    EXPECT_EQ(dosTime(2, 40, 0), header.files[0].time);
    EXPECT_EQ(dosDate(2020, 9, 13), header.files[1].date);
    EXPECT_EQ(dosTime(12, 26, 40), header.files[1].time);
    EXPECT_EQ(dosDate(2017, 7, 14), header.files[2].date);
}

TEST(Cabinet, ExpandsWhatItWrote) {
    for (Compression compression : {Compression::Mszip, Compression::None}) {
        ScratchFolder dir;
        std::vector<std::pair<std::string, Bytes>> files = {{"a.bin", Pattern(70000, 1)},
                                                            {"b/c.bin", Pattern(100000, 2)},
                                                            {"b/empty", Bytes()},
                                                            {"d/e/f.txt", test::ToBytes("text")},
                                                            {"\xC3\xBC.bin", Pattern(40000, 3)}};
        for (const auto& [name, bytes] : files) test::WriteFile(dir / ("p/" + name), bytes);
        for (const auto& [name, bytes] : files) test::SetModified(dir / ("p/" + name), 1500000000);

        std::vector<CabinetMember> members;
        ASSERT_TRUE(CollectPayload(dir / "p", std::nullopt, members).Ok());
        const std::string cabinet = MakeCabinet(dir, members, compression);
        const Bytes bytes = test::ReadFile(cabinet);
        EXPECT_EQ(compression == Compression::Mszip ? 1 : 0, bytes.at(42) & 0xF);  // typeCompress

        ASSERT_TRUE(MakeDirectories(dir / "out").Ok());
        std::vector<ExpandedFile> expanded;
        const Status status = ExpandCabinet(cabinet, dir / "out", expanded);
        ASSERT_TRUE(status.Ok()) << status.Message();
        EXPECT_EQ(test::ReadTree(dir / "p"), test::ReadTree(dir / "out"));
        EXPECT_EQ(files.size(), expanded.size());
        for (const auto& [name, bytes] : files) {
            EXPECT_EQ(1500000000, test::Modified(dir / ("out/" + name))) << name;
        }
    }
}

TEST(Cabinet, RefusesUnsafeMemberNamesBeforeWritingAnything) {
    const std::u16string names[] = {
        u"..\\evil.txt",  u"a\\..\\..\\up.txt",          u"\\rooted.txt",
        u"C:\\drive.txt", u"\\\\server\\share\\unc.txt", u"a/../b.txt"};
    for (const std::u16string& name : names) {
        ScratchFolder dir;
        test::WriteFile(dir / "first.txt", "written first if anything were");
        test::WriteFile(dir / "bad.txt", "bad");
        std::vector<CabinetMember> members(2);
        members[0] = CabinetMember{dir / "first.txt", u"first.txt", 30, 1500000000};
        members[1] = CabinetMember{dir / "bad.txt", name, 3, 1500000000};
        const std::string cabinet = MakeCabinet(dir, members);
        ASSERT_TRUE(MakeDirectories(dir / "x/out").Ok());

        std::vector<ExpandedFile> expanded;
        const Status status = ExpandCabinet(cabinet, dir / "x/out", expanded);
        EXPECT_FALSE(status.Ok());
        EXPECT_NE(std::string::npos, status.Message().find("refused"));
        EXPECT_TRUE(test::ListFolder(dir / "x/out").empty());
        EXPECT_EQ(std::vector<std::string>{"out"}, test::ListFolder(dir / "x"));
    }
}

TEST(Cabinet, DecodesUnflaggedNamesInTheWindowsCodePage) {
    ScratchFolder dir;
    test::WriteFile(dir / "in.txt", "x");
    // Written as "caf_.txt" and patched to 0xE9 ('e' acute in Windows-1252)
    // with the UTF-8 flag cleared.
    const std::vector<CabinetMember> members{{dir / "in.txt", u"caf_.txt", 1, 1500000000}};
    Bytes cabinet = test::ReadFile(MakeCabinet(dir, members));
    const std::size_t at = std::string(cabinet.begin(), cabinet.end()).find("caf_.txt");
    ASSERT_NE(std::string::npos, at);
    cabinet[at + 3] = 0xE9;
    cabinet[at - 2] = 0x20;  // low byte of the attributes: archive, no UTF-8 flag
    test::WriteFile(dir / "patched.cab", cabinet);

    ASSERT_TRUE(MakeDirectories(dir / "out").Ok());
    std::vector<ExpandedFile> expanded;
    const Status status = ExpandCabinet(dir / "patched.cab", dir / "out", expanded);
    ASSERT_TRUE(status.Ok()) << status.Message();
    EXPECT_EQ(std::vector<std::string>{"caf\xC3\xA9.txt"}, test::ListFolder(dir / "out"));
}

TEST(Cabinet, RefusesPayloadsWindowsCannotHold) {
    const struct {
        std::vector<std::string> files;
        const char* message;
    } cases[] = {
        {{"A.txt", "a.txt"}, "name the same file on Windows"},
        {{"Docs/x.txt", "docs"}, "name the same file on Windows"},
        {{"back\\slash.txt"}, "not allowed"},
        {{"colon:name.txt"}, "not allowed"},
        {{"trailing."}, "trailing dot"},
        {{"sub/nul.txt"}, "device name"},
        {{"bad\xFF.txt"}, "not UTF-8"},
        {{std::string(200, 'a') + "/" + std::string(60, 'b')}, "longer than the 255 bytes"},
    };
    for (const auto& c : cases) {
        ScratchFolder dir;
        for (const std::string& f : c.files) test::WriteFile(dir / ("p/" + f), "x");
        std::vector<CabinetMember> members;
        const Status status = CollectPayload(dir / "p", std::nullopt, members);
        EXPECT_FALSE(status.Ok()) << c.files[0];
        EXPECT_NE(std::string::npos, status.Message().find(c.message)) << status.Message();
    }

    // Sparse files: only their sizes are looked at.
    ScratchFolder big;
    test::WriteFile(big / "p/a.bin", Bytes());
    test::WriteFile(big / "p/b.bin", Bytes());
    ASSERT_EQ(0, ::truncate((big / "p/a.bin").c_str(), kMaxFolderBytes / 2 + 1));
    ASSERT_EQ(0, ::truncate((big / "p/b.bin").c_str(), kMaxFolderBytes / 2 + 1));
    std::vector<CabinetMember> none;
    EXPECT_NE(std::string::npos, CollectPayload(big / "p", std::nullopt, none)
                                     .Message()
                                     .find("a cabinet holds at most 2147450880"));
    ASSERT_EQ(0, ::truncate((big / "p/b.bin").c_str(), kMaxFolderBytes / 2 - 1));
    EXPECT_TRUE(CollectPayload(big / "p", std::nullopt, none).Ok());

    ScratchFolder dir;
    test::WriteFile(dir / "p/file.txt", "x");
    test::WriteFile(dir / "elsewhere/y.txt", "y");
    ASSERT_EQ(0, ::symlink((dir / "elsewhere").c_str(), (dir / "p/linked").c_str()));
    std::vector<CabinetMember> members;
    EXPECT_NE(std::string::npos,
              CollectPayload(dir / "p", std::nullopt, members).Message().find("link to a folder"));
}

}  // namespace
}  // namespace quarry::pack
