// Compresses arbitrary bytes with the LZX encoder and expands the stream
// with libmspack: whatever the input, the stream must expand to it. The
// first byte picks the window (2^15 to 2^21) and the match finder's depth;
// the rest is the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "package/LzxEncoder.h"
#include "package/MspackLzx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarry;
    if (size == 0) return 0;
    LzxSettings settings;
    settings.windowBits = kLzxMinWindowBits + data[0] % 7;
    settings.treeDepth = 1 + (data[0] >> 3) % 32;
    settings.niceLength = data[0] & 0x80 ? 3 : 257;
    LzxStream stream;
    LzxCompress(data + 1, size - 1, settings, stream);
    if (size == 1) {
        if (!stream.bytes.empty() || !stream.frameEnds.empty()) std::abort();
        return 0;
    }
    std::size_t from = 0;
    for (std::size_t end : stream.frameEnds) {
        if (end - from > kLzxMaxFrameBytes || (end - from) % 2 != 0) std::abort();
        from = end;
    }
    std::vector<std::uint8_t> out;
    std::string error;
    if (!testing::ExpandWithLibmspack(stream, size - 1, settings.windowBits, out, error)) std::abort();
    if (out != std::vector<std::uint8_t>(data + 1, data + size)) std::abort();
    return 0;
}
