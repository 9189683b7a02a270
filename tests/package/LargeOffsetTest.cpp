// Sizes and offsets beyond 4 GiB, read through a source that makes up a
// program file of 12 GiB without holding it. The 32-bit build runs these
// too: a position cut to a 32-bit size_t anywhere on the way reads the wrong
// bytes or the wrong records.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "package/PackageFormat.h"
#include "package/PackagedCabinet.h"

namespace quarry {
namespace {

constexpr std::uint64_t kGiB = 1ull << 30;

// `size` bytes, holding the given blocks at their absolute positions and
// elsewhere a byte that depends on all eight bytes of its position.
class SparseSource : public ByteSource {
public:
    explicit SparseSource(std::uint64_t size) : size_(size) {}
    void Put(std::uint64_t at, std::vector<std::uint8_t> bytes) { blocks_[at] = std::move(bytes); }
    static std::uint8_t Filler(std::uint64_t at) {
        std::uint8_t folded = 0;
        for (int i = 0; i < 8; ++i) folded ^= static_cast<std::uint8_t>(at >> (8 * i));
        return static_cast<std::uint8_t>(folded + 0x5A);
    }
    bool Read(void* buffer, std::size_t length) override {
        if (position_ > size_ || length > size_ - position_) return false;
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (std::size_t i = 0; i < length; ++i) out[i] = ByteAt(position_ + i);
        position_ += length;
        return true;
    }
    bool Seek(std::uint64_t position) override {
        if (position > size_) return false;
        position_ = position;
        return true;
    }
    std::uint64_t Position() const override { return position_; }

private:
    std::uint8_t ByteAt(std::uint64_t at) const {
        auto block = blocks_.upper_bound(at);
        if (block != blocks_.begin()) {
            --block;
            if (at - block->first < block->second.size()) return block->second[at - block->first];
        }
        return Filler(at);
    }
    std::uint64_t size_;
    std::uint64_t position_ = 0;
    std::map<std::uint64_t, std::vector<std::uint8_t>> blocks_;
};

PackageEntry Entry(const std::u16string& name, std::uint64_t size) {
    PackageEntry entry;
    entry.name = name;
    entry.size = size;
    return entry;
}

std::vector<std::uint8_t> OffsetField(std::uint64_t offset) {
    std::vector<std::uint8_t> field;
    AppendLE64(field, offset);
    return field;
}

TEST(LargeOffsets, DirectoryBeyondFourGiBGivesEntriesTheirFullOffsets) {
    // The package starts at 5 GiB + 3; three entries of almost 4 GiB each
    // carry the running offset past 8 and 12 GiB.
    const std::uint64_t packageOffset = 5 * kGiB + 3;
    PackageDirectory written;
    written.time1 = 1;
    PackageGroup group;
    group.name = kMainGroupName;
    group.entries = {Entry(u"a.bin", 0xFFFFFFF0u), Entry(u"b.bin", 0xFFFFFFFFu),
                     Entry(kCabinetEntryName, 7)};
    group.entryCount = 3;
    written.groups.push_back(group);
    std::vector<std::uint8_t> records;
    ASSERT_EQ(kResultOk, WriteDirectory(written, records));
    const std::uint64_t dataStart = packageOffset + records.size();
    const std::uint64_t fileSize = dataStart + 0xFFFFFFF0ull + 0xFFFFFFFFull + 7;
    ASSERT_GT(fileSize, 12 * kGiB);

    SparseSource source(fileSize);
    source.Put(kPackageOffsetPosition, OffsetField(packageOffset));
    source.Put(packageOffset, records);
    std::uint64_t readOffset = 0;
    PackageHeader header;
    ASSERT_EQ(kResultOk, ReadHeader(source, readOffset, header));
    EXPECT_EQ(packageOffset, readOffset);
    PackageDirectory read;
    std::uint64_t readDataStart = 0;
    ASSERT_EQ(kResultOk, ReadDirectory(source, header, read, readDataStart));
    EXPECT_EQ(dataStart, readDataStart);
    ASSERT_EQ(3u, read.groups[0].entries.size());
    const std::uint64_t expected[] = {dataStart, dataStart + 0xFFFFFFF0ull,
                                      dataStart + 0xFFFFFFF0ull + 0xFFFFFFFFull};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(expected[i], read.groups[0].entries[i].offset) << i;
        EXPECT_EQ(written.groups[0].entries[i].size, read.groups[0].entries[i].size) << i;
    }
}

TEST(LargeOffsets, PackageOffsetPastTheFileOrNegativeIsRefused) {
    const std::uint64_t offsets[] = {13 * kGiB, std::uint64_t{1} << 63, 4 * kGiB + 1};
    for (const std::uint64_t offset : offsets) {
        SparseSource source(4 * kGiB + 10);  // 4 GiB + 1 leaves no room for the header
        source.Put(kPackageOffsetPosition, OffsetField(offset));
        std::uint64_t readOffset = 1;
        PackageHeader header;
        EXPECT_EQ(kResultPackageUnreadable, ReadHeader(source, readOffset, header)) << offset;
        EXPECT_EQ(0u, readOffset);
    }
}

TEST(LargeOffsets, PackagedCabinetBeyondFourGiBIsReadFromItsOwnBytes) {
    // A cabinet of 1 MiB at 9 GiB + 5 of a 10 GiB file: every view reads
    // the complement of the bytes at offset + position, nothing else.
    const std::uint64_t offset = 9 * kGiB + 5;
    const std::uint64_t size = 1u << 20;
    SparseSource source(10 * kGiB);
    std::uint64_t heard = 0;
    PackagedCabinetViews views;
    views.Reset({&source, offset, size, [&](std::uint64_t fresh) { heard += fresh; }});

    const int first = views.Open();
    const int second = views.Open();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    ASSERT_NE(first, second);
    struct Step {
        int slot;
        std::int64_t distance;
        int origin;
        std::int64_t expectedPosition;
    };
    const Step steps[] = {
        {first, 0, SEEK_SET, 0},
        {second, -16, SEEK_END, static_cast<std::int64_t>(size) - 16},
        {first, 4096, SEEK_CUR, 64 + 4096},
        {second, 0x7FFFFFFF, SEEK_SET, 0x7FFFFFFF},
    };
    for (const Step& step : steps) {
        ASSERT_EQ(step.expectedPosition, views.Seek(step.slot, step.distance, step.origin));
        std::uint8_t bytes[64];
        const std::int64_t count = views.Read(step.slot, bytes, sizeof bytes);
        const std::uint64_t position = static_cast<std::uint64_t>(step.expectedPosition);
        const std::uint64_t left = position >= size ? 0 : size - position;
        ASSERT_EQ(static_cast<std::int64_t>(left < sizeof bytes ? left : sizeof bytes), count);
        for (std::int64_t i = 0; i < count; ++i) {
            EXPECT_EQ(static_cast<std::uint8_t>(~SparseSource::Filler(offset + position + i)),
                      bytes[i])
                << "at " << position + i;
        }
    }
    // Progress hears each byte once, however the views overlap.
    EXPECT_EQ(size, heard);
}

TEST(LargeOffsets, PackagedCabinetViewsRefuseWhatTheLibraryCannotAddress) {
    SparseSource source(6 * kGiB);
    PackagedCabinetViews views;
    views.Reset({&source, 5 * kGiB, 100, nullptr});
    for (int i = 0; i < PackagedCabinetViews::kMaxViews; ++i) ASSERT_EQ(i, views.Open());
    EXPECT_EQ(-1, views.Open());
    views.Close(2);
    EXPECT_EQ(2, views.Open());

    EXPECT_EQ(-1, views.Seek(0, -1, SEEK_SET));
    EXPECT_EQ(-1, views.Seek(0, 0x80000000ll, SEEK_SET));
    EXPECT_EQ(-1, views.Seek(0, 0, 7));
    std::uint8_t byte = 0;
    EXPECT_EQ(-1, views.Read(PackagedCabinetViews::kMaxViews, &byte, 1));
    views.Close(1);
    EXPECT_EQ(-1, views.Read(1, &byte, 1));
    // A cabinet that runs past the end of the file: the read fails.
    views.Reset({&source, 6 * kGiB - 10, 100, nullptr});
    const int slot = views.Open();
    std::uint8_t bytes[20];
    EXPECT_EQ(-1, views.Read(slot, bytes, sizeof bytes));
}

}  // namespace
}  // namespace quarry
