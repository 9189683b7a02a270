// Reading one entry of a string-table block (an RT_STRING resource).
#pragma once

#include <cstddef>
#include <string>

namespace quarry {

// Number of the RT_STRING block that holds string `id` (id / 16 + 1).
constexpr unsigned StringBlockNumber(unsigned id) { return id / 16 + 1; }

// Reads string `id` from its block: `size` bytes at `block`, sixteen entries,
// each a little-endian 16-bit length followed by that many UTF-16 units and
// no terminator. Returns the entry at position id mod 16; an empty string
// when that entry's length is 0, or when the block ends before the entry does
// (a damaged block never reads past `size`).
std::u16string StringTableEntry(const void* block, std::size_t size, unsigned id);

}  // namespace quarry
