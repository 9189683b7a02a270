// The LZX encoder against an independent decoder: each stream is put in a
// one-folder cabinet in memory and expanded by libmspack's cabinet
// decompressor, which hands it over frame by frame as the data blocks hold
// them.
#include <gtest/gtest.h>
#include <mspack.h>

#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "package/LzxEncoder.h"

namespace quarry {
namespace {

// Files by name in memory, for libmspack's I/O callbacks.
struct MemoryFile {
    std::vector<std::uint8_t>* data;
    std::size_t at;
};
std::map<std::string, std::vector<std::uint8_t>> gFiles;

mspack_file* MemOpen(mspack_system*, const char* name, int mode) {
    auto& data = gFiles[name];
    if (mode == MSPACK_SYS_OPEN_WRITE) data.clear();
    return reinterpret_cast<mspack_file*>(new MemoryFile{&data, 0});
}
void MemClose(mspack_file* file) { delete reinterpret_cast<MemoryFile*>(file); }
int MemRead(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<MemoryFile*>(file);
    const std::size_t n = std::min<std::size_t>(bytes, f->data->size() - std::min(f->at, f->data->size()));
    std::memcpy(buffer, f->data->data() + f->at, n);
    f->at += n;
    return static_cast<int>(n);
}
int MemWrite(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<MemoryFile*>(file);
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    f->data->insert(f->data->end(), p, p + bytes);
    return bytes;
}
int MemSeek(mspack_file* file, off_t offset, int mode) {
    auto* f = reinterpret_cast<MemoryFile*>(file);
    const off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                       : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(f->at)
                                                     : static_cast<off_t>(f->data->size());
    if (base + offset < 0 || base + offset > static_cast<off_t>(f->data->size())) return -1;
    f->at = static_cast<std::size_t>(base + offset);
    return 0;
}
off_t MemTell(mspack_file* file) { return static_cast<off_t>(reinterpret_cast<MemoryFile*>(file)->at); }
void MemMessage(mspack_file*, const char*, ...) {}
void* MemAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void MemFree(void* p) { std::free(p); }
void MemCopy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }
mspack_system gMemorySystem = {MemOpen, MemClose, MemRead, MemWrite, MemSeek, MemTell,
                               MemMessage, MemAlloc, MemFree, MemCopy, nullptr};

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A cabinet of one LZX folder holding one file "f" of `size` bytes.
std::vector<std::uint8_t> OneFileCabinet(const LzxStream& stream, std::size_t size, unsigned windowBits) {
    std::vector<std::uint8_t> cab{'M', 'S', 'C', 'F'};
    Put32(cab, 0);
    const std::size_t sizeAt = cab.size();
    Put32(cab, 0);
    Put32(cab, 0);
    Put32(cab, 36 + 8);  // the file record follows the folder record
    Put32(cab, 0);
    cab.push_back(3);
    cab.push_back(1);
    Put16(cab, 1);  // folders
    Put16(cab, 1);  // files
    Put16(cab, 0);
    Put16(cab, 0);
    Put16(cab, 0);
    const std::uint32_t dataAt = 36 + 8 + 16 + 2;
    Put32(cab, dataAt);
    Put16(cab, static_cast<unsigned>(stream.frameEnds.size()));
    Put16(cab, LzxCabinetType(windowBits));
    Put32(cab, static_cast<std::uint32_t>(size));
    Put32(cab, 0);
    Put16(cab, 0);
    Put16(cab, 0x21);
    Put16(cab, 0);
    Put16(cab, 0x20);
    cab.push_back('f');
    cab.push_back(0);
    std::size_t from = 0;
    std::size_t left = size;
    for (std::size_t end : stream.frameEnds) {
        Put32(cab, 0);  // no checksum
        Put16(cab, static_cast<unsigned>(end - from));
        const std::size_t frame = std::min(left, kLzxFrameSize);
        Put16(cab, static_cast<unsigned>(frame));
        cab.insert(cab.end(), stream.bytes.begin() + from, stream.bytes.begin() + end);
        left -= frame;
        from = end;
    }
    const auto total = static_cast<std::uint32_t>(cab.size());
    for (int i = 0; i < 4; ++i) cab[sizeAt + i] = static_cast<std::uint8_t>(total >> (8 * i));
    return cab;
}

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
    gFiles["in.cab"] = OneFileCabinet(stream, input.size(), windowBits);
    mscab_decompressor* cab = mspack_create_cab_decompressor(&gMemorySystem);
    ASSERT_NE(cab, nullptr);
    mscabd_cabinet* opened = cab->open(cab, "in.cab");
    ASSERT_NE(opened, nullptr) << cab->last_error(cab);
    ASSERT_EQ(opened->files->folder->comp_type, LzxCabinetType(windowBits));
    const int error = cab->extract(cab, opened->files, "out");
    cab->close(cab, opened);
    mspack_destroy_cab_decompressor(cab);
    ASSERT_EQ(error, MSPACK_ERR_OK);
    const std::vector<std::uint8_t>& output = gFiles["out"];
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
