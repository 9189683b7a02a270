#include "package/PackageReader.h"

#include <gtest/gtest.h>

#include "common/WinTestSupport.h"
#include "package/TestPackage.h"

namespace quarry {
namespace {

using testing::PackageBuilder;
using testing::Pattern;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::Utf16WithBom;
using testing::WriteBytes;

const std::u16string kSettingsText =
    u"[Package]\r\nProductName=Reader Test\r\nTotalFileSize=1234\r\n";

class PackageReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        support = folder / u"Support\\";
        ASSERT_TRUE(::CreateDirectoryW(Wide(support), nullptr));
        buffer = AllocateCopyBuffer();
    }
    ScratchFolder folder;
    std::u16string support;
    std::unique_ptr<std::uint8_t[]> buffer;
};

TEST_F(PackageReaderTest, ReadsTheHeaderAloneAndReportsUnreadableOrMissingFiles) {
    PackageBuilder builder;
    builder.AddGroup(kMainGroupName).Add(kSettingsEntryName, Utf16WithBom(kSettingsText));
    const std::u16string path = builder.Write(folder);
    std::uint64_t time1 = 0, time2 = 0, flags = 0;
    EXPECT_EQ(kResultOk, ReadPackageHeader(path, time1, time2, flags));
    EXPECT_EQ(builder.directory.time1, time1);
    EXPECT_EQ(2u, time2);
    EXPECT_EQ(1u, flags);

    std::vector<std::uint8_t> plain(4096, 0);
    plain[0] = 'M';
    plain[1] = 'Z';
    ASSERT_TRUE(WriteBytes(folder / u"plain.exe", plain));
    EXPECT_EQ(kResultPackageUnreadable, ReadPackageHeader(folder / u"plain.exe", time1, time2, flags));
    EXPECT_EQ(0u, time1);
    EXPECT_EQ(kResultFail, ReadPackageHeader(folder / u"missing.exe", time1, time2, flags));
}

TEST_F(PackageReaderTest, CopiesEntriesOfEveryGroupWithAbsoluteOffsets) {
    PackageBuilder builder;
    builder.AddGroup(kMainGroupName)
        .Add(kSettingsEntryName, Utf16WithBom(kSettingsText))
        .Add(u"MessageInfo.xml", Pattern(300, 1));
    builder.AddGroup(u"Drivers").Add(u"empty.bin", {}).Add(u"a.sys", Pattern(70000, 2));
    builder.AddGroup(kFlatGroupName).Add(u"setup.exe", Pattern(1000, 3));
    PackageReader reader;
    ASSERT_EQ(kResultOk, reader.Open(builder.Write(folder), support));
    ASSERT_EQ(3u, reader.Directory().groups.size());

    std::size_t index = 0;
    for (const PackageGroup& group : reader.Directory().groups) {
        for (const PackageEntry& entry : group.entries) {
            const std::u16string target = folder / entry.name;
            ASSERT_EQ(kResultOk, reader.CopyEntryToFile(entry, target, false, false, buffer.get()));
            EXPECT_EQ(builder.contents[index], ReadBytes(target)) << index;
            ++index;
        }
    }
    // The zero-size entry produced an empty file.
    EXPECT_TRUE(testing::LastWriteTime(folder / u"empty.bin") != 0);
    EXPECT_TRUE(ReadBytes(folder / u"empty.bin").empty());
}

TEST_F(PackageReaderTest, CopiesAtTheFiveMebibyteChunkBoundaryWithUnscrambling) {
    const std::size_t sizes[] = {kCopyBufferSize - 1, kCopyBufferSize, kCopyBufferSize + 1,
                                 2 * kCopyBufferSize + 3};
    PackageBuilder builder;
    builder.AddGroup(kFlatGroupName);
    for (std::size_t i = 0; i < 4; ++i) {
        builder.Add(u"part" + testing::Utf16(std::to_string(i)), Pattern(sizes[i], 10 + i));
    }
    PackageReader reader;
    ASSERT_EQ(kResultOk, reader.Open(builder.Write(folder), support));
    reader.SetProgress(0, 100);
    std::uint64_t expectedDone = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const PackageEntry& entry = reader.Directory().groups[0].entries[i];
        const std::u16string target = folder / (u"out" + testing::Utf16(std::to_string(i)));
        ASSERT_EQ(kResultOk, reader.CopyEntryToFile(entry, target, true, true, buffer.get()));
        std::vector<std::uint8_t> expected = builder.contents[i];
        for (std::uint8_t& b : expected) b = static_cast<std::uint8_t>(~b);
        EXPECT_TRUE(expected == ReadBytes(target)) << "size " << sizes[i];
        expectedDone += sizes[i];
        std::uint64_t done = 0, total = 0;
        reader.GetProgress(done, total);
        EXPECT_EQ(expectedDone, done);
        EXPECT_EQ(100u, total);
    }
}

