#include "common/ByteSource.h"

#include <cstring>

namespace quarry {

bool MemorySource::Read(void* buffer, std::size_t length) {
    if (position_ > size_ || length > size_ - position_) {
        position_ = size_;
        return false;
    }
    if (length != 0) std::memcpy(buffer, data_ + position_, length);
    position_ += length;
    return true;
}

bool MemorySource::Seek(std::uint64_t position) {
    if (position > size_) return false;
    position_ = position;
    return true;
}

}  // namespace quarry
