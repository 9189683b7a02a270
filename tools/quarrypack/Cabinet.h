// The payload cabinet, built and expanded with libgcab.
//
// Members are named by their path below the payload folder with "\" between
// parts, flagged as UTF-8 (attribute 0x80) when the name is not plain ASCII,
// and dated in UTC with attribute 0x100 so that the runner takes the date as
// it is instead of converting it from the packaging machine's local time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Status.h"

namespace quarry::pack {

enum class Compression { None, Mszip, Lzx };
constexpr unsigned kDefaultLzxWindowBits = 21;

// Payload bytes compressed so far of `total`, and the cabinet bytes they
// became.
using PackProgress = std::function<void(std::uint64_t done, std::uint64_t total,
                                        std::uint64_t packed)>;

// Cabinet file attributes beyond the DOS ones.
constexpr std::uint32_t kCabAttributeArchive = 0x20;
constexpr std::uint32_t kCabAttributeNameIsUtf8 = 0x80;
constexpr std::uint32_t kCabAttributeUtcTime = 0x100;

// libgcab writes one cabinet folder ("more than one added folder" is an
// error), whose data blocks of 32 KiB are counted in 16 bits; past that it
// silently wraps the count and the cabinet is damaged. So the whole payload
// must fit this many bytes.
constexpr std::uint64_t kMaxFolderBytes = 65535ull * 32768ull;
constexpr std::size_t kMaxCabinetMembers = 65535;  // the header counts files in 16 bits
constexpr std::size_t kMaxCabinetNameBytes = 255;  // a member name with its NUL fits 256

struct CabinetMember {
    std::string sourcePath;  // the file on disk
    std::u16string name;     // path inside the cabinet, "\" between parts
    std::uint64_t size = 0;
    std::int64_t time = 0;  // Unix seconds, stored as the member's date in UTC
};

// Collects every regular file below `folder` (symbolic links to files are
// followed, links to folders refused), sorted by path so that the cabinet
// does not depend on directory order. Member times are the files'
// modification times, no later than `clampSeconds` when given. Refuses names
// that are not UTF-8, that Windows cannot create, paths longer than a cabinet
// name can hold, two paths that Windows would take for the same one, more
// than kMaxFolderBytes in all and more than kMaxCabinetMembers files. Empty
// folders are left out: a cabinet only holds files.
Status CollectPayload(const std::string& folder, std::optional<std::int64_t> clampSeconds,
                      std::vector<CabinetMember>& members);

// Writes the cabinet of `members`, in order and in one cabinet folder (LZX:
// in the folders of LzxCabinet.h, with a window of 2^lzxWindowBits bytes),
// into the existing file at `cabinetPath` (replacing its content).
Status WriteCabinet(const std::vector<CabinetMember>& members, Compression compression,
                    const std::string& cabinetPath, unsigned lzxWindowBits = kDefaultLzxWindowBits,
                    const PackProgress& progress = {});

struct ExpandedFile {
    std::u16string name;  // path inside the cabinet as stored
    std::uint64_t size = 0;
};

// Expands a cabinet into `destination` (which exists), as the runner does:
// names flagged 0x80 are UTF-8, others are in the Windows-1252 code page;
// "\" and "/" separate folders, which are created as needed; each file gets
// its stored date as modification time (UTC with attribute 0x100, local time
// otherwise). Every member name is checked first with RelativePathFault: a
// cabinet with an absolute, drive, UNC or ".." name, or with a name Windows
// would not create as named, is refused before any file is written. Errors are reasons without a file name; the caller
// names the package.
Status ExpandCabinet(const std::string& cabinetPath, const std::string& destination,
                     std::vector<ExpandedFile>& files);

// One member as the cabinet's file records describe it.
struct CabinetListing {
    std::u16string name;  // decoded as the runner decodes it
    std::uint32_t size = 0;
    std::int64_t time = 0;  // Unix seconds of the stored date, read as UTC
    bool utc = false;       // attribute 0x100: the date is UTC, else local time
};

// Reads the file records of a cabinet of `size` bytes, which `read` (offset,
// buffer, length; false on a short read) delivers: only the headers are
// read, not the data. Errors are reasons without a file name.
using CabinetReader = bool (*)(void* context, std::uint64_t offset, void* buffer, std::size_t length);
Status ListCabinet(CabinetReader read, void* context, std::uint64_t size,
                   std::vector<CabinetListing>& members);

// One folder as the cabinet's folder records describe it: its compression
// ("none", "MSZIP", "Quantum", "LZX", each with its window for the latter
// two) and how many data blocks it has.
struct CabinetFolderListing {
    std::string compression;
    unsigned blocks = 0;
};
Status ListCabinetFolders(CabinetReader read, void* context, std::uint64_t size,
                          std::vector<CabinetFolderListing>& folders);

// Reads a whole cabinet of `size` bytes through `read` as an expander
// would and checks what can be checked without expanding it: the size in
// its header, every folder's data blocks lying inside the cabinet, each
// block's checksum (a checksum of 0 means none was stored, and counts as
// unchecked), and every file lying inside its folder's data. Each fault is
// one reason in `problems`. A checksum covers a block's data, so any
// changed data byte is found; the header and the file records carry none.
struct CabinetDataSummary {
    std::uint32_t blocks = 0;
    std::uint32_t uncheckedBlocks = 0;
    // Blocks and folder records the program's expansion would refuse.
    std::uint32_t damaged = 0;
};
Status CheckCabinetData(CabinetReader read, void* context, std::uint64_t size,
                        std::vector<std::string>& problems, CabinetDataSummary& summary);

// The cabinet data block checksum (the XOR of the little-endian 32-bit
// words, the last partial word taken in reverse byte order), from `seed`.
std::uint32_t CabinetChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed);

}  // namespace quarry::pack