TEST_F(PackageReaderTest, AppliesLastWriteTimeOnlyWhenBothHalvesAreSet) {
    const std::uint64_t stamp = 0x01D0A1B2C3D4E5F6ull;  // 2015
    PackageBuilder builder;
    builder.AddGroup(kFlatGroupName)
        .Add(u"both.txt", Pattern(10, 1), stamp)
        .Add(u"low.txt", Pattern(10, 2), stamp & 0xFFFFFFFFull)
        .Add(u"high.txt", Pattern(10, 3), stamp & 0xFFFFFFFF00000000ull);
    PackageReader reader;
    ASSERT_EQ(kResultOk, reader.Open(builder.Write(folder), support));
    const std::uint64_t before = testing::NowFileTime() - 10ull * 10000000ull;
    for (const PackageEntry& entry : reader.Directory().groups[0].entries) {
        ASSERT_EQ(kResultOk, reader.CopyEntryToFile(entry, folder / entry.name, false, false,
                                                    buffer.get()));
    }
    EXPECT_EQ(stamp, testing::LastWriteTime(folder / u"both.txt"));
    EXPECT_GE(testing::LastWriteTime(folder / u"low.txt"), before);
    EXPECT_GE(testing::LastWriteTime(folder / u"high.txt"), before);
}

TEST_F(PackageReaderTest, ReportsShortReadsAndTargetsThatCannotBeCreated) {
    PackageBuilder builder;
    builder.AddGroup(kFlatGroupName).Add(u"big.bin", Pattern(kCopyBufferSize + 500, 4));
    std::vector<std::uint8_t> image = builder.Image();
    image.resize(image.size() - 16 - 200);  // cut into the second chunk
    ASSERT_TRUE(WriteBytes(folder / u"cut.exe", image));
    PackageReader reader;
    ASSERT_EQ(kResultOk, reader.Open(folder / u"cut.exe", support));
    const PackageEntry entry = reader.Directory().groups[0].entries[0];

    EXPECT_EQ(kResultReadFault, reader.CopyEntryToFile(entry, folder / u"big.bin", false, true,
                                                       buffer.get()));
    // The first chunk was written and counted; the partial file stays.
    EXPECT_EQ(kCopyBufferSize, ReadBytes(folder / u"big.bin").size());
    std::uint64_t done = 0, total = 0;
    reader.GetProgress(done, total);
    EXPECT_EQ(kCopyBufferSize, done);

    EXPECT_EQ(kResultOpenFailed, reader.CopyEntryToFile(entry, folder / u"no\\such\\x.bin",
                                                        false, false, buffer.get()));
}

TEST_F(PackageReaderTest, LoadsSettingsFromTheMainGroupWhateverItsCase) {
    PackageBuilder builder;
    builder.AddGroup(u"Other").Add(kSettingsEntryName, Utf16WithBom(u"[Package]\r\nProductName=Wrong\r\n"));
    builder.AddGroup(u"!!!53aaed7c-68e7-413c-a5fd-d9f76477d66a")
        .Add(u"MessageInfo.xml", Pattern(20, 5))
        .Add(u"SETTINGS.INI", Utf16WithBom(kSettingsText));
    PackageReader reader;
    ASSERT_EQ(kResultOk, reader.Open(builder.Write(folder), support));
    ASSERT_EQ(kResultOk, reader.LoadSettings());
    EXPECT_EQ(u"Reader Test", reader.settings.ProductName);
    EXPECT_EQ(1234, reader.settings.TotalFileSize);
    ASSERT_EQ(1u, reader.supportFiles.size());
    EXPECT_EQ(u"Settings.ini", reader.supportFiles[0].relativePath);
    EXPECT_EQ(builder.contents[2].size(), reader.supportFiles[0].size);
    EXPECT_EQ(builder.contents[2], ReadBytes(support + u"Settings.ini"));
}

TEST_F(PackageReaderTest, MissingSettingsOrProgramFileFailsLoadSettingsWithFileNotFound) {
    PackageBuilder builder;
    builder.AddGroup(kMainGroupName).Add(u"MessageInfo.xml", Pattern(20, 5));
    PackageReader reader;
    ASSERT_EQ(kResultOk, reader.Open(builder.Write(folder), support));
    EXPECT_EQ(kResultFileNotFound, reader.LoadSettings());

    PackageReader noFile;
    EXPECT_EQ(kResultNothingRun, noFile.Open(folder / u"missing.exe", support));
    EXPECT_TRUE(noFile.Directory().groups.empty());
    EXPECT_EQ(kResultFileNotFound, noFile.LoadSettings());
}

TEST_F(PackageReaderTest, RefusesUnsafeNamesAndReopensCleanly) {
    PackageBuilder bad;
    bad.AddGroup(u"..\\..\\Windows").Add(u"evil.dll", Pattern(5, 6));
    PackageReader reader;
    EXPECT_EQ(kResultPackageUnreadable, reader.Open(bad.Write(folder), support));

    PackageBuilder good;
    good.AddGroup(kMainGroupName).Add(kSettingsEntryName, Utf16WithBom(kSettingsText));
    ASSERT_TRUE(WriteBytes(folder / u"good.exe", good.Image()));
    ASSERT_EQ(kResultOk, reader.Open(folder / u"good.exe", support));
    ASSERT_EQ(1u, reader.Directory().groups.size());
    EXPECT_EQ(kResultOk, reader.LoadSettings());
}

}  // namespace
}  // namespace quarry
