#include "package/PackagedCabinet.h"

#include <cstdio>
#include <utility>

namespace quarry {

void PackagedCabinetViews::Reset(PackagedCabinet cabinet) {
    cabinet_ = std::move(cabinet);
    for (int slot = 0; slot < kMaxViews; ++slot) {
        open_[slot] = false;
        position_[slot] = 0;
    }
    readEnd_ = 0;
}

int PackagedCabinetViews::Open() {
    for (int slot = 0; slot < kMaxViews; ++slot) {
        if (open_[slot]) continue;
        open_[slot] = true;
        position_[slot] = 0;
        return slot;
    }
    return -1;
}

void PackagedCabinetViews::Close(int slot) {
    if (IsOpen(slot)) open_[slot] = false;
}

std::int64_t PackagedCabinetViews::Read(int slot, void* buffer, std::uint32_t length) {
    if (!IsOpen(slot) || !cabinet_.source) return -1;
    std::uint64_t& position = position_[slot];
    if (position >= cabinet_.size) return 0;
    const std::uint64_t left = cabinet_.size - position;
    const std::uint32_t count = left < length ? static_cast<std::uint32_t>(left) : length;
    if (!cabinet_.source->Seek(cabinet_.offset + position) ||
        !cabinet_.source->Read(buffer, count)) {
        return -1;
    }
    UnscrambleBuffer(buffer, count);
    position += count;
    if (position > readEnd_) {
        const std::uint64_t fresh = position - readEnd_;
        readEnd_ = position;
        if (cabinet_.onRead) cabinet_.onRead(fresh);
    }
    return count;
}

std::int64_t PackagedCabinetViews::Seek(int slot, std::int64_t distance, int origin) {
    if (!IsOpen(slot)) return -1;
    std::uint64_t& position = position_[slot];
    std::int64_t base = 0;
    if (origin == SEEK_CUR) base = static_cast<std::int64_t>(position);
    else if (origin == SEEK_END) base = static_cast<std::int64_t>(cabinet_.size);
    else if (origin != SEEK_SET) return -1;
    const std::int64_t target = base + distance;
    if (target < 0 || target > 0x7FFFFFFF) return -1;
    position = static_cast<std::uint64_t>(target);
    return target;
}

}  // namespace quarry
