// A cabinet that is not a file of its own but a region of the open package
// file, stored with every byte complemented, and the views through which the
// cabinet library reads it. Pure code: positions are 64-bit throughout, so a
// cabinet that lies beyond 4 GiB of the program file is read from the right
// place by the 32-bit build as well.
#pragma once

#include <cstdint>
#include <functional>

#include "package/PackageFormat.h"

namespace quarry {

// `size` bytes from `offset` of `source`. `onRead` (may be empty) hears of
// every byte the expansion reads for the first time, in order, so that
// progress follows the expansion.
struct PackagedCabinet {
    ByteSource* source = nullptr;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::function<void(std::uint64_t)> onRead;
};

// Up to kMaxViews open views of one packaged cabinet, each with its own
// position, as the cabinet library's open, read, seek and close callbacks
// use them. A view is named by its slot, 0 to kMaxViews - 1.
class PackagedCabinetViews {
public:
    static constexpr int kMaxViews = 4;

    // Forgets every view and serves `cabinet` from now on.
    void Reset(PackagedCabinet cabinet);
    bool HasCabinet() const { return cabinet_.source != nullptr; }

    // A free slot at position 0, or -1 when all are open.
    int Open();
    bool IsOpen(int slot) const { return slot >= 0 && slot < kMaxViews && open_[slot]; }
    void Close(int slot);

    // Reads up to `length` bytes at the view's position, complemented back to
    // the cabinet's own bytes. Returns the count (0 at the end of the
    // cabinet), or -1 when the package could not be read.
    std::int64_t Read(int slot, void* buffer, std::uint32_t length);

    // Moves the view: `origin` is SEEK_SET, SEEK_CUR or SEEK_END. The cabinet
    // library speaks in 32-bit longs, so the target must lie in 0 to
    // 0x7FFFFFFF (a cabinet is below 2 GiB). Returns the new position or -1.
    std::int64_t Seek(int slot, std::int64_t distance, int origin);

private:
    PackagedCabinet cabinet_;
    std::uint64_t position_[kMaxViews] = {};
    bool open_[kMaxViews] = {};
    std::uint64_t readEnd_ = 0;  // how far any read reached so far
};

}  // namespace quarry
