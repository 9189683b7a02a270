#include "ui/StringTable.h"

#include <cstdint>

namespace quarry {

namespace {

std::uint16_t ReadUnit(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

}  // namespace

std::u16string StringTableEntry(const void* block, std::size_t size, unsigned id) {
    const unsigned char* bytes = static_cast<const unsigned char*>(block);
    const std::size_t units = bytes ? size / 2 : 0;
    std::size_t at = 0;
    for (unsigned entry = 0; entry < id % 16; ++entry) {
        if (at >= units) return std::u16string();
        at += 1 + ReadUnit(bytes + 2 * at);
    }
    if (at >= units) return std::u16string();
    const std::size_t length = ReadUnit(bytes + 2 * at);
    if (length > units - at - 1) return std::u16string();
    std::u16string text(length, u'\0');
    for (std::size_t k = 0; k < length; ++k) text[k] = ReadUnit(bytes + 2 * (at + 1 + k));
    return text;
}

}  // namespace quarry
