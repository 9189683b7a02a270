#include "ui/StringTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quarry {
namespace {

// A string-table block as the resource compiler lays it out.
std::vector<std::uint8_t> MakeBlock(const std::vector<std::u16string>& entries) {
    std::vector<std::uint8_t> block;
    auto put = [&block](std::uint16_t unit) {
        block.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        block.push_back(static_cast<std::uint8_t>(unit >> 8));
    };
    for (std::size_t i = 0; i < 16; ++i) {
        const std::u16string text = i < entries.size() ? entries[i] : std::u16string();
        put(static_cast<std::uint16_t>(text.size()));
        for (char16_t c : text) put(c);
    }
    return block;
}

TEST(StringTable, NumbersBlocksFromOneSixteenIdsEach) {
    EXPECT_EQ(StringBlockNumber(0), 1u);
    EXPECT_EQ(StringBlockNumber(15), 1u);
    EXPECT_EQ(StringBlockNumber(16), 2u);
    EXPECT_EQ(StringBlockNumber(128), 9u);
    EXPECT_EQ(StringBlockNumber(257), 17u);
    EXPECT_EQ(StringBlockNumber(324), 21u);
}

TEST(StringTable, ReadsTheEntryAtIdModSixteen) {
    std::vector<std::u16string> entries(16);
    entries[0] = u"first";
    entries[1] = u"\u30ad\u30e3\u30f3\u30bb\u30eb";
    entries[4] = u" ";
    entries[15] = u"last\r\n";
    const std::vector<std::uint8_t> block = MakeBlock(entries);
    EXPECT_EQ(StringTableEntry(block.data(), block.size(), 256), u"first");
    EXPECT_EQ(StringTableEntry(block.data(), block.size(), 257), u"\u30ad\u30e3\u30f3\u30bb\u30eb");
    EXPECT_EQ(StringTableEntry(block.data(), block.size(), 260), u" ");
    EXPECT_EQ(StringTableEntry(block.data(), block.size(), 271), u"last\r\n");
    // Only id mod 16 counts: the same block answers for any block number.
    EXPECT_EQ(StringTableEntry(block.data(), block.size(), 15), u"last\r\n");
}

TEST(StringTable, GivesEmptyTextForZeroLengthEntries) {
    const std::vector<std::uint8_t> block = MakeBlock({u"a", u"", u"c"});
    EXPECT_EQ(StringTableEntry(block.data(), block.size(), 1), u"");
    EXPECT_EQ(StringTableEntry(block.data(), block.size(), 2), u"c");
    EXPECT_EQ(StringTableEntry(block.data(), block.size(), 9), u"");
}

TEST(StringTable, NeverReadsPastADamagedBlock) {
    std::vector<std::uint8_t> block = MakeBlock({u"abc", u"defg"});
    // Cut inside the second entry's text, then just before its length.
    EXPECT_EQ(StringTableEntry(block.data(), 2 + 6 + 2 + 4, 1), u"");
    EXPECT_EQ(StringTableEntry(block.data(), 2 + 6 + 2 + 8, 1), u"defg");
    EXPECT_EQ(StringTableEntry(block.data(), 2 + 6, 1), u"");
    EXPECT_EQ(StringTableEntry(block.data(), 2 + 6, 0), u"abc");
    // A length far beyond the block, and an odd trailing byte.
    block[0] = 0xFF;
    block[1] = 0x7F;
    EXPECT_EQ(StringTableEntry(block.data(), block.size(), 0), u"");
    EXPECT_EQ(StringTableEntry(block.data(), 1, 0), u"");
    EXPECT_EQ(StringTableEntry(nullptr, 0, 0), u"");
}

}  // namespace
}  // namespace quarry
