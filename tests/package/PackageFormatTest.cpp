#include "package/PackageFormat.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/Text.h"

namespace quarry {
namespace {

// A program image: a 64-byte stand-in for the DOS header with the package
// offset at byte 32, then `padding` bytes of image, then the package.
std::vector<std::uint8_t> BuildImage(const PackageDirectory& directory,
                                     std::size_t padding = 0) {
    std::vector<std::uint8_t> image(64 + padding, 0xCC);
    const std::uint64_t offset = image.size();
    for (int i = 0; i < 8; ++i) image[32 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    std::vector<std::uint8_t> records;
    EXPECT_EQ(kResultOk, WriteDirectory(directory, records));
    image.insert(image.end(), records.begin(), records.end());
    std::uint8_t fill = 0;
    for (const PackageGroup& group : directory.groups) {
        for (const PackageEntry& entry : group.entries) {
            for (std::uint64_t i = 0; i < entry.size; ++i) image.push_back(fill++);
        }
    }
    return image;
}

PackageEntry Entry(const std::u16string& name, std::uint64_t size, std::uint64_t time = 0) {
    PackageEntry entry;
    entry.name = name;
    entry.size = size;
    entry.lastWriteTime = time;
    return entry;
}

PackageGroup Group(const std::u16string& name, std::vector<PackageEntry> entries) {
    PackageGroup group;
    group.name = name;
    group.entryCount = static_cast<std::uint32_t>(entries.size());
    group.entries = std::move(entries);
    return group;
}

PackageDirectory SampleDirectory() {
    PackageDirectory directory;
    directory.time1 = 0x01DB000011112222ull;
    directory.time2 = 0x01DB000033334444ull;
    directory.flags = kFlagConsultSilentRegistry;
    directory.groups.push_back(Group(kMainGroupName, {Entry(kSettingsEntryName, 10, 0x0102030405060708ull),
                                                       Entry(kCabinetEntryName, 7)}));
    directory.groups.push_back(Group(u"Drivers\\Audio", {Entry(u"empty.txt", 0), Entry(u"a.sys", 5)}));
    directory.groups.push_back(Group(kFlatGroupName, {Entry(u"setup.exe", 3)}));
    return directory;
}

HResult Parse(const std::vector<std::uint8_t>& image, PackageDirectory& directory,
              std::uint64_t& dataStart) {
    MemorySource source(image.data(), image.size());
    std::uint64_t offset = 0;
    PackageHeader header;
    RETURN_IF_FAILED(ReadHeader(source, offset, header));
    return ReadDirectory(source, header, directory, dataStart);
}

TEST(PackageFormat, RoundTripKeepsEveryFieldAndRunsOffsetsAcrossGroups) {
    const PackageDirectory written = SampleDirectory();
    const std::vector<std::uint8_t> image = BuildImage(written, 100);
    PackageDirectory read;
    std::uint64_t dataStart = 0;
    ASSERT_EQ(kResultOk, Parse(image, read, dataStart));

    EXPECT_EQ(written.time1, read.time1);
    EXPECT_EQ(written.time2, read.time2);
    EXPECT_EQ(written.flags, read.flags);
    ASSERT_EQ(3u, read.groups.size());
    // Data follow the last record: image size minus the 25 data bytes.
    EXPECT_EQ(image.size() - 25, dataStart);
    const std::uint64_t expectedOffsets[] = {0, 10, 17, 17, 22};
    std::size_t index = 0;
    for (std::size_t g = 0; g < read.groups.size(); ++g) {
        EXPECT_EQ(written.groups[g].name, read.groups[g].name);
        EXPECT_EQ(written.groups[g].entries.size(), read.groups[g].entryCount);
        for (std::size_t e = 0; e < read.groups[g].entries.size(); ++e, ++index) {
            const PackageEntry& entry = read.groups[g].entries[e];
            EXPECT_EQ(written.groups[g].entries[e].name, entry.name);
            EXPECT_EQ(written.groups[g].entries[e].size, entry.size);
            EXPECT_EQ(written.groups[g].entries[e].lastWriteTime, entry.lastWriteTime);
            EXPECT_EQ(dataStart + expectedOffsets[index], entry.offset) << index;
        }
    }
    // The zero-size entry shares its offset with the entry after it, and
    // every offset addresses the bytes written for that entry.
    EXPECT_EQ(17u, image[read.groups[1].entries[1].offset]);
    EXPECT_EQ(22u, image[read.groups[2].entries[0].offset]);
}

TEST(PackageFormat, HeaderRejectsMissingOrBadOffsetAndZeroTime) {
    std::vector<std::uint8_t> image = BuildImage(SampleDirectory());
    PackageDirectory directory;
    std::uint64_t dataStart = 0;

    std::vector<std::uint8_t> noPackage = image;
    std::memset(noPackage.data() + 32, 0, 8);
    EXPECT_EQ(kResultPackageUnreadable, Parse(noPackage, directory, dataStart));

    std::vector<std::uint8_t> negative = image;
    negative[39] = 0x80;  // the offset is read as a signed value
    EXPECT_EQ(kResultPackageUnreadable, Parse(negative, directory, dataStart));

    std::vector<std::uint8_t> pastEnd = image;
    pastEnd[36] = 1;
    EXPECT_EQ(kResultPackageUnreadable, Parse(pastEnd, directory, dataStart));

    std::vector<std::uint8_t> zeroTime = image;
    std::memset(zeroTime.data() + 64, 0, 8);
    EXPECT_EQ(kResultPackageUnreadable, Parse(zeroTime, directory, dataStart));

    // A non-zero low half alone is enough for time1.
    std::vector<std::uint8_t> lowOnly = zeroTime;
    lowOnly[64] = 1;
    EXPECT_EQ(kResultOk, Parse(lowOnly, directory, dataStart));

    std::uint64_t offset = 99;
    PackageHeader header;
    header.groupCount = 7;
    MemorySource tooShort(image.data(), 20);
    EXPECT_EQ(kResultPackageUnreadable, ReadHeader(tooShort, offset, header));
    EXPECT_EQ(0u, offset);
    EXPECT_EQ(0u, header.groupCount);
}

TEST(PackageFormat, EveryTruncationOfTheDirectoryIsUnreadable) {
    const std::vector<std::uint8_t> image = BuildImage(SampleDirectory());
    PackageDirectory directory;
    std::uint64_t dataStart = 0;
    ASSERT_EQ(kResultOk, Parse(image, directory, dataStart));
    for (std::size_t length = 0; length < dataStart; ++length) {
        const std::vector<std::uint8_t> cut(image.begin(), image.begin() + length);
        EXPECT_EQ(kResultPackageUnreadable, Parse(cut, directory, dataStart)) << length;
    }
}

// Raw records, to go where the writer refuses to.
// `entryNameLength` is the declared length; at most 32,000 units follow it.
std::vector<std::uint8_t> RawImage(std::uint32_t groupNameLength, std::uint32_t entryNameLength) {
    std::vector<std::uint8_t> image(64, 0);
    image[32] = 64;
    AppendLE64(image, 1);  // time1
    AppendLE64(image, 0);
    AppendLE64(image, 0);
    AppendLE32(image, 1);
    AppendLE32(image, groupNameLength);
    AppendLE32(image, 1);
    // A folder path of 99-unit parts, so that a long group name is still
    // made of names Windows can create.
    for (std::uint32_t i = 0; i < groupNameLength; ++i) {
        image.push_back(i % 100 == 99 ? '\\' : 'g');
        image.push_back(0);
    }
    AppendLE32(image, entryNameLength);
    AppendLE32(image, 0);
    for (std::uint32_t i = 0; i < entryNameLength && i < kMaxNameLength; ++i) {
        image.push_back('e');
        image.push_back(0);
    }
    AppendLE64(image, 0);
    return image;
}

TEST(PackageFormat, NamesBelow32000UnitsOnly) {
    PackageDirectory directory;
    std::uint64_t dataStart = 0;
    EXPECT_EQ(kResultOk, Parse(RawImage(31999, 255), directory, dataStart));
    ASSERT_EQ(1u, directory.groups.size());
    EXPECT_EQ(31999u, directory.groups[0].name.size());
    EXPECT_EQ(255u, directory.groups[0].entries[0].name.size());
    // Within the format's bound, but longer than a file name can be.
    EXPECT_EQ(kResultPackageUnreadable, Parse(RawImage(1, 256), directory, dataStart));
    EXPECT_EQ(kResultPackageUnreadable, Parse(RawImage(32000, 1), directory, dataStart));
    EXPECT_EQ(kResultPackageUnreadable, Parse(RawImage(1, 32000), directory, dataStart));
    // A huge length is refused before anything is allocated for it.
    EXPECT_EQ(kResultPackageUnreadable, Parse(RawImage(1, 0xFFFFFFFFu), directory, dataStart));

    PackageDirectory tooLong = SampleDirectory();
    tooLong.groups[1].entries[0].name.assign(32000, u'x');
    std::vector<std::uint8_t> records;
    EXPECT_EQ(kResultInvalidArg, WriteDirectory(tooLong, records));
    PackageDirectory tooBig = SampleDirectory();
    tooBig.groups[1].entries[0].size = 0x100000000ull;
    EXPECT_EQ(kResultInvalidArg, WriteDirectory(tooBig, records));
}

TEST(PackageFormat, UnsafeNamesMakeThePackageUnreadable) {
    const std::u16string badEntries[] = {u"", u".", u"..", u"...", u". .", u"a\\b", u"..\\x",
                                         u"a/b", u"c:x", u"C:", u"CON", u"setup.exe.",
                                         u"a\x01", u"setup.exe:evil"};
    for (const std::u16string& name : badEntries) {
        EXPECT_FALSE(IsSafeEntryName(name));
        PackageDirectory directory = SampleDirectory();
        directory.groups[2].entries[0].name = name;
        PackageDirectory read;
        std::uint64_t dataStart = 0;
        EXPECT_EQ(kResultPackageUnreadable, Parse(BuildImage(directory), read, dataStart));
    }
    const std::u16string badGroups[] = {u"", u"\\x", u"\\\\server\\share", u"a/b", u"c:",
                                        u"C:\\Windows", u".", u"..", u"a\\..\\..\\b",
                                        u"a\\.", u"..\\a", u"a\\ .. ", u"Drivers\\NUL",
                                        u"Drivers \\x"};
    for (const std::u16string& name : badGroups) {
        EXPECT_FALSE(IsSafeGroupName(name));
        PackageDirectory directory = SampleDirectory();
        directory.groups[1].name = name;
        PackageDirectory read;
        std::uint64_t dataStart = 0;
        EXPECT_EQ(kResultPackageUnreadable, Parse(BuildImage(directory), read, dataStart));
    }
    for (const char16_t* name : {u"setup.exe", u".hidden", u"a..b", u"Ünïcödé ファイル.txt"}) {
        EXPECT_TRUE(IsSafeEntryName(name));
    }
    for (const char16_t* name : {u"Drivers", u"Drivers\\Audio", u"a..b\\c", u"Sub Folder"}) {
        EXPECT_TRUE(IsSafeGroupName(name));
    }
}

TEST(PackageFormat, NameComponentFaultsFollowWhatWindowsCreates) {
    const struct {
        std::u16string name;
        NameFault fault;
    } cases[] = {
        {u"setup.exe", NameFault::None},
        {u".hidden", NameFault::None},
        {u"a..b", NameFault::None},
        {u"CONSOLE", NameFault::None},
        {u"COM10", NameFault::None},
        {u"LPT", NameFault::None},
        {u"xNUL.txt", NameFault::None},
        {u"COM1x.txt", NameFault::None},
        {u"\u00DCn\u00EFc\u00F6d\u00E9 \u30D5\u30A1\u30A4\u30EB.txt", NameFault::None},
        {std::u16string(255, u'n'), NameFault::None},
        {u"", NameFault::Empty},
        {u".", NameFault::DotsOnly},
        {u"..", NameFault::DotsOnly},
        {u". .", NameFault::DotsOnly},
        {std::u16string(256, u'n'), NameFault::TooLong},
        {u"a\x01", NameFault::ControlCharacter},
        {u"tab\there", NameFault::ControlCharacter},
        {u"a\x7F", NameFault::ControlCharacter},
        {u"a:b", NameFault::Colon},
        {u"setup.exe:Zone.Identifier", NameFault::Colon},
        {u"C:", NameFault::Colon},
        {u"a<b", NameFault::ReservedCharacter},
        {u"a>b", NameFault::ReservedCharacter},
        {u"a\"b", NameFault::ReservedCharacter},
        {u"a|b", NameFault::ReservedCharacter},
        {u"a?b", NameFault::ReservedCharacter},
        {u"a*b", NameFault::ReservedCharacter},
        {u"a\\b", NameFault::ReservedCharacter},
        {u"a/b", NameFault::ReservedCharacter},
        {u"a.", NameFault::TrailingDotOrSpace},
        {u"a ", NameFault::TrailingDotOrSpace},
        {u"setup.exe.", NameFault::TrailingDotOrSpace},
        {u"AUX.", NameFault::TrailingDotOrSpace},
        {u"CON", NameFault::DeviceName},
        {u"con.txt", NameFault::DeviceName},
        {u"Prn.tar.gz", NameFault::DeviceName},
        {u"nul .txt", NameFault::DeviceName},
        {u"LPT1", NameFault::DeviceName},
        {u"COM9", NameFault::DeviceName},
        {u"com0.log", NameFault::DeviceName},
        {u"COM\u00B9", NameFault::DeviceName},
        {u"lpt\u00B3.txt", NameFault::DeviceName},
        {u"CONIN$", NameFault::DeviceName},
        {u"conout$.x", NameFault::DeviceName},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.fault, NameComponentFault(c.name)) << Utf16ToUtf8(c.name);
        EXPECT_EQ(c.fault == NameFault::None, IsSafeEntryName(c.name)) << Utf16ToUtf8(c.name);
    }
}

TEST(PackageFormat, RelativePathFaultsLookAtEveryPart) {
    const struct {
        std::u16string path;
        const char16_t* separators;
        NameFault fault;
    } cases[] = {
        {u"sub\\dir\\file.txt", u"\\/", NameFault::None},
        {u"a/b", u"\\/", NameFault::None},
        {u"a\\\\b\\", u"\\/", NameFault::None},
        {u"", u"\\/", NameFault::Empty},
        {u"\\abs", u"\\/", NameFault::Rooted},
        {u"/abs", u"\\/", NameFault::Rooted},
        {u"\\\\srv\\s\\x", u"\\/", NameFault::Rooted},
        {u"C:\\x", u"\\/", NameFault::Colon},
        {u"a/../x", u"\\/", NameFault::DotsOnly},
        {u"a/CON/b", u"\\/", NameFault::DeviceName},
        {u"sub\\setup.exe.", u"\\/", NameFault::TrailingDotOrSpace},
        {u"sub\\" + std::u16string(256, u'n') + u"\\x", u"\\/", NameFault::TooLong},
        {u"sub\\a\x1B[2J", u"\\/", NameFault::ControlCharacter},
        // A group name: only "\\" separates.
        {u"Drivers\\Audio", u"\\", NameFault::None},
        {u"Drivers/Audio", u"\\", NameFault::ReservedCharacter},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.fault, RelativePathFault(c.path, c.separators)) << Utf16ToUtf8(c.path);
    }
}

TEST(PackageFormat, RelativeCabinetPathsStayInside) {
    for (const char16_t* path : {u"", u"\\abs", u"/abs", u"C:\\x", u"c:x", u"\\\\srv\\s\\x",
                                 u"..\\x", u"a\\..\\..\\x", u"a/../x", u"a\\..", u"."}) {
        EXPECT_FALSE(IsSafeRelativePath(path));
    }
    for (const char16_t* path : {u"setup.exe", u"sub\\dir\\file.txt", u"a/b", u"x..y\\z"}) {
        EXPECT_TRUE(IsSafeRelativePath(path));
    }
}

TEST(PackageFormat, UnscrambleComplementsEveryByteAtAnyLengthAndAlignment) {
    std::vector<std::uint8_t> original(300);
    for (std::size_t i = 0; i < original.size(); ++i) original[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t start : {0u, 1u, 3u}) {
        for (std::size_t length : {0u, 1u, 63u, 64u, 65u, 128u, 200u, 297u}) {
            std::vector<std::uint8_t> data = original;
            UnscrambleBuffer(data.data() + start, length);
            for (std::size_t i = 0; i < data.size(); ++i) {
                const bool inside = i >= start && i < start + length;
                ASSERT_EQ(inside ? static_cast<std::uint8_t>(255 - original[i]) : original[i],
                          data[i])
                    << "start " << start << " length " << length << " byte " << i;
            }
            UnscrambleBuffer(data.data() + start, length);
            ASSERT_EQ(original, data);
        }
    }
}

}  // namespace
}  // namespace quarry
