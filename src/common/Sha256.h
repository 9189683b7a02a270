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
    // Where the processor has the SHA extensions (and SSSE3 and SSE4.1 with
    // them), blocks go through those instructions, several times faster;
    // `allowExtensions` false keeps to the portable code (for tests).
    explicit Sha256(bool allowExtensions = true);
    void Update(const void* data, std::size_t length);
    // The digest of everything given so far; the object is spent after it.
    Sha256Digest Finish();

    // Whether this processor has what the faster path needs.
    static bool HasExtensions();

private:
    using CompressFn = void (*)(std::uint32_t* state, const std::uint8_t* blocks,
                                std::size_t count);
    CompressFn compress_;
    std::uint32_t state_[8];
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes
};

}  // namespace quarry
