// The LZX compressor of cabinet folders (typeCompress 3, window 2^15 to
// 2^21 bytes), whose streams the platform's cabinet decompressor (FDI)
// expands. Pure code.
//
// Matches come from binary trees over the window (keyed by their first four
// bytes) and the repeated offsets; within each frame the parse is the
// cheapest path by the bit costs of the codes, found twice, the second time
// with the costs of the first path's own symbols.
//
// The stream is cut in frames of 32 KiB of output, each the data of one
// cabinet data block: no match reaches across a frame's end, and the bits of
// each frame are padded to a 16-bit boundary, so that a decoder handed one
// data block at a time finds the frame whole. Blocks (verbatim, aligned
// offset or uncompressed, whichever is smallest) span one to four frames: a
// frame joins the block before it while one code for both is estimated
// smaller than two, so blocks follow the changing content of program files.
// The x86 CALL translation is on, with the translation size every cabinet
// tool writes, and applies to the first 1 GiB as decoders undo it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarry {

constexpr unsigned kLzxMinWindowBits = 15;
constexpr unsigned kLzxMaxWindowBits = 21;
constexpr std::size_t kLzxFrameSize = 32768;
// The largest data block a frame may need (the cabinet format's limit for
// LZX): an uncompressed block's frame plus its headers stays well below.
constexpr std::size_t kLzxMaxFrameBytes = kLzxFrameSize + 6144;

// The CFFOLDER typeCompress of an LZX folder with a window of 2^windowBits.
constexpr std::uint16_t LzxCabinetType(unsigned windowBits) {
    return static_cast<std::uint16_t>(3u | (windowBits << 8));
}

struct LzxSettings {
    unsigned windowBits = kLzxMaxWindowBits;  // kLzxMinWindowBits..kLzxMaxWindowBits
    unsigned treeDepth = 32;   // match finder tree nodes looked at per position
    unsigned niceLength = 96;  // a match this long is taken without looking further
};

// One folder's stream: frame i is bytes [frameEnds[i - 1], frameEnds[i])
// (from 0 for the first) and expands to kLzxFrameSize bytes, the last one
// to what remains.
struct LzxStream {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> frameEnds;
    // Blocks written of each type.
    std::size_t verbatimBlocks = 0;
    std::size_t alignedBlocks = 0;
    std::size_t uncompressedBlocks = 0;
};

// Compresses `data` (at most 2^31 bytes) as one folder's LZX stream,
// working in the vector it is handed. An empty input gives an empty stream
// without frames. Settings out of range are brought into it.
void LzxCompress(std::vector<std::uint8_t>&& data, const LzxSettings& settings, LzxStream& out);

// The same over a copy of `size` bytes at `data`.
void LzxCompress(const std::uint8_t* data, std::size_t size, const LzxSettings& settings,
                 LzxStream& out);

}  // namespace quarry
