// The LZX encoder against an independent decoder, libmspack's.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "package/LzxEncoder.h"
#include "package/MspackLzx.h"

namespace quarry {
namespace {

// Compresses `input`, checks the frames, and expands it through libmspack.
void ExpectRoundTrip(const std::vector<std::uint8_t>& input, unsigned windowBits, LzxStream& stream) {
    LzxSettings settings;
    settings.windowBits = windowBits;
    LzxCompress(input.data(), input.size(), settings, stream);
    ASSERT_EQ(stream.frameEnds.size(), (input.size() + kLzxFrameSize - 1) / kLzxFrameSize);
    std::size_t from = 0;
    for (std::size_t end : stream.frameEnds) {
        ASSERT_LE(end - from, kLzxMaxFrameBytes);
        ASSERT_EQ((end - from) % 2, 0u) << "frames end on a 16-bit boundary";
        from = end;
    }
    if (input.empty()) {
        EXPECT_TRUE(stream.bytes.empty());
        return;
    }
    std::vector<std::uint8_t> output;
    std::string error;
    ASSERT_TRUE(testing::ExpandWithLibmspack(stream, input.size(), windowBits, output, error)) << error;
    ASSERT_EQ(output.size(), input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        ASSERT_EQ(output[i], input[i]) << "first difference at byte " << i;
    }
}

std::vector<std::uint8_t> Text(std::size_t size, unsigned seed) {
    static const char* const kWords[] = {"cabinet ", "folder ", "frame ", "block ", "window ",
                                         "match ", "offset ", "length ", "tree ", "\r\n"};
    std::mt19937 random(seed);
    std::vector<std::uint8_t> out;
    while (out.size() < size) {
        const char* word = kWords[random() % 10];
        out.insert(out.end(), word, word + std::strlen(word));
    }
    out.resize(size);
    return out;
}

std::vector<std::uint8_t> Noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

// CALL instructions (E8 and a 32-bit operand) among noise, also within the
// last ten bytes of frames, where decoders translate nothing.
std::vector<std::uint8_t> Calls(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> out = Text(size, seed);
    for (std::size_t i = 0; i + 5 <= size; i += 3 + random() % 20) {
        out[i] = 0xE8;
        const std::uint32_t target = static_cast<std::uint32_t>(random() % 4 == 0 ? random() : 4096 - i);
        for (int b = 0; b < 4; ++b) out[i + 1 + b] = static_cast<std::uint8_t>(target >> (8 * b));
    }
    return out;
}

// Records at far, 8-aligned distances whose low offset bits repeat (the
// aligned offset block's case), with runs at a few alternating distances
// (the repeated offsets).
std::vector<std::uint8_t> Records(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> pool = Noise(64 * 1024, seed);
    std::vector<std::uint8_t> out;
    while (out.size() < size) {
        const std::size_t at = (random() % (pool.size() / 64)) * 64;
        out.insert(out.end(), pool.begin() + at, pool.begin() + at + 24 + random() % 40);
        for (int i = 0; i < 3; ++i) out.push_back(static_cast<std::uint8_t>(random()));
        if (out.size() > 200 && random() % 3 == 0) {
            const std::size_t distance = random() % 2 ? 48 : 200;
            for (int i = 0; i < 16; ++i) out.push_back(out[out.size() - distance]);
        }
    }
    out.resize(size);
    return out;
}

// Text, then noise that is stored as a block of its own and ends with
// copies from 3000 and from 5000 bytes back, then a frame that begins with
// another copy from 3000 back (the second repeated offset): the stored block
// must hand on the repeated offsets of where that frame begins.
std::vector<std::uint8_t> StoredBeforeARepeat() {
    std::vector<std::uint8_t> out = Text(3 * kLzxFrameSize, 16);
    const std::vector<std::uint8_t> noise = Noise(2 * kLzxFrameSize - 80, 17);
    out.insert(out.end(), noise.begin(), noise.end());
    auto copyBack = [&out](std::size_t distance) {
        for (int i = 0; i < 40; ++i) out.push_back(out[out.size() - distance]);
    };
    copyBack(3000);
    copyBack(5000);
    copyBack(3000);
    const std::vector<std::uint8_t> text = Text(kLzxFrameSize, 18);
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

// The start of the largest DLL of Wine's x86_64 Windows libraries, when
// installed.
std::vector<std::uint8_t> WineDll(std::size_t limit) {
    const std::string folder = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/";
    std::vector<std::uint8_t> best;
    for (const char* name : {"shell32.dll", "user32.dll", "kernelbase.dll"}) {
        std::ifstream in(folder + name, std::ios::binary);
        std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
        if (data.size() > best.size()) best = std::move(data);
    }
    if (best.size() > limit) best.resize(limit);
    return best;
}

struct Case {
    const char* name;
    std::vector<std::uint8_t> input;
    unsigned windowBits;
};

TEST(LzxEncoder, RoundTripsThroughLibmspack) {
    std::vector<std::uint8_t> mixed = Text(1000000, 7);
    const std::vector<std::uint8_t> noise = Noise(500000, 8);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    const std::vector<std::uint8_t> records = Records(700000, 9);
    mixed.insert(mixed.end(), records.begin(), records.end());
    const std::vector<Case> cases = {
        {"empty", {}, 21},
        {"one byte", {0x41}, 21},
        {"one byte E8", {0xE8}, 15},
        {"frame less one", Text(32767, 1), 21},
        {"one frame", Text(32768, 2), 15},
        {"frame and one", Text(32769, 3), 21},
        {"frame and eleven calls", Calls(32768 + 11, 4), 21},
        {"calls", Calls(300000, 5), 15},
        {"calls, window 21", Calls(300000, 5), 21},
        {"noise", Noise(200001, 6), 21},
        {"records, window 15", Records(400000, 10), 15},
        {"records, window 21", Records(400000, 10), 21},
        {"mixed, several MB", mixed, 21},
        {"stored before a repeat", StoredBeforeARepeat(), 21},
        {"zeros", std::vector<std::uint8_t>(200000, 0), 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LzxStream stream;
        ExpectRoundTrip(c.input, c.windowBits, stream);
    }
}

TEST(LzxEncoder, UsesEachBlockTypeWhereItIsSmallest) {
    struct TypeCase {
        const char* name;
        std::vector<std::uint8_t> input;
        std::size_t LzxStream::*blocks;
    };
    const std::vector<TypeCase> cases = {
        {"text is verbatim", Text(200000, 11), &LzxStream::verbatimBlocks},
        {"8-aligned records are aligned", Records(400000, 12), &LzxStream::alignedBlocks},
        {"noise is stored", Noise(200000, 13), &LzxStream::uncompressedBlocks},
    };
    for (const TypeCase& c : cases) {
        SCOPED_TRACE(c.name);
        LzxStream stream;
        ExpectRoundTrip(c.input, 21, stream);
        EXPECT_GT(stream.*c.blocks, 0u);
    }
    LzxStream stream;
    ExpectRoundTrip(Noise(200000, 13), 21, stream);
    EXPECT_LE(stream.bytes.size(), 200000u + 200u) << "stored data grows by its headers only";
}

TEST(LzxEncoder, CompressesX86CodeWithCallTranslation) {
    const std::vector<std::uint8_t> dll = WineDll(1 << 20);
    if (dll.size() < 100000) GTEST_SKIP() << "no Wine x86_64 DLL installed";
    for (unsigned bits : {15u, 21u}) {
        SCOPED_TRACE(bits);
        LzxStream stream;
        ExpectRoundTrip(dll, bits, stream);
        EXPECT_LT(stream.bytes.size(), dll.size() / 2);
    }
}

}  // namespace
}  // namespace quarry
