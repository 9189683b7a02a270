// Program files with a package behind them, built in memory for the tests
// of the package reader and of extraction.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/WinTestSupport.h"
#include "package/CabinetExtract.h"
#include "package/PackageFormat.h"

namespace quarry {
namespace testing {


// Reproducible bytes that differ with the seed.
inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

// Each byte complemented, as the payload cabinet is stored.
inline std::vector<std::uint8_t> Complemented(std::vector<std::uint8_t> bytes) {
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(~b);
    return bytes;
}

// Writes a program file: a 512-byte image stand-in with the package offset
// at byte 32, then the package with the given groups and entry contents.
struct PackageBuilder {
    PackageDirectory directory;
    std::vector<std::vector<std::uint8_t>> contents;  // in directory order

    PackageBuilder() {
        directory.time1 = 0x01DB123456789ABCull;
        directory.time2 = 2;
        directory.flags = 1;
    }
    PackageBuilder& AddGroup(const std::u16string& name) {
        PackageGroup group;
        group.name = name;
        directory.groups.push_back(group);
        return *this;
    }
    PackageBuilder& Add(const std::u16string& name, std::vector<std::uint8_t> bytes,
                        std::uint64_t lastWriteTime = 0) {
        PackageEntry entry;
        entry.name = name;
        entry.size = bytes.size();
        entry.lastWriteTime = lastWriteTime;
        PackageGroup& group = directory.groups.back();
        group.entries.push_back(entry);
        group.entryCount = static_cast<std::uint32_t>(group.entries.size());
        contents.push_back(std::move(bytes));
        return *this;
    }
    std::vector<std::uint8_t> Image() const {
        std::vector<std::uint8_t> image(512, 0x90);
        image[0] = 'M';
        image[1] = 'Z';
        const std::uint64_t offset = image.size();
        for (int i = 0; i < 8; ++i) image[32 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
        std::vector<std::uint8_t> records;
        EXPECT_EQ(kResultOk, WriteDirectory(directory, records));
        image.insert(image.end(), records.begin(), records.end());
        for (const auto& bytes : contents) image.insert(image.end(), bytes.begin(), bytes.end());
        // Whatever follows the data (a certificate table, say) is ignored.
        image.insert(image.end(), 16, 0xEE);
        return image;
    }
    std::u16string Write(const ScratchFolder& folder) const {
        const std::u16string path = folder / u"program.exe";
        EXPECT_TRUE(WriteBytes(path, Image()));
        return path;
    }
};

// The extraction slot taken, and a scratch folder with the "Support\" and
// "Package\" folders a run extracts into.
class ExtractionFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kResultOk, InitializeExtractionSlot());
        support = folder / u"Support\\";
        destination = folder / u"Package\\";
        ASSERT_TRUE(::CreateDirectoryW(Wide(support), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(Wide(destination), nullptr));
    }

    ScratchFolder folder;
    std::u16string support;
    std::u16string destination;
};

}  // namespace testing
}  // namespace quarry
