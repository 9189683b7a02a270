// A readable, seekable stream of bytes, and one over memory: the package
// directory is read through it, over a file under Windows and over memory in
// the native tests and the fuzzers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarry {

// A readable, seekable stream of bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads exactly `length` bytes; false on a short read or an error.
    virtual bool Read(void* buffer, std::size_t length) = 0;
    // Moves to an absolute position; false when the position is unreachable.
    virtual bool Seek(std::uint64_t position) = 0;
    virtual std::uint64_t Position() const = 0;
};

// A ByteSource over memory the caller keeps alive.
class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    bool Read(void* buffer, std::size_t length) override;
    bool Seek(std::uint64_t position) override;
    std::uint64_t Position() const override { return position_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::uint64_t position_ = 0;
};

}  // namespace quarry
