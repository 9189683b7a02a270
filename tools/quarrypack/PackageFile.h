// A packed program opened for reading, as list, extract and check read it:
// the package offset, the parsed directory and the entries' data, read
// through the open descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Cabinet.h"
#include "FileIo.h"
#include "Pe.h"
#include "Status.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

// The largest Settings.ini or MessageInfo.xml create packs or check reads.
constexpr std::uint64_t kMaxSettingsSize = 16ull * 1024 * 1024;
extern const char16_t kMessageEntryName[];  // "MessageInfo.xml"

struct OpenedPackage {
    UniqueFd fd;
    std::uint64_t fileSize = 0;
    std::uint64_t offset = 0;
    std::uint64_t dataStart = 0;
    std::uint64_t dataEnd = 0;  // one past the last entry's data
    PackageDirectory directory;
};

// Opens `path` and reads its package offset and directory. A file without a
// package, or whose directory is cut short, unsafe or claims data beyond the
// end of the file, fails with a message that names the file.
Status OpenPackage(const std::string& path, OpenedPackage& package);

// The program file's PE headers, from the start of the file.
Status ReadProgramHeaders(const OpenedPackage& package, PeImage& image);

// A small entry read into memory, unscrambled when asked; an entry larger
// than `limit` bytes is refused.
Status ReadEntry(const OpenedPackage& package, const std::string& path, const PackageEntry& entry,
                 bool scrambled, std::uint64_t limit, std::vector<std::uint8_t>& bytes);

// The folders of the packed cabinet `entry`, with their compression.
Status ListPackedFolders(const OpenedPackage& package, const PackageEntry& entry,
                         std::vector<CabinetFolderListing>& folders);

// The members of the complemented cabinet `entry`, read where it lies.
Status ListPackedCabinet(const OpenedPackage& package, const PackageEntry& entry,
                         std::vector<CabinetListing>& members);

// CheckCabinetData over the complemented cabinet `entry`, read where it lies.
Status CheckPackedCabinet(const OpenedPackage& package, const PackageEntry& entry,
                          std::vector<std::string>& problems, CabinetDataSummary& summary);

}  // namespace quarry::pack
