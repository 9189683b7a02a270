// Length-limited canonical Huffman codes, as the cabinet LZX format (and
// Deflate) describe them: codes are handed out in order of length, then of
// symbol, and written from their most significant bit. Pure code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarry {

// Code lengths for the `count` symbols of `frequencies`, none longer than
// `maxBits` (at most 16): a symbol of frequency 0 gets length 0, unless
// fewer than two symbols are used, when symbols 0 and 1 make up the two
// that every code has (a decoder refuses a code that does not fill its
// code space). `count` is at least 2 and at most 1 << maxBits.
void BuildHuffmanLengths(const std::uint32_t* frequencies, std::size_t count, unsigned maxBits,
                         std::uint8_t* lengths);

// The canonical codes of `lengths` (0: no code).
void CanonicalHuffmanCodes(const std::uint8_t* lengths, std::size_t count, std::uint16_t* codes);

}  // namespace quarry
