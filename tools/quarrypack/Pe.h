// Just enough of the PE format to append a package to a program file: where
// the image's last section ends, whether the DOS header already points at a
// package, and whether the file carries a certificate table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Status.h"

namespace quarry::pack {

struct PeImage {
    std::uint64_t imageEnd = 0;         // first byte after the last section's raw data
    std::uint64_t packageOffset = 0;    // DOS header bytes 32..39
    std::uint32_t certificateSize = 0;    // size in the security data directory
    std::uint32_t certificateOffset = 0;  // its file offset
    // File offsets of the two header fields that signing changes, which the
    // Authenticode digest leaves out: the optional header's checksum and
    // the security data directory entry (0 when the header has none).
    std::uint64_t checksumPosition = 0;
    std::uint64_t securityEntryPosition = 0;
};

// Reads the layout of a program file held in memory. Errors (without the
// file's name): "not a PE program file" with the reason.
Status ReadPeImage(const std::uint8_t* data, std::size_t size, PeImage& image);

// The same from the first `size` bytes of a file of `fileSize` bytes, which
// must hold the headers and the section table.
Status ReadPeHeaders(const std::uint8_t* data, std::size_t size, std::uint64_t fileSize,
                     PeImage& image);

// Checks that a program file can take a package: a PE image with bytes 32..39
// zero and nothing stored after its last section (no certificate table, no
// debug symbols, no earlier package).
Status CheckStub(const std::uint8_t* data, std::size_t size, PeImage& image);

}  // namespace quarry::pack
