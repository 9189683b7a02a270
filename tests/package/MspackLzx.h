// Expands an LZX stream with libmspack's cabinet decompressor, an
// independent decoder, for the tests and the fuzzer: the stream is put in a
// one-folder cabinet in memory whose data blocks are its frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/LzxEncoder.h"

namespace quarry::testing {

// Expands `stream` (compressed from `size` bytes with a 2^windowBits
// window) into `out`; false with libmspack's reason in `error` otherwise.
bool ExpandWithLibmspack(const LzxStream& stream, std::size_t size, unsigned windowBits,
                         std::vector<std::uint8_t>& out, std::string& error);

}  // namespace quarry::testing
