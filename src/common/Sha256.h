// SHA-256 (FIPS 180-4), for the fingerprint of an extracted file: a
// same-size change of its content must not go unnoticed, even one made on
// purpose. Pure code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quarry {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t length);
    // The digest of everything given so far; the object is spent after it.
    Sha256Digest Finish();

private:
    void Compress(const std::uint8_t* block);
    std::uint32_t state_[8];
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes
};

}  // namespace quarry
