#include "package/MspackLzx.h"

#include <mspack.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace quarry::testing {

namespace {

// Files by name in memory, for libmspack's I/O callbacks.
struct MemoryFile {
    std::vector<std::uint8_t>* data;
    std::size_t at;
};
thread_local std::map<std::string, std::vector<std::uint8_t>> gFiles;

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

}  // namespace

bool ExpandWithLibmspack(const LzxStream& stream, std::size_t size, unsigned windowBits,
                         std::vector<std::uint8_t>& out, std::string& error) {
    gFiles.clear();
    gFiles["in.cab"] = OneFileCabinet(stream, size, windowBits);
    mscab_decompressor* cab = mspack_create_cab_decompressor(&gMemorySystem);
    if (cab == nullptr) {
        error = "no decompressor";
        return false;
    }
    mscabd_cabinet* opened = cab->open(cab, "in.cab");
    int result = cab->last_error(cab);
    if (opened != nullptr) {
        if (opened->files->folder->comp_type != LzxCabinetType(windowBits)) {
            result = MSPACK_ERR_DATAFORMAT;
        } else {
            result = cab->extract(cab, opened->files, "out");
        }
        cab->close(cab, opened);
    }
    mspack_destroy_cab_decompressor(cab);
    out = gFiles["out"];
    gFiles.clear();
    if (result != MSPACK_ERR_OK) error = "libmspack error " + std::to_string(result);
    return result == MSPACK_ERR_OK;
}

}  // namespace quarry::testing
