#include "Pe.h"

#include <string>

#include "package/PackageFormat.h"

namespace quarry::pack {

namespace {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kLfanewPosition = 0x3C;
constexpr std::size_t kCoffHeaderSize = 20;  // after the 4-byte signature
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kSecurityDirectory = 4;

std::uint16_t LoadLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

Status NotPe(const std::string& reason) {
    return Status::Error("not a PE program file (" + reason + ")");
}

}  // namespace

Status ReadPeImage(const std::uint8_t* data, std::size_t size, PeImage& image) {
    return ReadPeHeaders(data, size, size, image);
}

Status ReadPeHeaders(const std::uint8_t* data, std::size_t size, std::uint64_t fileSize,
                     PeImage& image) {
    image = PeImage();
    if (size < kDosHeaderSize || data[0] != 'M' || data[1] != 'Z') return NotPe("no MZ header");
    const std::uint64_t peOffset = LoadLE32(data + kLfanewPosition);
    // The PE headers must lie behind the DOS header, or writing the package
    // offset into bytes 32..39 would damage them.
    if (peOffset < kDosHeaderSize || peOffset + 4 + kCoffHeaderSize > size) {
        return NotPe("e_lfanew points outside the file");
    }
    const std::uint8_t* pe = data + peOffset;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return NotPe("no PE signature");
    const std::uint8_t* coff = pe + 4;
    const std::uint16_t sectionCount = LoadLE16(coff + 2);
    const std::uint16_t optionalSize = LoadLE16(coff + 16);
    if (sectionCount == 0) return NotPe("no sections");

    const std::uint64_t optionalOffset = peOffset + 4 + kCoffHeaderSize;
    const std::uint64_t tableOffset = optionalOffset + optionalSize;
    const std::uint64_t tableEnd = tableOffset + std::uint64_t{sectionCount} * kSectionHeaderSize;
    if (tableEnd > size) return NotPe("section table outside the file");

    // The certificate table is addressed by file offset, not RVA, and lives
    // behind the sections.
    if (optionalSize < 2) return NotPe("no optional header");
    const std::uint8_t* optional = data + optionalOffset;
    const std::uint16_t magic = LoadLE16(optional);
    std::uint64_t countPosition = 0;
    if (magic == kPe32Magic)
        countPosition = 92;
    else if (magic == kPe32PlusMagic)
        countPosition = 108;
    else
        return NotPe("unknown optional header");
    constexpr std::uint64_t kChecksumField = 64;  // the same in PE32 and PE32+
    if (kChecksumField + 4 <= optionalSize) image.checksumPosition = optionalOffset + kChecksumField;
    if (countPosition + 4 <= optionalSize) {
        const std::uint32_t directoryCount = LoadLE32(optional + countPosition);
        const std::uint64_t entry = countPosition + 4 + 8 * std::uint64_t{kSecurityDirectory};
        if (directoryCount > kSecurityDirectory && entry + 8 <= optionalSize) {
            image.certificateOffset = LoadLE32(optional + entry);
            image.certificateSize = LoadLE32(optional + entry + 4);
            image.securityEntryPosition = optionalOffset + entry;
        }
    }

    std::uint64_t end = tableEnd;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* section = data + tableOffset + std::uint64_t{i} * kSectionHeaderSize;
        const std::uint64_t rawSize = LoadLE32(section + 16);
        const std::uint64_t rawPointer = LoadLE32(section + 20);
        if (rawSize == 0) continue;
        if (rawPointer + rawSize > end) end = rawPointer + rawSize;
    }
    if (end > fileSize) return NotPe("its last section ends beyond the end of the file");
    image.imageEnd = end;
    image.packageOffset = LoadLE64(data + kPackageOffsetPosition);
    return Status();
}

Status CheckStub(const std::uint8_t* data, std::size_t size, PeImage& image) {
    RETURN_IF_ERROR(ReadPeImage(data, size, image));
    if (image.packageOffset != 0) {
        return Status::Error("already holds a package (bytes 32 to 39 are not zero)");
    }
    if (image.certificateSize != 0) {
        return Status::Error("is signed; pack the unsigned program and sign the result");
    }
    if (image.imageEnd != size) {
        return Status::Error("has " + std::to_string(size - image.imageEnd) +
                             " bytes after its last section");
    }
    return Status();
}

}  // namespace quarry::pack
